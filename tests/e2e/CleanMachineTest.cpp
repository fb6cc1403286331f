// An uninstall leaves the machine as it found it: a sample product that makes
// every kind of change the native engine knows (files, folders, registry
// values of every type in both views, a shortcut, a file type, INI entries in
// a new and in an existing file, environment variables of the user and of the
// machine) is installed silently, then removed by its registered uninstall
// command; a picture of the registry and of drive C: taken before and after
// must agree. The engine cache may be moved elsewhere (OVERRIDECACHE): the
// cache is then written there and the uninstall runs from there.
#include "MachineSnapshot.h"
#include "SetupSandbox.h"

#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>

namespace qv::test {
namespace {

Stmt Var(const std::wstring& name, const std::wstring& value) { return {L"Set Variable", {name, value}}; }
Stmt Mode(bool x64) { return {L"Set 64 Bit Mode", {x64 ? L"FALSE" : L"TRUE", L"FALSE", x64 ? L"TRUE" : L"FALSE"}}; }
// Write Registry: keep code, root, key, value name, data, string flag, integer flag or type.
Stmt Reg(const std::wstring& root, const std::wstring& key, const std::wstring& name, const std::wstring& data,
         const std::wstring& type) {
  const bool isString = type == L"STRING", isInteger = type == L"INTEGER";
  return {L"Write Registry", {L"0", root, key, name, data, isString ? L"TRUE" : L"FALSE",
                              isString ? L"FALSE" : isInteger ? L"TRUE" : type}};
}

// The sample product, with names of its own so that runs never meet.
struct CleanProduct {
  SetupSandbox sandbox;
  std::wstring id, code, revision, title;
  std::wstring out = sandbox.Root() + L"out.txt";
  std::wstring target, registryKey, menu, windows, newIni, oldIni, progId, extension;
  std::wstring userVariable, machineVariable, pathVariable;
  std::wstring cacheOverride;  // OVERRIDECACHE of the setup; empty: none

  CleanProduct() {
    static std::atomic<int> counter{0};
    // Wine reuses process ids from run to run; the clock keeps names apart.
    id = std::to_wstring(GetCurrentProcessId()) + L"x" + std::to_wstring(++counter) + L"t" +
         std::to_wstring(GetTickCount64() % 1000000);
    wchar_t text[64];
    const unsigned long long n = GetTickCount64() % 0xFFFFFFFFFFull * 16 + counter;
    swprintf(text, 64, L"{C1EA0000-0000-4000-8000-%012llX}", n);
    code = text;
    swprintf(text, 64, L"{C1EAFEED-0000-4000-8000-%012llX}", n);
    revision = text;
    title = L"Clean Product " + id;
    target = ShellFolder(CSIDL_PROGRAM_FILES) + title + L"\\";
    registryKey = L"Software\\QuorvaneClean" + id;
    menu = ShellFolder(CSIDL_COMMON_PROGRAMS) + title;
    windows = ShellFolder(CSIDL_WINDOWS);
    newIni = L"qvclean" + id + L".ini";
    oldIni = L"qvold" + id + L".ini";
    progId = L"QuorvaneClean.File" + id;
    extension = L".qvc" + id;
    userVariable = L"QVCLEANUSER" + id;
    machineVariable = L"QVCLEANMACHINE" + id;
    pathVariable = L"QVCLEANPATH" + id;
    // What was there before: an INI file with a list and a section that
    // holds only a comment, a path-like variable.
    WriteWholeFile(windows + oldIni, "[Plugins]\r\nList=Core\r\n[Notes]\r\n; kept by hand\r\n");
    SetVariable(HKEY_CURRENT_USER, L"Environment", pathVariable, L"C:\\Before");
  }
  ~CleanProduct() {
    DeleteFileW((windows + oldIni).c_str());
    DeleteFileW((windows + newIni).c_str());
    RemoveTree(target);
    RemoveTree(menu);
    if (!cacheOverride.empty()) RemoveTree(cacheOverride);
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        UniqueKey software;
        if (RegOpenKeyExW(root, L"Software", 0, KEY_ALL_ACCESS | view, software.put()) == 0)
          RegDeleteTreeW(software.get(), (L"QuorvaneClean" + id).c_str());
      }
      UniqueKey classes;
      if (RegOpenKeyExW(HKEY_CLASSES_ROOT, nullptr, 0, KEY_ALL_ACCESS | view, classes.put()) == 0) {
        RegDeleteTreeW(classes.get(), progId.c_str());
        RegDeleteTreeW(classes.get(), extension.c_str());
      }
    }
    for (const auto& [root, key] : {std::pair{HKEY_CURRENT_USER, L"Environment"},
                                    std::pair{HKEY_LOCAL_MACHINE,
                                              L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"}}) {
      UniqueKey k;
      if (RegOpenKeyExW(root, key, 0, KEY_SET_VALUE, k.put()) == 0)
        for (const std::wstring* name : {&userVariable, &machineVariable, &pathVariable})
          RegDeleteValueW(k.get(), name->c_str());
    }
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      RegDeleteTreeW(root, (L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\" + code).c_str());
      RegDeleteTreeW(root, (L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + title).c_str());
      // The registration's parents go when nothing else is below them.
      for (const wchar_t* parent : {L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache", L"SOFTWARE\\Velmora\\Quorvane", L"SOFTWARE\\Velmora"})
        RegDeleteKeyW(root, parent);
    }
  }

  static void SetVariable(HKEY root, const wchar_t* key, const std::wstring& name, const std::wstring& value) {
    UniqueKey k;
    ASSERT_EQ(RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, k.put(), nullptr), 0);
    RegSetValueExW(k.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }

  std::wstring Build() {
    std::vector<Stmt> changes = {
        {L"Create Folder", {target + L"empty\\deep"}},
        {L"Install Files", {L"files", L"TRUE", target, L"FALSE", L"FALSE", L"FALSE", L"FALSE", L"", L"FALSE", L"FALSE",
                            L"FALSE", L"FALSE"}},
    };
    // Every value type, in both views, per machine and per user, under keys the write creates.
    for (bool x64 : {false, true}) {
      changes.push_back(Mode(x64));
      for (const wchar_t* root : {L"2", L"1"}) {
        const std::wstring key = registryKey + L"\\Deeper\\Settings";
        changes.push_back(Reg(root, key, L"Text", L"text", L"STRING"));
        changes.push_back(Reg(root, key, L"Number", L"4294967295", L"INTEGER"));
        changes.push_back(Reg(root, key, L"Expand", L"%TEMP%\\x", L"EXPANDSTRING"));
        changes.push_back(Reg(root, key, L"List", L"middle", L"APPEND"));
        changes.push_back(Reg(root, key, L"List", L"first", L"PREPEND"));
        changes.push_back(Reg(root, key, L"Bytes", L"00ff10", L"BINARY"));
      }
    }
    changes.push_back(Mode(false));
    const std::wstring tool = target + L"bin\\tool.dll";
    const std::wstring verbs = ToCommaText({ToCommaText({L"open", L"\"%1\"", L"", L"", L""})});
    const std::vector<Stmt> shell = {
        // Edit INI File: folder, file, operation, section, key, value.
        {L"Edit INI File", {windows, newIni, L"0", L"Settings", L"Path", target}},
        {L"Edit INI File", {windows, newIni, L"0", L"Settings", L"Mode", L"full"}},
        {L"Edit INI File", {windows, oldIni, L"0", L"Quorvane", L"Path", target}},
        {L"Edit INI File", {windows, oldIni, L"3", L"Plugins", L"List", L"Clean"}},
        {L"Edit INI File", {windows, oldIni, L"0", L"Notes", L"Added", L"1"}},
        // Set Environment: name, value, operation, position, remove at uninstall, system-wide.
        {L"Set Environment", {userVariable, L"user", L"0", L"2", L"TRUE", L"FALSE"}},
        {L"Set Environment", {machineVariable, L"machine", L"0", L"2", L"TRUE", L"TRUE"}},
        {L"Set Environment", {pathVariable, L";" + target, L"0", L"1", L"TRUE", L"FALSE"}},
        // Create Shortcut: target, name, folder, description, arguments, working folder, icon, index, window.
        {L"Create Shortcut", {tool, L"Tool", menu, L"The tool", L"", target, tool, L"0", L"0"}},
        // Create File Type: identifier, program, description, icon, index, extensions, verbs.
        {L"Create File Type", {progId, tool, L"Clean file", tool, L"0", ToCommaText({extension}), verbs}},
    };
    changes.insert(changes.end(), shell.begin(), shell.end());

    std::vector<Stmt> statements = {Var(L"NATIVE_ENGINE", L"TRUE"), Var(L"NATIVE_ERROR", L"ABORT")};
    if (!cacheOverride.empty()) statements.push_back(Var(L"OVERRIDECACHE", cacheOverride));
    const std::vector<Stmt> flow = {
        Var(L"LANGUAGE", L"French"),
        {L"If", {L"REMOVE", L"4", L"TRUE", L"FALSE"}},
        {L"Apply Changes", {L"", L"RESULT", L"FALSE", L"TRUE"}},
        {L"Write to Text File", {out, L"uninstall $RESULT$ $ENGINECACHE$", L"FALSE"}},
        {L"Else", {}},
    };
    statements.insert(statements.end(), flow.begin(), flow.end());
    const size_t filesRow = statements.size() + 1;
    statements.insert(statements.end(), changes.begin(), changes.end());
    statements.push_back({L"Apply Changes", {L"", L"RESULT", L"TRUE", L"FALSE"}});
    statements.push_back({L"Write to Text File", {out, L"install $RESULT$ $ENGINECACHE$", L"FALSE"}});
    statements.push_back({L"End", {}});
    Script script = MakeScript(statements, title);
    script.productCode = code;
    script.revisionCode = revision;
    const std::wstring header = L"F" + std::to_wstring(filesRow);
    script.headers = {std::to_wstring(filesRow), header};
    script.fileTable = {header, L"NEWHEADER", header + L"\\readme.txt", L"", header + L"\\bin\\tool.dll", L"bin"};
    const std::wstring exe = sandbox.Build(script, {{L"a.txt", "a"}}, L"product");
    CreateFolders(sandbox.Root() + L"product\\data\\" + header + L"\\bin");
    WriteWholeFile(sandbox.Root() + L"product\\data\\" + header + L"\\readme.txt", "read me");
    WriteWholeFile(sandbox.Root() + L"product\\data\\" + header + L"\\bin\\tool.dll", "MZ tool");
    return exe;
  }

  // The lines the setup wrote, then forgets them.
  std::vector<std::wstring> TakeOut() {
    std::vector<std::wstring> lines = FileExists(out) ? ReadUtf8Lines(out) : std::vector<std::wstring>{};
    DeleteFileW(out.c_str());
    return lines;
  }

  MachineSnapshot Snapshot() const { return MachineSnapshot::Take({sandbox.Root()}); }
};

bool RegistrationParentsExist() {
  UniqueKey key;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora", 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// What the machine deletes at its next restart, as paths (the
// "\??\" prefix taken off).
std::vector<std::wstring> PendingDeletions() {
  std::vector<std::wstring> paths;
  UniqueKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ, key.put()))
    return paths;
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size)) return paths;
  std::wstring data(size / sizeof(wchar_t) + 2, L'\0');
  RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size);
  // Pairs of source and target; an empty target is a deletion.
  std::vector<std::wstring> items;
  for (size_t i = 0; i < size / sizeof(wchar_t);) {
    const std::wstring item = data.c_str() + i;
    items.push_back(item);
    i += item.size() + 1;
  }
  for (size_t i = 0; i + 1 < items.size(); i += 2) {
    std::wstring path = items[i];
    if (path.starts_with(L"\\??\\")) path.erase(0, 4);
    if (!path.empty() && items[i + 1].empty()) paths.push_back(WithTrailingSlash(path));
  }
  return paths;
}

// Kept on purpose after an uninstall run from the engine cache: the running
// uninstaller cannot delete itself, so its executable and the instance
// folder go at the next restart; checked to be scheduled, then left out.
// Also left out, when they were there before: the registration's parent
// keys, which the uninstall deletes once no product is registered below
// them, whoever made them. When they were not, they must be gone.
std::vector<std::wstring> KeptAfterUninstall(const std::wstring& instance, bool parentKeysBefore) {
  const std::vector<std::wstring> pending = PendingDeletions();
  for (const std::wstring& path : {instance + L"product.exe", instance}) {
    bool scheduled = false;
    for (const std::wstring& p : pending) scheduled = scheduled || EqualsNoCase(p, WithTrailingSlash(path));
    EXPECT_TRUE(scheduled || (!FileExists(path) && !FolderExists(path)))
        << WideToUtf8(path) << " is left behind and not deleted at the next restart";
  }
  if (!parentKeysBefore) return {instance + L"*"};
  return {instance + L"*", L"HKLM\\SOFTWARE\\Velmora [64]", L"HKLM\\SOFTWARE\\Velmora\\Quorvane [64]",
          L"HKLM\\SOFTWARE\\Velmora\\Quorvane\\Ident.Cache [64]"};
}

TEST(CleanMachine, RegisteredUninstallLeavesTheMachineAsItWas) {
  CleanProduct p;
  const std::wstring exe = p.Build();
  const bool parentKeysBefore = RegistrationParentsExist();
  const MachineSnapshot before = p.Snapshot();

  ASSERT_EQ(p.sandbox.Run(exe, L"/s", 60000).exitCode, 0u);
  const auto installed = p.TakeOut();
  ASSERT_EQ(installed.size(), 1u);
  ASSERT_TRUE(installed[0].starts_with(L"install COMPLETE ")) << WideToUtf8(installed[0]);
  const std::string changes = MachineSnapshot::Diff(before, p.Snapshot());
  for (const std::wstring& made : {p.target + L"bin\\tool.dll", p.menu + L"\\Tool.lnk", p.windows + p.newIni,
                                   L"HKLM\\SOFTWARE\\QuorvaneClean" + p.id + L"\\Deeper\\Settings [32] @ Bytes",
                                   L"HKLM\\SOFTWARE\\QuorvaneClean" + p.id + L"\\Deeper\\Settings [64] @ Bytes",
                                   L"HKCR\\" + p.extension, L"HKCU\\Environment [64] @ " + p.userVariable})
    EXPECT_NE(changes.find(WideToUtf8(made)), std::string::npos) << "the picture sees " << WideToUtf8(made);

  const std::wstring command =
      ReadString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + p.title, L"UninstallString");
  ASSERT_TRUE(command.starts_with(L"\"")) << WideToUtf8(command);
  const std::wstring cached = command.substr(1, command.find(L'"', 1) - 1);
  ASSERT_EQ(p.sandbox.Run(cached, command.substr(command.find(L'"', 1) + 2) + L" /s", 60000).exitCode, 0u);
  const auto removed = p.TakeOut();
  ASSERT_EQ(removed.size(), 1u);
  EXPECT_TRUE(removed[0].starts_with(L"uninstall COMPLETE ")) << WideToUtf8(removed[0]);

  EXPECT_EQ(MachineSnapshot::Diff(before, p.Snapshot(), KeptAfterUninstall(FolderOf(cached), parentKeysBefore)), "");
}

// Every forward change of the sample product in turn is made to fail; the
// rollback must leave the machine exactly as it was, until the installation
// gets through.
TEST(CleanMachine, RollbackAfterAFailureAtEveryChangeLeavesTheMachineAsItWas) {
  CleanProduct p;
  const std::wstring exe = p.Build();
  const MachineSnapshot before = p.Snapshot();
  const int failures = p.sandbox.SweepInjectedFaults(
      exe,
      [&] {
        const auto lines = p.TakeOut();
        return lines.size() == 1 && lines[0].starts_with(L"install COMPLETE ");
      },
      [&] { EXPECT_EQ(MachineSnapshot::Diff(before, p.Snapshot()), ""); });
  EXPECT_GT(failures, 0);
}

// OVERRIDECACHE moves the engine cache: the setup is cached below the
// override, registered there, and uninstalled from there.
TEST(CleanMachine, CacheOverrideMovesTheEngineCacheAndTheUninstallRunsFromThere) {
  CleanProduct p;
  p.cacheOverride = ShellFolder(CSIDL_COMMON_APPDATA) + L"QvOverride" + p.id + L"\\caches";
  const std::wstring exe = p.Build();
  const bool parentKeysBefore = RegistrationParentsExist();
  const MachineSnapshot before = p.Snapshot();

  ASSERT_EQ(p.sandbox.Run(exe, L"/s", 60000).exitCode, 0u);
  const std::wstring instance = p.cacheOverride + L"\\" + p.revision + L"\\";
  EXPECT_EQ(p.TakeOut(), std::vector<std::wstring>{L"install COMPLETE " + instance});
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\" + p.code, nullptr), instance);
  for (const wchar_t* file : {L"product.exe", L"product.res", L"zel.lib", L"instance.dat", L"product.dat",
                              L"product.par", L"product.native.elements.log"})
    EXPECT_TRUE(FileExists(instance + file)) << WideToUtf8(file);
  EXPECT_EQ(ReadUtf8Lines(instance + L"product.lan"), std::vector<std::wstring>{L"French"});
  EXPECT_EQ(ReadUtf8Lines(instance + L"product.par"), std::vector<std::wstring>{});

  ASSERT_EQ(p.sandbox.Run(instance + L"product.exe", L"/s REMOVE=TRUE MODIFY=FALSE", 60000).exitCode, 0u);
  EXPECT_EQ(p.TakeOut(), std::vector<std::wstring>{L"uninstall COMPLETE " + instance});
  // Kept on purpose besides: the override's own folders, which the script chose.
  std::vector<std::wstring> kept = KeptAfterUninstall(instance, parentKeysBefore);
  kept.push_back(WithTrailingSlash(FolderOf(p.cacheOverride)));
  kept.push_back(p.cacheOverride + L"\\");
  EXPECT_EQ(MachineSnapshot::Diff(before, p.Snapshot(), kept), "");
  EXPECT_FALSE(FileExists(instance + L"product.native.elements.log"));
}

// OVERRIDECACHE is tried by making its folders: a folder on a drive that does
// not exist empties it and the cache stays where it was; a folder that can be
// made is taken (with a trailing backslash) and moves ENGINECACHE there. The
// folders made only to try it go again.
TEST(CleanMachine, CacheOverrideIsTriedAndTheFoldersMadeForTheTryGoAgain) {
  SetupSandbox sandbox;
  const std::wstring out = sandbox.Root() + L"out.txt";
  const std::wstring probe = ShellFolder(CSIDL_COMMON_APPDATA) + L"QvProbe" + std::to_wstring(GetCurrentProcessId()) +
                             L"t" + std::to_wstring(GetTickCount64() % 1000000);
  const struct {
    const char* row;
    std::wstring override, expected;
    bool moved;
  } cases[] = {
      {"a drive that does not exist", L"Q:\\nowhere\\cache", L"", false},
      {"a folder that can be made", probe + L"\\a\\b", probe + L"\\a\\b\\", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.row);
    Script script = MakeScript({
        Var(L"BEFORE", L"$ENGINECACHE$"),
        Var(L"OVERRIDECACHE", c.override),
        {L"Write to Text File", {out, L"$OVERRIDECACHE$", L"FALSE"}},
        {L"Write to Text File", {out, L"$BEFORE$", L"FALSE"}},
        {L"Write to Text File", {out, L"$ENGINECACHE$", L"FALSE"}},
    });
    DeleteFileW(out.c_str());
    ASSERT_EQ(sandbox.Run(sandbox.Build(script), L"/s", 60000).exitCode, 0u);
    const auto lines = ReadUtf8Lines(out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], c.expected);
    EXPECT_FALSE(lines[1].empty());
    EXPECT_EQ(lines[2], c.moved ? c.expected + script.revisionCode + L"\\" : lines[1]);
    EXPECT_FALSE(FolderExists(probe)) << "the folders made to try the override are gone";
    RemoveTree(probe);
  }
}

}  // namespace
}  // namespace qv::test
