// The life of an installed product: installed silently, registered for
// maintenance, then removed by its own registered uninstall command, leaving
// the machine as it was. A failing installation rolls back the same way.
#include "MachineSnapshot.h"
#include "SetupSandbox.h"

#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"

#include <gtest/gtest.h>

namespace qv::test {
namespace {

bool KeyExists(HKEY root, const std::wstring& key) {
  UniqueKey k;
  return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

struct Product {
  SetupSandbox sandbox;
  std::wstring code;
  std::wstring revision;
  std::wstring title;
  std::wstring regKey;
  std::wstring target = sandbox.Root() + L"Program\\";
  std::wstring out = sandbox.Root() + L"out.txt";
  // What the two branches write to `out`, and the run's ABORTONERROR.
  std::wstring installReport = L"install $RESULT$";
  std::wstring uninstallReport = L"uninstall $RESULT$ $MAINTENANCE$ $NEWINSTANCE$";
  std::wstring abortOnError = L"TRUE";
  std::wstring filesHeader;  // the header of the installation's "Install Files", set by Build

  explicit Product(int n) {
    wchar_t text[64];
    const unsigned long id = GetCurrentProcessId() * 10ul + static_cast<unsigned long>(n);
    swprintf(text, 64, L"{D00D0000-0000-4000-8000-%012lX}", id);
    code = text;
    swprintf(text, 64, L"{FEED0000-0000-4000-8000-%012lX}", id);
    revision = text;
    title = L"Lifecycle Product " + std::to_wstring(id);
    regKey = L"Software\\QuorvaneLifecycle" + std::to_wstring(id);
  }
  ~Product() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, regKey.c_str());
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      RegDeleteTreeW(root, (L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\" + code).c_str());
      RegDeleteTreeW(root, (L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + title).c_str());
      // The registration's parents go when nothing else is below them.
      for (const wchar_t* parent : {L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache", L"SOFTWARE\\Velmora\\Quorvane", L"SOFTWARE\\Velmora"})
        RegDeleteKeyW(root, parent);
    }
  }

  // Installs unless REMOVE is true; removes through "Apply Changes" otherwise.
  // `failAt` adds a statement after the changes that fails and stops the run.
  std::wstring Build(bool breakInstall = false) {
    std::vector<Stmt> install = {
        {L"Create Folder", {target + L"empty\\deep"}},
        {L"Install Files", {L"files", L"TRUE", target, L"FALSE", L"FALSE", L"FALSE", L"FALSE", L"", L"FALSE", L"FALSE",
                            L"FALSE", L"FALSE"}},
        {L"Write Registry", {L"0", L"2", regKey + L"\\Settings", L"Color", L"blue", L"TRUE", L"FALSE"}},
    };
    std::vector<Stmt> statements = {
        {L"Set Variable", {L"NATIVE_ENGINE", L"TRUE"}},
        {L"Set Variable", {L"NATIVE_ERROR", L"ABORT"}},
        {L"Set Variable", {L"ABORTONERROR", abortOnError}},
        {L"Set 64 Bit Mode", {L"FALSE", L"FALSE", L"TRUE"}},
        {L"If", {L"REMOVE", L"4", L"TRUE", L"FALSE"}},
        {L"Apply Changes", {L"", L"RESULT", L"FALSE", L"TRUE"}},
        {L"Write to Text File", {out, uninstallReport, L"FALSE"}},
        {L"Else", {}},
    };
    const size_t filesRow = statements.size() + 1;
    statements.insert(statements.end(), install.begin(), install.end());
    if (breakInstall)  // a second "Install Files" whose data is missing: the run aborts and rolls back
      statements.push_back({L"Install Files", {L"missing", L"TRUE", target, L"FALSE", L"FALSE", L"FALSE", L"TRUE", L"",
                                               L"FALSE", L"FALSE", L"FALSE", L"FALSE"}});
    statements.push_back({L"Apply Changes", {L"", L"RESULT", L"TRUE", L"FALSE"}});
    statements.push_back({L"Write to Text File", {out, installReport, L"FALSE"}});
    statements.push_back({L"End", {}});
    Script script = MakeScript(statements, title);
    script.productCode = code;
    script.revisionCode = revision;
    const std::wstring header = L"F" + std::to_wstring(filesRow);
    filesHeader = header;
    script.headers = {std::to_wstring(filesRow), header};
    script.fileTable = {header, L"NEWHEADER", header + L"\\readme.txt", L"", header + L"\\bin\\tool.dll", L"bin"};
    if (breakInstall) {
      const std::wstring missing = L"F" + std::to_wstring(statements.size() - 4);
      script.headers.insert(script.headers.end(), {std::to_wstring(statements.size() - 4), missing});
      script.fileTable.insert(script.fileTable.end(), {missing, L"NEWHEADER", missing + L"\\gone.txt", L""});
    }
    const std::wstring exe = sandbox.Build(script, {{L"a.txt", "a"}}, L"product");
    CreateFolders(sandbox.Root() + L"product\\data\\" + header + L"\\bin");
    WriteWholeFile(sandbox.Root() + L"product\\data\\" + header + L"\\readme.txt", "read me");
    WriteWholeFile(sandbox.Root() + L"product\\data\\" + header + L"\\bin\\tool.dll", "tool");
    return exe;
  }

  // What the installation left behind, as text; empty when the machine is clean.
  std::string Leftovers() const {
    std::string left;
    if (FolderExists(target + L"empty")) left += "folder empty; ";
    if (FileExists(target + L"readme.txt")) left += "readme.txt; ";
    if (FolderExists(target + L"bin")) left += "folder bin; ";
    if (KeyExists(HKEY_LOCAL_MACHINE, regKey + L"\\Settings")) left += "registry key; ";
    if (KeyExists(HKEY_LOCAL_MACHINE, regKey)) left += "registry parent key; ";
    return left;
  }
};

TEST(Lifecycle, InstallRegistersAndTheRegisteredUninstallRemovesEverything) {
  Product p(1);
  const std::wstring exe = p.Build();
  ASSERT_EQ(p.sandbox.Run(exe, L"/s", 60000).exitCode, 0u);
  ASSERT_EQ(ReadUtf8Lines(p.out), std::vector<std::wstring>{L"install COMPLETE"});
  EXPECT_EQ(ReadWholeFile(p.target + L"readme.txt"), "read me");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, p.regKey + L"\\Settings", L"Color"), L"blue");

  // Registered for maintenance and uninstall (Wine runs as an administrator: per machine).
  const std::wstring uninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + p.title;
  const std::wstring command = ReadString(HKEY_LOCAL_MACHINE, uninstallKey, L"UninstallString");
  const std::wstring instance = ReadString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\" + p.code, nullptr);
  ASSERT_FALSE(instance.empty());
  EXPECT_TRUE(EqualsNoCase(FileNameOf(instance.substr(0, instance.size() - 1)), p.revision));
  EXPECT_EQ(command, L"\"" + instance + L"product.exe\" REMOVE=TRUE MODIFY=FALSE");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, uninstallKey, L"DisplayName"), p.title);
  for (const wchar_t* file : {L"product.exe", L"product.res", L"zel.lib", L"instance.dat", L"product.dat",
                              L"product.native.elements.log"})
    EXPECT_TRUE(FileExists(instance + file)) << std::string(file, file + wcslen(file));
  EXPECT_FALSE(FileExists(instance + L"product.lan")) << "no language in force: no saved language file";

  // The registered command, run silently, is a maintenance run that removes everything.
  const std::wstring cached = instance + L"product.exe";
  ASSERT_EQ(p.sandbox.Run(cached, L"/s REMOVE=TRUE MODIFY=FALSE", 60000).exitCode, 0u);
  const auto lines = ReadUtf8Lines(p.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], L"uninstall COMPLETE TRUE FALSE");
  EXPECT_EQ(p.Leftovers(), "");
  EXPECT_FALSE(FolderExists(p.target)) << "the installation created the target folder, so it goes too";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, uninstallKey));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\" + p.code));
  EXPECT_FALSE(FileExists(instance + L"product.native.elements.log"));
}

TEST(Lifecycle, AFailedInstallationRollsBackEverything) {
  Product p(2);
  CreateFolders(p.target);
  const std::wstring exe = p.Build(/*breakInstall=*/true);
  const RunResult run = p.sandbox.Run(exe, L"/s", 60000);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(p.Leftovers(), "");
  EXPECT_TRUE(FolderExists(p.target)) << "what was there before stays";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\" + p.code));
}

// Every forward change of the installation in turn is made to fail; after each
// failure the rollback must leave the machine exactly as it was, until the
// installation gets through.
TEST(Lifecycle, RollbackAfterAFailureAtEveryChangeLeavesTheMachineAsItWas) {
  Product p(3);
  const std::wstring exe = p.Build();
  const std::wstring uninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + p.title;
  const std::wstring identKey = L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\" + p.code;
  const MachineSnapshot before = MachineSnapshot::Take({p.sandbox.Root()});
  const int failures = p.sandbox.SweepInjectedFaults(
      exe,
      [&] {
        const bool done = FileExists(p.out) && ReadUtf8Lines(p.out) == std::vector<std::wstring>{L"install COMPLETE"};
        DeleteFileW(p.out.c_str());
        return done;
      },
      [&] {
        EXPECT_EQ(p.Leftovers(), "");
        EXPECT_FALSE(FolderExists(p.target));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, uninstallKey));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, identKey));
        EXPECT_EQ(MachineSnapshot::Diff(before, MachineSnapshot::Take({p.sandbox.Root()})), "");
      });
  EXPECT_GE(failures, 4) << "every change of the installation was made to fail once";
  EXPECT_EQ(ReadWholeFile(p.target + L"readme.txt"), "read me") << "the installation finally got through";
}

// The instance folder the product's cache registration names.
std::wstring InstanceFolder(const Product& p) {
  return ReadString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\" + p.code, nullptr);
}

struct BrokenLogCase {
  const char* row;
  size_t log;              // 1 data, 2 weight
  std::string content;     // the log's new content
  const wchar_t* message;  // LASTERROR after the uninstall
};

// An uninstall whose logs cannot be read stops before it changes anything:
// "Apply Changes" reports ERROR with the reason in LASTERROR, and the product
// stays installed and registered.
TEST(Lifecycle, AnUninstallOverBrokenLogsReportsErrorAndKeepsTheProduct) {
  const BrokenLogCase cases[] = {
      {"a weight that is not a number", 2, "1024\r\nmany\r\n512\r\n", L"The native log weight \"many\" is not a number"},
      {"a data line missing", 1, "x\r\n", L"ends before entry 2"},
  };
  static const wchar_t* const kSuffixes[] = {L".native.elements.log", L".native.data.log", L".native.weight.log"};
  int n = 10;
  for (const BrokenLogCase& c : cases) {
    SCOPED_TRACE(c.row);
    Product p(n++);
    p.uninstallReport = L"uninstall $RESULT$|$LASTERROR$";
    const std::wstring exe = p.Build();
    ASSERT_EQ(p.sandbox.Run(exe, L"/s", 60000).exitCode, 0u);
    const std::wstring instance = InstanceFolder(p);
    ASSERT_FALSE(instance.empty());
    ASSERT_GE(ReadUtf8Lines(instance + L"product" + kSuffixes[0]).size(), 2u) << "the broken line is not the last";
    WriteWholeFile(instance + L"product" + kSuffixes[c.log], c.content);

    ASSERT_FALSE(p.sandbox.Run(instance + L"product.exe", L"/s REMOVE=TRUE MODIFY=FALSE", 60000).timedOut);
    const auto lines = ReadUtf8Lines(p.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[1].starts_with(L"uninstall ERROR|")) << WideToUtf8(lines[1]);
    EXPECT_NE(lines[1].find(c.message), std::wstring::npos) << WideToUtf8(lines[1]);
    EXPECT_EQ(ReadWholeFile(p.target + L"readme.txt"), "read me") << "nothing was undone";
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, p.regKey + L"\\Settings"));
    EXPECT_FALSE(InstanceFolder(p).empty()) << "still registered for maintenance";
    EXPECT_TRUE(FileExists(instance + L"product" + kSuffixes[0])) << "the logs stay for another try";
  }
}

struct SourceCase {
  const char* row;
  const wchar_t* abortOnError;
  bool dataBesideCache;
  std::vector<std::wstring> report;  // after the maintenance run
  bool reinstalled;
};

// A maintenance run started from the engine cache has no installation data
// beside it. An immediate "Install Files" then needs the original sources;
// a silent run cannot ask for them, so the statement fails with the
// sources message (and with ABORTONERROR the run ends there). With the data
// beside the cached setup the files are installed again.
TEST(Lifecycle, AMaintenanceRunNeedsTheOriginalSources) {
  const std::wstring kMissing = L"Original setup sources required to complete operation, sources not found";
  const SourceCase cases[] = {
      {"sources missing, the run goes on", L"FALSE", false, {L"install COMPLETE|", L"install COMPLETE|" + kMissing},
       false},
      {"sources missing, the run ends", L"TRUE", false, {L"install COMPLETE|"}, false},
      {"data beside the cached setup", L"TRUE", true, {L"install COMPLETE|", L"install COMPLETE|"}, true},
  };
  int n = 20;
  for (const SourceCase& c : cases) {
    SCOPED_TRACE(c.row);
    Product p(n++);
    p.installReport = L"install $RESULT$|$LASTERROR$";
    p.abortOnError = c.abortOnError;
    const std::wstring exe = p.Build();
    ASSERT_EQ(p.sandbox.Run(exe, L"/s", 60000).exitCode, 0u);
    const std::wstring instance = InstanceFolder(p);
    ASSERT_FALSE(instance.empty());
    ASSERT_FALSE(FolderExists(instance + L"data")) << "the cache holds no installation data";
    if (c.dataBesideCache) {
      // The builder's data folder, copied beside the cached setup.
      for (const wchar_t* file : {L"readme.txt", L"bin\\tool.dll"}) {
        const std::wstring relative = L"data\\" + p.filesHeader + L"\\" + file;
        CreateFolders(FolderOf(instance + relative));
        ASSERT_TRUE(CopyFileW((p.sandbox.Root() + L"product\\" + relative).c_str(), (instance + relative).c_str(), FALSE));
      }
    }
    DeleteFileW((p.target + L"readme.txt").c_str());

    const RunResult run = p.sandbox.Run(instance + L"product.exe", L"/s", 60000);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(ReadUtf8Lines(p.out), c.report);
    EXPECT_EQ(FileExists(p.target + L"readme.txt"), c.reinstalled);
    if (c.dataBesideCache) RemoveTree(instance + L"data\\");
  }
}

}  // namespace
}  // namespace qv::test
