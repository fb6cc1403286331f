// Self-registering and shared files end to end: real setups place the
// registration fixtures (tests/fixtures/selfreg: a library with
// DllRegisterServer, a program with /regserver; both write a key under
// HKEY_CURRENT_USER "Software\Quorvane Test Registrations" named by the
// file) and count shared files under SharedDlls; a later setup with the
// same logs uninstalls them. The machine is inspected between the runs.
#include "SetupSandbox.h"

#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>

namespace qv::test {
namespace {

constexpr wchar_t kSharedDlls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

std::wstring Unique(const std::wstring& prefix) {
  static std::atomic<int> counter{0};
  // Wine reuses process ids from run to run; the clock keeps names apart.
  return prefix + std::to_wstring(GetCurrentProcessId()) + L"x" + std::to_wstring(++counter) + L"t" +
         std::to_wstring(GetTickCount64() % 1000000);
}

std::wstring Fixture(const wchar_t* name) { return std::wstring(QV_OUTPUT_DIR) + name; }

std::wstring RegistrationKey(const std::wstring& file) {
  return L"Software\\Quorvane Test Registrations\\" + FileNameOf(file);
}
bool Registered(const std::wstring& file) {
  UniqueKey key;
  return RegOpenKeyExW(HKEY_CURRENT_USER, RegistrationKey(file).c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}
// A program registers itself on its own time: wait until the key appears.
bool RegisteredSoon(const std::wstring& file) {
  for (int i = 0; i < 300 && !Registered(file); ++i) Sleep(100);
  return Registered(file);
}

// The shared count of a file in the 32-bit registry view (the setups run in
// "Win32" mode); nothing when there is no value.
std::optional<DWORD> SharedCount(const std::wstring& file) {
  UniqueKey key;
  DWORD count = 0, type = 0, size = sizeof(count);
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.put()) != ERROR_SUCCESS ||
      RegQueryValueExW(key.get(), file.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&count), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD)
    return std::nullopt;
  return count;
}

Stmt Var(const std::wstring& name, const std::wstring& value) { return {L"Set Variable", {name, value}}; }

// Install Files: source, subfolders, target, read-only, hidden, system,
// stop-on-failure, reserved, self-register, shared, permanent, only-if-absent.
Stmt InstallFiles(const std::wstring& target, bool selfRegister, bool shared, bool stopOnFailure = false) {
  auto flag = [](bool b) { return std::wstring(b ? L"TRUE" : L"FALSE"); };
  return {L"Install Files", {L"files", L"TRUE", target, L"FALSE", L"FALSE", L"FALSE", flag(stopOnFailure), L"",
                             flag(selfRegister), flag(shared), L"FALSE", L"FALSE"}};
}

// One statement of a setup, with the installation data of an "Install
// Files" statement: file name in the data -> file to copy there (a missing
// file leaves the data incomplete).
struct Step {
  Stmt statement;
  std::vector<std::pair<std::wstring, std::wstring>> files;
};

std::wstring ProductCode() {
  static std::atomic<unsigned long> counter{0};
  const unsigned long long id =
      (static_cast<unsigned long long>(GetCurrentProcessId()) << 24) + (GetTickCount64() % 100000) * 16 + ++counter;
  wchar_t text[64];
  swprintf(text, 64, L"{5E1F0000-0000-4000-8000-%012llX}", id & 0xFFFFFFFFFFFFull);
  return text;
}

// A product: its own codes and native logs. Each run is a fresh setup that
// either installs its steps or uninstalls what the logs hold.
struct Product {
  SetupSandbox sandbox;
  std::wstring code = ProductCode();
  std::wstring title = L"Self Registration Product " + code;
  std::wstring logs = sandbox.Root() + L"logs\\product";
  std::wstring out = sandbox.Root() + L"out.txt";
  std::wstring trace = sandbox.Root() + L"trace.log";
  int runs = 0;

  ~Product() {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      RegDeleteTreeW(root, (L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\" + code).c_str());
      RegDeleteTreeW(root, (L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + title).c_str());
    }
  }

  // Runs the setup and returns its "Apply Changes" result.
  std::wstring Run(const std::vector<Step>& steps, bool uninstall, const std::vector<Stmt>& settings = {}) {
    std::vector<Stmt> all = {Var(L"NATIVE_ENGINE", L"TRUE"), Var(L"NATIVE_LOGGING", logs),
                             Var(L"NATIVE_ERROR", L"ABORT"), Var(L"NATIVE_OVERWRITE", L"ALWAYS"),
                             Var(L"NATIVE_OVERWRITE_OLDER", L"TRUE")};
    all.insert(all.end(), settings.begin(), settings.end());
    const std::wstring name = L"setup" + std::to_wstring(++runs);
    std::vector<std::wstring> headers, table;
    std::vector<std::pair<std::wstring, std::wstring>> data;
    for (const Step& step : uninstall ? std::vector<Step>{} : steps) {
      if (!step.files.empty()) {
        const std::wstring header = L"F" + std::to_wstring(all.size());
        headers.insert(headers.end(), {std::to_wstring(all.size()), header});
        table.insert(table.end(), {header, L"NEWHEADER"});
        for (const auto& [file, from] : step.files) {
          table.insert(table.end(), {header + L"\\" + file, L""});
          data.emplace_back(header + L"\\" + file, from);
        }
      }
      all.push_back(step.statement);
    }
    all.push_back({L"Apply Changes", {L"", L"RESULT", uninstall ? L"FALSE" : L"TRUE", uninstall ? L"TRUE" : L"FALSE"}});
    all.push_back({L"Write to Text File", {out, L"$RESULT$", L"FALSE"}});
    Script script = MakeScript(all, title);
    script.productCode = code;
    script.headers = headers;
    script.fileTable = table;
    DeleteFileW(out.c_str());
    const std::wstring exe = sandbox.Build(script, {}, name);
    for (const auto& [relative, from] : data) {
      const std::wstring to = sandbox.Root() + name + L"\\data\\" + relative;
      CreateFolders(FolderOf(to));
      if (FileExists(from)) CopyFileW(from.c_str(), to.c_str(), FALSE);
    }
    const RunResult run = sandbox.Run(exe, L"/s /l=" + trace, 120000);
    if (run.timedOut) return L"timed out";
    const auto lines = FileExists(out) ? ReadUtf8Lines(out) : std::vector<std::wstring>{};
    return lines.empty() ? L"no result" : lines.back();
  }

  // The undo actions the logs hold for `file`.
  std::vector<std::wstring> UndoActionsFor(const std::wstring& file) const {
    const auto elements = ReadUtf8Lines(logs + L".native.elements.log");
    const auto data = ReadUtf8Lines(logs + L".native.data.log");
    std::vector<std::wstring> found;
    for (size_t i = 0; i < elements.size() && i < data.size(); ++i)
      if (FromCommaText(data[i]) == std::vector<std::wstring>{file}) found.push_back(elements[i]);
    return found;
  }
  bool TraceHas(const std::wstring& line) const {
    for (const auto& l : ReadTraceLog(trace))
      if (l == line) return true;
    return false;
  }
};

// Registration keys and shared counts a test leaves behind go with it.
struct Cleanup {
  std::vector<std::wstring> files;
  ~Cleanup() {
    for (const auto& file : files) {
      RegDeleteKeyW(HKEY_CURRENT_USER, RegistrationKey(file).c_str());
      for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        UniqueKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_SET_VALUE | view, key.put()) == ERROR_SUCCESS)
          RegDeleteValueW(key.get(), file.c_str());
      }
    }
  }
};

TEST(SelfRegistration, SharedFilesAreCountedPerProductAndLeaveWithTheLastOne) {
  Product a, b;
  const std::wstring target = a.sandbox.Root() + L"Common\\";
  const std::wstring library = target + Unique(L"shsr") + L".dll";  // shared and self-registering
  const std::wstring notes = target + Unique(L"notes") + L".txt";   // shared, placed by the products
  const std::wstring older = target + Unique(L"older") + L".txt";   // shared, there before, without a count
  Cleanup cleanup{{library, notes, older}};
  CreateFolders(target);
  WriteWholeFile(older, "placed by someone else");
  const std::wstring text = a.sandbox.Root() + L"notes.txt";
  WriteWholeFile(text, "notes");
  const std::vector<Step> steps = {
      {InstallFiles(target, true, true), {{FileNameOf(library), Fixture(L"qv_test_selfreg.dll")}}},
      {InstallFiles(target, false, true), {{FileNameOf(notes), text}, {FileNameOf(older), text}}},
  };

  ASSERT_EQ(a.Run(steps, false), L"COMPLETE");
  EXPECT_EQ(SharedCount(library), 1u);
  EXPECT_EQ(SharedCount(notes), 1u);
  EXPECT_EQ(SharedCount(older), 2u) << "a file there before without a count has one more user";
  EXPECT_TRUE(Registered(library)) << "a 64-bit library in a \"Win32\" run takes the 64-bit registrar";
  EXPECT_EQ(a.UndoActionsFor(library), std::vector<std::wstring>{L"Unshare Self Registering File"})
      << "neither Delete File nor Unregister File: the count decides";
  EXPECT_EQ(a.UndoActionsFor(notes), std::vector<std::wstring>{L"Unshare File"});
  EXPECT_TRUE(a.TraceHas(L"          < share " + notes + L" >"));
  EXPECT_TRUE(a.TraceHas(L"          < regsvr32 " + library + L" >"));

  // The second product keeps the files it finds (NEVER) but uses them too.
  ASSERT_EQ(b.Run(steps, false, {Var(L"NATIVE_OVERWRITE", L"NEVER")}), L"COMPLETE");
  EXPECT_EQ(SharedCount(library), 2u);
  EXPECT_EQ(SharedCount(notes), 2u);
  EXPECT_EQ(SharedCount(older), 3u);

  ASSERT_EQ(a.Run({}, true), L"COMPLETE");
  EXPECT_EQ(SharedCount(library), 1u);
  EXPECT_EQ(SharedCount(notes), 1u);
  EXPECT_TRUE(FileExists(library) && FileExists(notes)) << "still in use by the second product";
  EXPECT_TRUE(Registered(library));

  ASSERT_EQ(b.Run({}, true), L"COMPLETE");
  EXPECT_EQ(SharedCount(library), std::nullopt);
  EXPECT_EQ(SharedCount(notes), std::nullopt);
  EXPECT_FALSE(FileExists(library));
  EXPECT_FALSE(FileExists(notes));
  EXPECT_FALSE(Registered(library)) << "the last user unregisters it";
  EXPECT_EQ(SharedCount(older), 1u) << "its first user was not one of these products";
  EXPECT_TRUE(FileExists(older));
}

// What an uninstall does with a shared file whose count someone else has
// changed: it never removes a file it cannot prove is unused.
TEST(SelfRegistration, UninstallKeepsASharedFileWhoseCountIsUnreadableOrGone) {
  const struct {
    const char* row;
    bool unreadable;  // else the value is deleted
    std::optional<DWORD> countAfter;
  } cases[] = {
      {"a count that cannot be read is taken as 10000", true, 9999u},
      {"without a count nothing happens", false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.row);
    Product p;
    const std::wstring target = p.sandbox.Root() + L"Program\\";
    const std::wstring notes = target + Unique(L"odd") + L".txt";
    Cleanup cleanup{{notes}};
    const std::wstring text = p.sandbox.Root() + L"notes.txt";
    WriteWholeFile(text, "notes");
    ASSERT_EQ(p.Run({{InstallFiles(target, false, true), {{FileNameOf(notes), text}}}}, false), L"COMPLETE");
    {
      UniqueKey key;
      ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, key.put()),
                ERROR_SUCCESS);
      if (c.unreadable)
        RegSetValueExW(key.get(), notes.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(L"many"), 5 * sizeof(wchar_t));
      else
        RegDeleteValueW(key.get(), notes.c_str());
    }
    ASSERT_EQ(p.Run({}, true), L"COMPLETE");
    EXPECT_EQ(SharedCount(notes), c.countAfter);
    EXPECT_TRUE(FileExists(notes));
  }
}

TEST(SelfRegistration, SelfRegisteringFilesAreRegisteredOnInstallAndUnregisteredOnUninstall) {
  Product p;
  const std::wstring target = p.sandbox.Root() + L"Program\\";
  const std::wstring library = target + Unique(L"srlib") + L".dll";
  const std::wstring program = target + Unique(L"srexe") + L".exe";
  Cleanup cleanup{{library, program}};
  const std::vector<Step> steps = {{InstallFiles(target, true, false),
                                    {{FileNameOf(library), Fixture(L"qv_test_selfreg.dll")},
                                     {FileNameOf(program), Fixture(L"qv_test_regserver.exe")}}}};

  ASSERT_EQ(p.Run(steps, false), L"COMPLETE");
  EXPECT_TRUE(Registered(library)) << "the registrar was waited for";
  EXPECT_TRUE(RegisteredSoon(program));
  for (const auto& file : {library, program}) {
    SCOPED_TRACE(WideToUtf8(file));
    EXPECT_EQ(p.UndoActionsFor(file), (std::vector<std::wstring>{L"Delete File", L"Unregister File"}));
    EXPECT_TRUE(p.TraceHas(L"          < regsvr32 " + file + L" >"));
  }

  ASSERT_EQ(p.Run({}, true), L"COMPLETE") << "the program was done unregistering before it was deleted";
  EXPECT_FALSE(Registered(library));
  EXPECT_FALSE(Registered(program));
  EXPECT_FALSE(FileExists(library));
  EXPECT_FALSE(FileExists(program));
}

// Every forward change of an installation with a self-registering library
// and a shared file fails in turn; the rollback must take back the
// registration and the count as well as the files.
TEST(SelfRegistration, RollbackAfterAFailureAtEveryChangeTakesBackRegistrationAndCounts) {
  Product p;
  const std::wstring target = p.sandbox.Root() + L"Program\\";
  const std::wstring library = target + Unique(L"rblib") + L".dll";
  const std::wstring notes = target + Unique(L"rbnotes") + L".txt";
  Cleanup cleanup{{library, notes}};
  const std::wstring text = p.sandbox.Root() + L"notes.txt";
  WriteWholeFile(text, "notes");
  const std::vector<Step> steps = {
      {InstallFiles(target, true, false), {{FileNameOf(library), Fixture(L"qv_test_selfreg.dll")}}},
      {InstallFiles(target, false, true), {{FileNameOf(notes), text}}},
  };
  int failures = 0;
  for (int n = 1; n <= 30; ++n) {
    SCOPED_TRACE("fault at change " + std::to_string(n));
    SetEnvironmentVariableW(L"QUORVANE_FAULT_AT", std::to_wstring(n).c_str());
    const std::wstring result = p.Run(steps, false);
    SetEnvironmentVariableW(L"QUORVANE_FAULT_AT", nullptr);
    if (result == L"COMPLETE") break;
    ++failures;
    EXPECT_FALSE(Registered(library));
    EXPECT_FALSE(FileExists(library));
    EXPECT_FALSE(FileExists(notes));
    EXPECT_EQ(SharedCount(notes), std::nullopt);
    EXPECT_FALSE(FolderExists(target));
  }
  EXPECT_GE(failures, 5) << "folder, library, registration, file and count each failed once";
  EXPECT_TRUE(Registered(library)) << "the installation finally got through";
  EXPECT_EQ(SharedCount(notes), 1u);
}

TEST(SelfRegistration, RegisterLibraryReportsWhetherTheFileRegistered) {
  Product p;
  const std::wstring folder = p.sandbox.Root() + L"files\\";
  CreateFolders(folder);
  auto copy = [&](const wchar_t* fixture, const std::wstring& name) {
    const std::wstring to = folder + name;
    CopyFileW(Fixture(fixture).c_str(), to.c_str(), FALSE);
    return to;
  };
  const std::wstring kept = copy(L"qv_test_selfreg.dll", Unique(L"rlkeep") + L".dll");
  const std::wstring undone = copy(L"qv_test_selfreg.dll", Unique(L"rlundo") + L".dll");
  const std::wstring program = copy(L"qv_test_regserver.exe", Unique(L"rlexe") + L".exe");
  const std::wstring noEntry = copy(L"qv_test_odbc_setup.dll", Unique(L"rlnoentry") + L".dll");
  const std::wstring notLibrary = folder + L"text.dll";
  WriteWholeFile(notLibrary, "not a library");
  Cleanup cleanup{{kept, undone, program}};
  const struct {
    const char* row;
    std::wstring file;
    bool doRegister;
    std::wstring expected;
  } cases[] = {
      {"library registers", kept, true, L"TRUE"},
      {"library registers", undone, true, L"TRUE"},
      {"library unregisters", undone, false, L"TRUE"},
      {"program is started with /regserver", program, true, L"TRUE"},
      {"missing file", folder + L"missing.dll", true, L"FALSE"},
      {"missing file, unregistering", folder + L"missing.dll", false, L"FALSE"},
      {"library without DllRegisterServer", noEntry, true, L"FALSE"},
      {"library without DllUnregisterServer", noEntry, false, L"FALSE"},
      {"not a library", notLibrary, true, L"FALSE"},
  };
  std::vector<Step> steps;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::wstring variable = L"R" + std::to_wstring(i);
    steps.push_back({{L"Register Library", {cases[i].file, cases[i].doRegister ? L"TRUE" : L"FALSE", variable}}, {}});
    steps.push_back({{L"Write to Text File", {p.out, L"$" + variable + L"$", L"FALSE"}}, {}});
  }
  p.Run(steps, false);
  const auto lines = ReadUtf8Lines(p.out);
  ASSERT_GE(lines.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(lines[i], cases[i].expected) << cases[i].row;
  EXPECT_TRUE(Registered(kept));
  EXPECT_FALSE(Registered(undone));
  EXPECT_TRUE(RegisteredSoon(program));
}

}  // namespace
}  // namespace qv::test
