// INI entries, environment variables, shortcuts and file types end to end:
// a real setup installs them silently under Wine, its registered uninstall
// (or the rollback of a failing installation) takes them away again, and the
// machine is inspected in between — the INI file through the profile calls,
// the variables in HKEY_CURRENT_USER, the shortcut through the shell's link
// object, the file type's keys. Lists that held elements before the setup
// must get exactly those back.
#include "MachineSnapshot.h"
#include "SetupSandbox.h"

#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"
#include "interpreter/Statements.h"
#include "native/ActionKinds.h"

#include <objbase.h>
#include <objidl.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <atomic>

namespace qv::test {
namespace {

bool Wired(std::initializer_list<const wchar_t*> names) {
  for (const wchar_t* name : names)
    if (!FindStatementHandler(name)) return false;
  return true;
}
#define REQUIRE_SHELL_STATEMENTS()                                                                          \
  if (!Wired({L"Edit INI File", L"Set Environment", L"Create Shortcut", L"Create File Type", L"Apply Changes"})) \
  GTEST_SKIP() << "install statements not in the statement table"

TEST(NativeShell, ListRemovalTakesWholeElementsOnly) {
  const struct {
    const char* row;
    const wchar_t* list;
    const wchar_t* recorded;
    wchar_t separator;
    bool fromEnd;
    const wchar_t* expected;  // nullptr: left alone
  } cases[] = {
      {"appended path after a longer one", L"X;C:\\App2;C:\\App", L";C:\\App", L';', true, L"X;C:\\App2"},
      {"prepended path before a longer one", L"C:\\App;C:\\App2;X", L"C:\\App;", L';', false, L"C:\\App2;X"},
      {"only a longer element is left", L"X;C:\\App2", L";C:\\App", L';', true, nullptr},
      {"the whole list", L";C:\\App", L";C:\\App", L';', true, L""},
      {"case and blanks ignored", L"Core, app , Extra", L"App", L',', false, L"Core, Extra"},
      {"first of a comma list", L"App, MyApp, Other", L"App", L',', false, L"MyApp, Other"},
      {"last of a comma list", L"MyApp, App", L"App", L',', false, L"MyApp"},
      {"contained in neighbours only", L"MyApp, Apple", L"App", L',', false, nullptr},
      {"several elements as one run", L"A;B;C;D", L";B;C", L';', true, L"A;D"},
      {"duplicate: the appended copy goes", L"C:\\App;X;C:\\App", L";C:\\App", L';', true, L"C:\\App;X"},
      {"duplicate: the prepended copy goes", L"C:\\App;X;C:\\App", L"C:\\App;", L';', false, L"X;C:\\App"},
      {"nothing recorded", L"A;B", L";", L';', true, nullptr},
  };
  for (const auto& c : cases) {
    const auto rest = native::RemoveListElements(c.list, c.recorded, c.separator, c.fromEnd);
    if (!c.expected) {
      EXPECT_FALSE(rest) << c.row << ": " << WideToUtf8(rest.value_or(L""));
      continue;
    }
    ASSERT_TRUE(rest) << c.row;
    EXPECT_EQ(WideToUtf8(*rest), WideToUtf8(c.expected)) << c.row;
  }
}

std::wstring Unique(const wchar_t* prefix) {
  static std::atomic<int> counter{0};
  // Wine reuses process ids from run to run; the clock keeps names apart.
  return prefix + std::to_wstring(GetCurrentProcessId()) + L"x" + std::to_wstring(++counter) + L"t" +
         std::to_wstring(GetTickCount64() % 1000000);
}

struct Variable {
  DWORD type = 0;  // 0: missing
  std::wstring value;
  bool operator==(const Variable&) const = default;
};

Variable ReadVariable(const std::wstring& name) {
  UniqueKey key;
  Variable v;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_READ, key.put())) return v;
  wchar_t buffer[1024] = {};
  DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
  if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &v.type, reinterpret_cast<BYTE*>(buffer), &bytes)) return {};
  v.value = buffer;
  return v;
}

void WriteVariable(const std::wstring& name, const Variable& v) {
  UniqueKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Environment", 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr), 0);
  ASSERT_EQ(RegSetValueExW(key.get(), name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.value.c_str()),
                           static_cast<DWORD>((v.value.size() + 1) * sizeof(wchar_t))),
            0);
}

void DeleteVariable(const std::wstring& name) {
  UniqueKey key;
  if (!RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_SET_VALUE, key.put())) RegDeleteValueW(key.get(), name.c_str());
}

// The default value of a key under HKEY_CLASSES_ROOT in the 32-bit view (the
// mode a setup starts in); "<missing>" when the key is not there.
std::wstring ClassValue(const std::wstring& key) {
  UniqueKey k;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, k.put())) return L"<missing>";
  wchar_t buffer[1024] = {};
  DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
  if (RegQueryValueExW(k.get(), L"", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes)) return L"<no value>";
  return buffer;
}

bool ClassKeyInAnyView(const std::wstring& key) {
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    UniqueKey k;
    if (!RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | view, k.put())) return true;
  }
  return false;
}

struct Link {
  std::wstring path, arguments, working, description, icon;
  int iconIndex = -1;
  int showByte = -1;  // the header's show command, read from the file (Wine reports 1 through the interface)
};

Link ReadLink(const std::wstring& file) {
  Link l;
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    IShellLinkW* link = nullptr;
    const CLSID shellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    if (SUCCEEDED(CoCreateInstance(shellLink, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkW),
                                   reinterpret_cast<void**>(&link)))) {
      IPersistFile* persist = nullptr;
      if (SUCCEEDED(link->QueryInterface(__uuidof(IPersistFile), reinterpret_cast<void**>(&persist)))) {
        if (SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
          wchar_t text[MAX_PATH * 2] = {};
          if (SUCCEEDED(link->GetPath(text, MAX_PATH * 2, nullptr, SLGP_RAWPATH))) l.path = text;
          if (SUCCEEDED(link->GetArguments(text, MAX_PATH * 2))) l.arguments = text;
          if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH * 2))) l.working = text;
          if (SUCCEEDED(link->GetDescription(text, MAX_PATH * 2))) l.description = text;
          if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH * 2, &l.iconIndex))) l.icon = text;
        }
        persist->Release();
      }
      link->Release();
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  const std::string bytes = FileExists(file) ? ReadWholeFile(file) : std::string();
  if (bytes.size() > 0x3C) l.showByte = static_cast<unsigned char>(bytes[0x3C]);
  return l;
}

std::wstring IniValue(const std::wstring& file, const wchar_t* key) {
  wchar_t buffer[512] = {};
  GetPrivateProfileStringW(L"Plugins", key, L"<missing>", buffer, 512, file.c_str());
  return buffer;
}

// One product with every kind of this file: installed silently, registered,
// removed by its registered uninstall command.
struct Product {
  SetupSandbox sandbox;
  std::wstring code, revision, title;
  std::wstring out = sandbox.Root() + L"out.txt";
  std::wstring ini = sandbox.Root() + L"app.ini";
  std::wstring tool = sandbox.Root() + L"tool.exe";
  std::wstring menu = sandbox.Root() + L"Menu";
  std::wstring link = menu + L"\\Sub\\Tool.lnk";
  std::wstring pathVariable = Unique(L"QVSHELLPATH");
  std::wstring newVariable = Unique(L"QVSHELLNEW");
  std::wstring progId = Unique(L"Quorvane.Shell");
  std::wstring extension = L"." + LowerCase(Unique(L"qv"));

  Product() {
    wchar_t text[64];
    static std::atomic<unsigned long> counter{0};
    const unsigned long id = GetCurrentProcessId() * 100ul + GetTickCount64() % 10 * 10 + ++counter;
    swprintf(text, 64, L"{5E110000-0000-4000-8000-%012lX}", id);
    code = text;
    swprintf(text, 64, L"{5E11FEED-0000-4000-8000-%012lX}", id);
    revision = text;
    title = L"Shell Product " + std::to_wstring(id);
    // What the machine held before: a list in the INI file and a path-like
    // variable whose element is longer than the one the setup adds.
    WriteWholeFile(ini, "[Plugins]\r\nList=Core, Extra\r\nEdited=Core, Extra\r\n");
    WriteWholeFile(tool, "MZ");
    WriteVariable(pathVariable, {REG_EXPAND_SZ, L"X;C:\\App2"});
  }
  ~Product() {
    DeleteVariable(pathVariable);
    DeleteVariable(newVariable);
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      RegDeleteTreeW(HKEY_CLASSES_ROOT, progId.c_str());
      UniqueKey classes;
      if (!RegOpenKeyExW(HKEY_CLASSES_ROOT, nullptr, 0, KEY_ALL_ACCESS | view, classes.put())) {
        RegDeleteTreeW(classes.get(), progId.c_str());
        RegDeleteTreeW(classes.get(), extension.c_str());
      }
    }
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      RegDeleteTreeW(root, (L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\" + code).c_str());
      RegDeleteTreeW(root, (L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + title).c_str());
      // The registration's parents go when nothing else is below them.
      for (const wchar_t* parent : {L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache", L"SOFTWARE\\Velmora\\Quorvane", L"SOFTWARE\\Velmora"})
        RegDeleteKeyW(root, parent);
    }
  }

  std::wstring Build() {
    const std::wstring verbs = ToCommaText({ToCommaText({L"open", L"\"%1\"", L"[open(\"%1\")]", L"QvApp", L"System"}),
                                            ToCommaText({L"print", L"/p \"%1\"", L"", L"", L""})});
    std::vector<Stmt> statements = {
        {L"Set Variable", {L"NATIVE_ENGINE", L"TRUE"}},
        {L"Set Variable", {L"NATIVE_ERROR", L"ABORT"}},
        {L"If", {L"REMOVE", L"4", L"TRUE", L"FALSE"}},
        {L"Apply Changes", {L"", L"RESULT", L"FALSE", L"TRUE"}},
        {L"Write to Text File", {out, L"uninstall $RESULT$", L"FALSE"}},
        {L"Else", {}},
        // Edit INI File: folder, file, operation, section, key, value.
        {L"Edit INI File", {sandbox.Root(), L"app.ini", L"0", L"Plugins", L"Path", L"C:\\App"}},
        {L"Edit INI File", {sandbox.Root(), L"app.ini", L"3", L"Plugins", L"List", L"App"}},
        {L"Edit INI File", {sandbox.Root(), L"app.ini", L"3", L"Plugins", L"Edited", L"App"}},
        // Set Environment: name, value, operation, position, remove at uninstall, system-wide.
        {L"Set Environment", {pathVariable, L";C:\\App", L"0", L"1", L"TRUE", L"FALSE"}},
        {L"Set Environment", {newVariable, L"fresh", L"0", L"2", L"TRUE", L"FALSE"}},
        // Create Shortcut: target, name, folder, description, arguments, working folder, icon, index, window.
        {L"Create Shortcut", {tool, L"Tool", menu + L"\\Sub", L"The tool", L"--go now", sandbox.Root() + L"work", tool,
                              L"3", L"1"}},
        // Create File Type: identifier, program, description, icon, index, extensions, verbs.
        {L"Create File Type", {progId, tool, L"Shell test file", tool, L"2", ToCommaText({extension}), verbs}},
        {L"Apply Changes", {L"", L"RESULT", L"TRUE", L"FALSE"}},
        {L"Write to Text File", {out, L"install $RESULT$", L"FALSE"}},
        {L"End", {}},
    };
    Script script = MakeScript(statements, title);
    script.productCode = code;
    script.revisionCode = revision;
    return sandbox.Build(script, {{L"a.txt", "a"}}, L"product");
  }

  // What this setup changes, as text, to compare before and after (the list
  // "Edited" apart: a test edits it between install and uninstall).
  std::string State() const {
    std::wstring s = L"ini " + IniValue(ini, L"Path") + L" | " + IniValue(ini, L"List") + L"\n";
    const Variable path = ReadVariable(pathVariable), fresh = ReadVariable(newVariable);
    s += L"path " + std::to_wstring(path.type) + L" " + path.value + L"\nnew " + std::to_wstring(fresh.type) + L" " +
         fresh.value + L"\n";
    s += L"link " + std::wstring(FileExists(link) ? L"yes" : L"no") + L" menu " + (FolderExists(menu) ? L"yes" : L"no") + L"\n";
    s += L"classes " + std::wstring(ClassKeyInAnyView(progId) ? L"yes" : L"no") + L" " +
         (ClassKeyInAnyView(extension) ? L"yes" : L"no") + L"\n";
    return WideToUtf8(s);
  }

  std::wstring CachedSetup() const {
    wchar_t folder[1024] = {};
    DWORD bytes = sizeof(folder);
    RegGetValueW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\" + code).c_str(), nullptr,
                 RRF_RT_REG_SZ, nullptr, folder, &bytes);
    return folder[0] ? std::wstring(folder) + L"product.exe" : L"";
  }
};

TEST(NativeShell, InstallThenRegisteredUninstallLeavesOnlyWhatWasThereBefore) {
  REQUIRE_SHELL_STATEMENTS();
  Product p;
  const std::string before = p.State();
  const std::wstring exe = p.Build();
  ASSERT_EQ(p.sandbox.Run(exe, L"/s", 60000).exitCode, 0u);
  ASSERT_EQ(ReadUtf8Lines(p.out), std::vector<std::wstring>{L"install COMPLETE"});

  EXPECT_EQ(IniValue(p.ini, L"Path"), L"C:\\App");
  EXPECT_EQ(IniValue(p.ini, L"List"), L"App, Core, Extra");
  EXPECT_EQ(IniValue(p.ini, L"Edited"), L"App, Core, Extra");
  EXPECT_EQ(ReadVariable(p.pathVariable), (Variable{REG_EXPAND_SZ, L"X;C:\\App2;C:\\App"})) << "stays expandable";
  EXPECT_EQ(ReadVariable(p.newVariable), (Variable{REG_SZ, L"fresh"}));

  const Link link = ReadLink(p.link);
  EXPECT_EQ(link.path, p.tool);
  EXPECT_EQ(link.arguments, L"--go now");
  EXPECT_EQ(link.working, p.sandbox.Root() + L"work\\");
  EXPECT_EQ(link.description, L"The tool");
  EXPECT_EQ(link.icon, p.tool);
  EXPECT_EQ(link.iconIndex, 3);
  EXPECT_EQ(link.showByte, SW_SHOWMAXIMIZED);

  const struct {
    const char* row;
    std::wstring key, value;
  } keys[] = {
      {"identifier", p.progId, L"Shell test file"},
      {"icon", p.progId + L"\\DefaultIcon", p.tool + L",2"},
      {"extension", p.extension, p.progId},
      {"open command", p.progId + L"\\Shell\\open\\Command", L"\"" + p.tool + L"\" \"%1\""},
      {"open DDE", p.progId + L"\\Shell\\open\\ddeexec", L"[open(\"%1\")]"},
      {"DDE application", p.progId + L"\\Shell\\open\\ddeexec\\application", L"QvApp"},
      {"DDE topic", p.progId + L"\\Shell\\open\\ddeexec\\topic", L"System"},
      {"print command", p.progId + L"\\Shell\\print\\Command", L"\"" + p.tool + L"\" /p \"%1\""},
      {"print has no DDE", p.progId + L"\\Shell\\print\\ddeexec", L"<missing>"},
  };
  for (const auto& k : keys) EXPECT_EQ(WideToUtf8(ClassValue(k.key)), WideToUtf8(k.value)) << k.row;

  // Someone edits one list after the installation: the setup's element is
  // gone, a longer one holding its text is there.
  WritePrivateProfileStringW(L"Plugins", L"Edited", L"Core, App2", p.ini.c_str());

  const std::wstring cached = p.CachedSetup();
  ASSERT_FALSE(cached.empty());
  ASSERT_EQ(p.sandbox.Run(cached, L"/s REMOVE=TRUE MODIFY=FALSE", 60000).exitCode, 0u);
  ASSERT_EQ(ReadUtf8Lines(p.out), (std::vector<std::wstring>{L"install COMPLETE", L"uninstall COMPLETE"}));
  EXPECT_EQ(p.State(), before);
  EXPECT_EQ(IniValue(p.ini, L"Edited"), L"Core, App2") << "a longer element holding the removed text stays whole";
}

// Every forward change in turn is made to fail; the rollback must leave the
// machine exactly as it was, until the installation gets through.
TEST(NativeShell, RollbackAfterAFailureAtEveryChangeLeavesTheMachineAsItWas) {
  REQUIRE_SHELL_STATEMENTS();
  Product p;
  const std::string before = p.State();
  const std::wstring exe = p.Build();
  const MachineSnapshot machine = MachineSnapshot::Take({p.sandbox.Root()});
  const int failures = p.sandbox.SweepInjectedFaults(
      exe,
      [&] {
        const bool done = FileExists(p.out) && ReadUtf8Lines(p.out) == std::vector<std::wstring>{L"install COMPLETE"};
        DeleteFileW(p.out.c_str());
        return done;
      },
      [&] {
        EXPECT_EQ(p.State(), before);
        EXPECT_EQ(MachineSnapshot::Diff(machine, MachineSnapshot::Take({p.sandbox.Root()})), "");
      });
  EXPECT_GE(failures, 10) << "every change of the installation was made to fail once";
  EXPECT_EQ(ReadVariable(p.newVariable).value, L"fresh") << "the installation finally got through";
}

}  // namespace
}  // namespace qv::test
