// The native installation engine end to end: real setups with installation
// data, run silently under Wine, and the machine inspected afterwards —
// files and their attributes, registry values in both views, the four native
// logs, and the setup log's trace of immediate and delayed actions.
#include "SetupSandbox.h"

#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"

#include <gtest/gtest.h>

#include <atomic>

namespace qv::test {
namespace {

Stmt Var(const std::wstring& name, const std::wstring& value) { return {L"Set Variable", {name, value}}; }
Stmt Mode(bool win32, bool x64) { return {L"Set 64 Bit Mode", {win32 ? L"TRUE" : L"FALSE", L"FALSE", x64 ? L"TRUE" : L"FALSE"}}; }
// Write Registry: keep code, root, key, value name, data, string flag, integer flag or type.
Stmt Reg(const std::wstring& root, const std::wstring& key, const std::wstring& name, const std::wstring& data,
         const std::wstring& type) {
  const bool isString = type == L"STRING", isInteger = type == L"INTEGER";
  return {L"Write Registry", {L"0", root, key, name, data, isString ? L"TRUE" : L"FALSE",
                              isString ? L"FALSE" : isInteger ? L"TRUE" : type}};
}
// Install Files: source, subfolders, target, read-only, hidden, system, stop, -, self-register, shared,
// permanent, only-if-absent.
Stmt Files(const std::wstring& target, bool readOnly, bool hidden) {
  return {L"Install Files", {L"files", L"TRUE", target, readOnly ? L"TRUE" : L"FALSE", hidden ? L"TRUE" : L"FALSE",
                             L"FALSE", L"FALSE", L"", L"FALSE", L"FALSE", L"FALSE", L"FALSE"}};
}
Stmt Apply() { return {L"Apply Changes", {L"", L"RESULT", L"TRUE", L"FALSE"}}; }
Stmt Report(const std::wstring& out) { return {L"Write to Text File", {out, L"$RESULT$|$LASTERROR$", L"FALSE"}}; }

// A registry key of its own under HKLM\Software, removed from both views
// afterwards.
struct RegistrySandbox {
  std::wstring name;
  std::wstring key;
  RegistrySandbox() {
    static std::atomic<int> counter{0};
    name = L"QuorvaneTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    key = L"Software\\" + name;
    Remove();
  }
  ~RegistrySandbox() { Remove(); }
  void Remove() const {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      UniqueKey software;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | view, software.put()) == 0)
        RegDeleteTreeW(software.get(), name.c_str());
    }
  }
  // Type and bytes of a value in one view; type 0 when missing.
  std::pair<DWORD, std::string> Value(REGSAM view, const std::wstring& sub, const std::wstring& name) const {
    UniqueKey k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (key + sub).c_str(), 0, KEY_READ | view, k.put())) return {0, {}};
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, nullptr, &size)) return {0, {}};
    std::string bytes(size, '\0');
    RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size);
    return {type, bytes};
  }
};

std::string Wide(const std::wstring& text, bool terminated = true) {
  std::string bytes(reinterpret_cast<const char*>(text.c_str()), (text.size() + (terminated ? 1 : 0)) * 2);
  return bytes;
}

std::vector<std::wstring> Lines(const std::wstring& path) { return FileExists(path) ? ReadUtf8Lines(path) : std::vector<std::wstring>{}; }

size_t CountLines(const std::vector<std::wstring>& lines, const std::wstring& text) {
  size_t n = 0;
  for (const auto& line : lines) n += line == text;
  return n;
}

// A product: two data files for one "Install Files", registry values of
// every type in both views, folders, and a pre-seeded folder for "Delete Files".
struct ProductFixture {
  SetupSandbox sandbox;
  RegistrySandbox registry;
  std::wstring target = sandbox.Root() + L"Program\\";
  std::wstring out = sandbox.Root() + L"out.txt";
  std::wstring trace = sandbox.Root() + L"trace.log";
  std::wstring logs = sandbox.Root() + L"logs\\product";

  std::wstring BuildProduct(bool delayed) {
    CreateFolders(target + L"junk");
    WriteWholeFile(target + L"junk\\a.tmp", "x");
    WriteWholeFile(target + L"junk\\keep.txt", "x");
    const std::wstring key = registry.key;
    std::vector<Stmt> statements = {
        Var(L"NATIVE_ENGINE", L"TRUE"),
        Var(L"NATIVE_LOGGING", logs),
        Var(L"NATIVE_HARDLINK", L"FALSE"),
        Var(L"ALLUSERS", L"TRUE"),
        Var(L"DELAYUNTIL_APPLYCHANGES", delayed ? L"TRUE" : L"FALSE"),
        {L"Create Folder", {target + L"empty\\deep"}},
        Files(target, true, true),  // row 6
        Mode(false, true),
        Reg(L"2", key, L"Text", L"line one$NEWLINE$line two", L"STRING"),
        Reg(L"4", key, L"Number", L"4294967295", L"INTEGER"),
        Reg(L"2", key + L"\\Deeper\\Still", L"Expand", L"%TEMP%\\x", L"EXPANDSTRING"),
        Reg(L"2", key, L"List", L"middle", L"APPEND"),
        Reg(L"2", key, L"List", L"last", L"APPEND"),
        Reg(L"2", key, L"List", L"first", L"PREPEND"),
        Reg(L"2", key, L"Bytes", L"00ff10", L"BINARY"),
        Mode(true, false),
        Reg(L"2", key, L"Text", L"thirty-two", L"STRING"),
        Var(L"ALLUSERS", L"FALSE"),  // root 4 above was resolved when its statement ran
        {L"Delete Files", {target + L"junk", L"*.tmp", L"TRUE", L"FALSE"}},
        Apply(),
        Report(out),
    };
    Script script = MakeScript(statements);
    script.headers = {L"6", L"F6"};
    script.fileTable = {L"F6", L"NEWHEADER", L"F6\\readme.txt", L"", L"F6\\bin\\tool.dll", L"bin"};
    const std::wstring exe = sandbox.Build(script);
    CreateFolders(sandbox.Root() + L"setup\\data\\F6\\bin");
    WriteWholeFile(sandbox.Root() + L"setup\\data\\F6\\readme.txt", "read me");
    WriteWholeFile(sandbox.Root() + L"setup\\data\\F6\\bin\\tool.dll", std::string(3u << 20, 'T'));
    return exe;
  }
};

struct ModeCase {
  const char* row;
  bool delayed;
};

TEST(NativeInstall, SampleProductImmediateAndDelayed) {
  for (const ModeCase& c : {ModeCase{"immediate", false}, ModeCase{"delayed", true}}) {
    SCOPED_TRACE(c.row);
    ProductFixture f;
    const std::wstring exe = f.BuildProduct(c.delayed);
    const RunResult run = f.sandbox.Run(exe, L"/s /l=" + f.trace, 60000);
    ASSERT_FALSE(run.timedOut);
    ASSERT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Lines(f.out), std::vector<std::wstring>{L"COMPLETE|"});

    // Files: content, subfolder, attributes.
    EXPECT_EQ(ReadWholeFile(f.target + L"readme.txt"), "read me");
    EXPECT_EQ(FileSize(f.target + L"bin\\tool.dll"), uint64_t{3u << 20});
    const DWORD attributes = GetFileAttributesW((f.target + L"readme.txt").c_str());
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(FolderExists(f.target + L"empty\\deep"));
    EXPECT_FALSE(FileExists(f.target + L"junk\\a.tmp"));
    EXPECT_TRUE(FileExists(f.target + L"junk\\keep.txt"));

    // Registry: each record in the view of its own mode; root 4 by ALLUSERS at statement time.
    const auto& r = f.registry;
    EXPECT_EQ(r.Value(KEY_WOW64_64KEY, L"", L"Text"), std::make_pair(DWORD{REG_SZ}, Wide(L"line one\r\nline two")));
    EXPECT_EQ(r.Value(KEY_WOW64_32KEY, L"", L"Text"), std::make_pair(DWORD{REG_SZ}, Wide(L"thirty-two")));
    EXPECT_EQ(r.Value(KEY_WOW64_64KEY, L"", L"Number"), std::make_pair(DWORD{REG_DWORD}, std::string(4, '\xff')));
    EXPECT_EQ(r.Value(KEY_WOW64_64KEY, L"\\Deeper\\Still", L"Expand"),
              std::make_pair(DWORD{REG_EXPAND_SZ}, Wide(L"%TEMP%\\x")));
    EXPECT_EQ(r.Value(KEY_WOW64_64KEY, L"", L"List"),
              std::make_pair(DWORD{REG_MULTI_SZ}, Wide(L"first") + Wide(L"middle") + Wide(L"last") + Wide(L"")));
    EXPECT_EQ(r.Value(KEY_WOW64_64KEY, L"", L"Bytes"), std::make_pair(DWORD{REG_BINARY}, std::string("\x00\xff\x10", 3)));
    EXPECT_EQ(r.Value(KEY_WOW64_32KEY, L"", L"Number").first, 0u);

    // The four logs: one line per entry in each, in the order of the changes.
    const auto elements = Lines(f.logs + L".native.elements.log");
    const auto data = Lines(f.logs + L".native.data.log");
    const auto weights = Lines(f.logs + L".native.weight.log");
    const auto bitness = Lines(f.logs + L".native.bitness.log");
    const std::vector<std::wstring> expected = {
        L"Delete Folder",   L"Delete File",     L"Delete Folder",   L"Delete File",     L"Delete Registry",
        L"Delete Registry", L"Delete Registry", L"Delete Registry", L"Delete Registry", L"Delete Registry",
        L"Delete Registry", L"Delete Registry"};
    EXPECT_EQ(elements, expected);
    ASSERT_EQ(data.size(), elements.size());
    ASSERT_EQ(weights.size(), elements.size());
    ASSERT_EQ(bitness.size(), elements.size());
    EXPECT_EQ(FromCommaText(data[0]), (std::vector<std::wstring>{f.target + L"empty\\deep", f.target + L"empty"}));
    EXPECT_EQ(weights[0], L"2048");
    // The file's missing subfolder is created (and recorded) before the file.
    EXPECT_EQ(FromCommaText(data[2]), std::vector<std::wstring>{f.target + L"bin"});
    EXPECT_EQ(FromCommaText(data[3]), std::vector<std::wstring>{f.target + L"bin\\tool.dll"});
    // Root and machine, key, value name, then the keys the write adds.
    EXPECT_EQ(FromCommaText(data[4]),
              (std::vector<std::wstring>{L"-2147483646|", f.registry.key, L"Text", f.registry.key}));
    EXPECT_EQ(weights[4], L"1024");
    EXPECT_EQ(FromCommaText(data[6]).size(), 5u) << WideToUtf8(data[6]);
    EXPECT_EQ(weights[6], L"1536");
    EXPECT_EQ(bitness[4], L"x64");
    EXPECT_EQ(bitness[11], L"Win32");
    EXPECT_EQ(FromCommaText(data[11]).size(), 4u) << "the 32-bit view has its own keys";

    // The setup log: one block per action, around each record or around the queue.
    const auto lines = ReadTraceLog(f.trace);
    EXPECT_EQ(CountLines(lines, L"      <NATIVE INSTALL>"), c.delayed ? 0u : 11u);
    EXPECT_EQ(CountLines(lines, L"      <NATIVE DELAYEDINSTALL>"), c.delayed ? 1u : 0u);
    EXPECT_EQ(CountLines(lines, L"        <Write Registry>"), 8u);
    EXPECT_EQ(CountLines(lines, L"        < " + f.target + L"readme.txt >"), 1u);
  }
}

TEST(NativeInstall, FailedCopyKeepsTheOldFileAndRetriesAreBounded) {
  SetupSandbox sandbox;
  const std::wstring target = sandbox.Root() + L"Program\\";
  const std::wstring out = sandbox.Root() + L"out.txt", trace = sandbox.Root() + L"trace.log";
  CreateFolders(target);
  WriteWholeFile(target + L"app.exe", "old build");
  Script script = MakeScript({
      Var(L"NATIVE_ENGINE", L"TRUE"),
      Var(L"NATIVE_LOGGING", L"FALSE"),
      Var(L"NATIVE_ERROR", L"RETRY"),
      Var(L"NATIVE_OVERWRITE", L"ALWAYS"),
      Var(L"NATIVE_OVERWRITE_OLDER", L"TRUE"),
      Files(target, false, false),  // row 5: its data file is missing
      Apply(),
      Report(out),
  });
  script.headers = {L"5", L"F5"};
  script.fileTable = {L"F5", L"NEWHEADER", L"F5\\app.exe", L""};
  const RunResult run = sandbox.Run(sandbox.Build(script), L"/s /l=" + trace, 60000);
  ASSERT_FALSE(run.timedOut) << "an error that persists must not be retried forever";
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(ReadWholeFile(target + L"app.exe"), "old build");
  EXPECT_EQ(CountLines(ReadTraceLog(trace), L"        <NATIVE ERROR>"), 1u + 3u);
  // Immediate mode: the statement ran, failed, and "Apply Changes" has nothing queued.
  EXPECT_EQ(Lines(out), std::vector<std::wstring>{L"COMPLETE|"});
  // No temporary file is left beside the target.
  EXPECT_FALSE(FileExists(target + L"~qv0.new"));
}

struct OverwriteCase {
  const char* row;
  const wchar_t* overwrite;
  const wchar_t* older;
  bool sourceNewer;
  bool replaced;
};

TEST(NativeInstall, OverwritePolicyInSilentRuns) {
  const OverwriteCase cases[] = {
      {"never, newer source", L"NEVER", L"TRUE", true, false},
      {"always, older source", L"ALWAYS", L"FALSE", false, false},
      {"always, newer source", L"ALWAYS", L"FALSE", true, true},
      {"always with older, older source", L"ALWAYS", L"TRUE", false, true},
      {"prompt, newer source", L"PROMPT", L"FALSE", true, true},
      {"prompt, older source", L"PROMPT", L"FALSE", false, false},
  };
  for (const OverwriteCase& c : cases) {
    SCOPED_TRACE(c.row);
    SetupSandbox sandbox;
    const std::wstring target = sandbox.Root() + L"Program\\";
    const std::wstring out = sandbox.Root() + L"out.txt";
    Script script = MakeScript({
        Var(L"NATIVE_ENGINE", L"TRUE"),
        Var(L"NATIVE_LOGGING", L"FALSE"),
        Var(L"DELAYUNTIL_APPLYCHANGES", L"TRUE"),
        Var(L"NATIVE_OVERWRITE", c.overwrite),
        Var(L"NATIVE_OVERWRITE_OLDER", c.older),
        Files(target, false, false),  // row 5
        Apply(),
        Report(out),
    });
    script.headers = {L"5", L"F5"};
    script.fileTable = {L"F5", L"NEWHEADER", L"F5\\notes.txt", L""};
    const std::wstring exe = sandbox.Build(script);
    const std::wstring source = sandbox.Root() + L"setup\\data\\F5\\notes.txt";
    CreateFolders(FolderOf(source));
    CreateFolders(target);
    WriteWholeFile(source, "new");
    WriteWholeFile(target + L"notes.txt", "old");
    // Dates decide for files without a version resource.
    FILETIME older{0x10000000, 0x01D00000}, newer{0x10000000, 0x01D80000};
    for (const auto& [path, time] : {std::pair{source, c.sourceNewer ? newer : older},
                                     std::pair{target + L"notes.txt", c.sourceNewer ? older : newer}}) {
      UniqueFile file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(file && SetFileTime(file.get(), nullptr, nullptr, &time));
    }
    const RunResult run = sandbox.Run(exe, L"/s", 60000);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(ReadWholeFile(target + L"notes.txt"), c.replaced ? "new" : "old");
    EXPECT_EQ(Lines(out), std::vector<std::wstring>{L"COMPLETE|"});
  }
}

TEST(NativeInstall, DeleteFilesRefusesAFolderThatExpandedToNothing) {
  SetupSandbox sandbox;
  // "\" + mask would name the root of the current drive.
  const std::wstring name = L"qv-sentinel-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  const std::wstring drive = sandbox.Root().substr(0, 3);
  WriteWholeFile(drive + name, "keep");
  Script script = MakeScript({
      Var(L"NATIVE_ENGINE", L"TRUE"),
      Var(L"NATIVE_LOGGING", L"FALSE"),
      Var(L"EMPTY", L""),
      {L"Delete Files", {L"$EMPTY$", name, L"TRUE", L"FALSE"}},
      {L"Delete Files", {drive, name, L"TRUE", L"FALSE"}},
  });
  const RunResult run = sandbox.Run(sandbox.Build(script), L"/s", 60000);
  const bool kept = FileExists(drive + name);
  DeleteFileW((drive + name).c_str());
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(kept);
}

}  // namespace
}  // namespace qv::test
