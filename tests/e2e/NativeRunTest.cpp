// The native engine's run around its worker, end to end: a cancel during an
// immediate or delayed action (the error policy's Abort is the deterministic
// trigger), with and without ABORTONERROR, silently and with the "Setup
// cancelled" message read back from the screen; the NATIVE_LOGGING
// assignment rules; "Apply Patch" in native mode.
#include "SetupSandbox.h"

#include "common/Files.h"
#include "common/Text.h"

#include <gtest/gtest.h>

namespace qv::test {
namespace {

Stmt Var(const std::wstring& name, const std::wstring& value) { return {L"Set Variable", {name, value}}; }
Stmt Folder(const std::wstring& path) { return {L"Create Folder", {path}}; }
// Install Files: source, subfolders, target, read-only, hidden, system, stop, -, self-register, shared,
// permanent, only-if-absent.
Stmt Files(const std::wstring& target) {
  return {L"Install Files", {L"files", L"TRUE", target, L"FALSE", L"FALSE", L"FALSE", L"FALSE", L"", L"FALSE",
                             L"FALSE", L"FALSE", L"FALSE"}};
}
Stmt Write(const std::wstring& file, const std::wstring& text) { return {L"Write to Text File", {file, text, L"FALSE"}}; }

std::vector<std::wstring> LinesOf(const std::wstring& path) {
  return FileExists(path) ? ReadUtf8Lines(path) : std::vector<std::wstring>{L"<no report>"};
}

// A product whose "Install Files" statements cannot place their file: a file
// named like the target folder is in the way, and NATIVE_ERROR "ABORT" turns
// the failure into a cancel. A folder made before them shows whether the run
// was rolled back.
struct CancelledProduct {
  SetupSandbox sandbox;
  std::wstring blocker = sandbox.Root() + L"Blocked";
  std::wstring made = sandbox.Root() + L"Made";
  std::wstring report = sandbox.Root() + L"out.txt";

  std::wstring Build(const std::wstring& abortOnError, bool delayed, int failingStatements) {
    std::vector<Stmt> statements = {
        Var(L"NATIVE_ENGINE", L"TRUE"),
        Var(L"NATIVE_LOGGING", sandbox.Root() + L"logs\\product"),
        Var(L"NATIVE_HARDLINK", L"FALSE"),
        Var(L"ABORTONERROR", abortOnError),
        Var(L"DELAYUNTIL_APPLYCHANGES", delayed ? L"TRUE" : L"FALSE"),
        Folder(made),
        Var(L"NATIVE_ERROR", L"ABORT"),
    };
    Script script;
    for (int i = 0; i < failingStatements; ++i) {
      const std::wstring row = std::to_wstring(statements.size());
      statements.push_back(Files(blocker + L"\\"));
      script.headers.insert(script.headers.end(), {row, L"F" + row});
      script.fileTable.insert(script.fileTable.end(), {L"F" + row, L"NEWHEADER", L"F" + row + L"\\readme.txt", L""});
      CreateFolders(sandbox.Root() + L"setup\\data\\F" + row);
      WriteWholeFile(sandbox.Root() + L"setup\\data\\F" + row + L"\\readme.txt", "new content");
    }
    statements.push_back({L"Apply Changes", {L"", L"RESULT", delayed ? L"TRUE" : L"FALSE", L"FALSE"}});
    statements.push_back(Write(report, L"$RESULT$|$ABORTEDONERROR$|$ABORT$|$LASTERROR$"));
    Script built = MakeScript(statements);
    built.headers = script.headers;
    built.fileTable = script.fileTable;
    WriteWholeFile(blocker, "in the way");
    return sandbox.Build(built);
  }
};

struct CancelCase {
  const char* row;
  const wchar_t* abortOnError;
  bool delayed;
  const wchar_t* report;  // "<no report>": the run ended at the cancel
  bool madeKept;          // false: rolled back
};

TEST(NativeRun, ACancelledActionEndsOrMarksTheRun) {
  const CancelCase cases[] = {
      {"immediate, abort on error", L"TRUE", false, L"<no report>", false},
      {"delayed, abort on error", L"TRUE", true, L"<no report>", false},
      {"immediate, the run goes on", L"FALSE", false, L"COMPLETE|TRUE|TRUE|", true},
      {"delayed, the run goes on", L"FALSE", true, L"CANCEL|TRUE|TRUE|Setup cancelled", true},
  };
  for (const CancelCase& c : cases) {
    SCOPED_TRACE(c.row);
    CancelledProduct p;
    const std::wstring exe = p.Build(c.abortOnError, c.delayed, 1);
    const RunResult run = p.sandbox.Run(exe, L"/s", 60000);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(LinesOf(p.report), std::vector<std::wstring>{c.report});
    EXPECT_EQ(FolderExists(p.made), c.madeKept);
    EXPECT_EQ(ReadWholeFile(p.blocker), "in the way");
  }
}

struct CancelMessageCase {
  const char* row;
  const wchar_t* abortOnError;
  int failingStatements;
  const wchar_t* report;
};

// A visible run says "Setup cancelled" once: not again for the rollback that
// follows, and not for a second cancel once ABORTEDONERROR is set.
TEST(NativeRun, SetupCancelledIsShownOnce) {
  const CancelMessageCase cases[] = {
      {"abort, then rollback", L"TRUE", 1, L"<no report>"},
      {"two cancels, the run goes on", L"FALSE", 2, L"COMPLETE|TRUE|TRUE|"},
  };
  for (const CancelMessageCase& c : cases) {
    SCOPED_TRACE(c.row);
    CancelledProduct p;
    const std::wstring exe = p.Build(c.abortOnError, false, c.failingStatements);
    DWORD processId = 0;
    HANDLE process = p.sandbox.Start(exe, L"", &processId);
    std::vector<MessageBoxSeen> seen;
    while (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
      MessageBoxSeen box;
      if (AnswerMessageBox(processId, box, 200, IDOK)) seen.push_back(box);
    }
    const RunResult run = SetupSandbox::Wait(process, 60000);
    ASSERT_FALSE(run.timedOut);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, L"Setup cancelled");
    EXPECT_EQ(LinesOf(p.report), std::vector<std::wstring>{c.report});
    EXPECT_EQ(FolderExists(p.made), c.abortOnError == std::wstring(L"FALSE"));
  }
}

std::vector<std::wstring> DataLog(const std::wstring& prefix) {
  const std::wstring path = prefix + L".native.data.log";
  return FileExists(path) ? ReadUtf8Lines(path) : std::vector<std::wstring>{L"<no log>"};
}

// Assigning NATIVE_LOGGING flushes the pending entries to a log set that
// exists or can be made; a prefix naming an incomplete set is refused (the
// variable is cleared, the entries stay pending, the set is left alone);
// "FALSE" records nothing; the same value again does nothing; the empty value
// flushes to the default prefix in the engine cache.
TEST(NativeRun, LoggingAssignmentRules) {
  SetupSandbox sandbox;
  const std::wstring root = sandbox.Root();
  const std::wstring report = root + L"out.txt";
  CreateFolders(root + L"partial");
  WriteWholeFile(root + L"partial\\p.native.elements.log", "kept\r\n");
  const std::wstring exe = sandbox.Build(MakeScript({
      Var(L"OVERRIDECACHE", root + L"cache\\"),
      Var(L"NATIVE_ENGINE", L"TRUE"),
      Folder(root + L"A"),
      Var(L"NATIVE_LOGGING", root + L"logs\\one"),
      Write(report, L"$NATIVE_LOGGING$"),
      Folder(root + L"B"),
      Var(L"NATIVE_LOGGING", root + L"partial\\p"),
      Write(report, L"refused:$NATIVE_LOGGING$"),
      Var(L"NATIVE_LOGGING", L"FALSE"),
      Folder(root + L"C"),
      Var(L"NATIVE_LOGGING", root + L"logs\\two"),
      Folder(root + L"D"),
      Var(L"NATIVE_LOGGING", root + L"logs\\two"),
      Var(L"NATIVE_LOGGING", L""),
      Write(report, L"$ENGINECACHE$"),
  }));
  ASSERT_EQ(sandbox.Run(exe, L"/s", 60000).exitCode, 0u);
  const auto lines = LinesOf(report);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], root + L"logs\\one");
  EXPECT_EQ(lines[1], L"refused:");
  EXPECT_EQ(DataLog(root + L"logs\\one"), std::vector<std::wstring>{root + L"A"});
  EXPECT_EQ(ReadUtf8Lines(root + L"logs\\one.native.elements.log"), std::vector<std::wstring>{L"Delete Folder"});
  EXPECT_EQ(ReadWholeFile(root + L"partial\\p.native.elements.log"), "kept\r\n");
  EXPECT_FALSE(FileExists(root + L"partial\\p.native.data.log")) << "an incomplete set is not completed";
  EXPECT_EQ(DataLog(root + L"logs\\two"), std::vector<std::wstring>{root + L"B"}) << "C was made with logging off";
  EXPECT_EQ(DataLog(WithTrailingSlash(lines[2]) + L"setup"), std::vector<std::wstring>{root + L"D"});
}

// Logging switched off on the command line records nothing either.
TEST(NativeRun, LoggingOffFromTheCommandLine) {
  SetupSandbox sandbox;
  const std::wstring root = sandbox.Root();
  const std::wstring exe = sandbox.Build(MakeScript({
      Var(L"NATIVE_ENGINE", L"TRUE"),
      Folder(root + L"E"),
      Var(L"NATIVE_LOGGING", root + L"logs\\three"),
  }));
  ASSERT_EQ(sandbox.Run(exe, L"/s NATIVE_LOGGING=FALSE", 60000).exitCode, 0u);
  EXPECT_TRUE(FolderExists(root + L"E"));
  EXPECT_EQ(DataLog(root + L"logs\\three"), std::vector<std::wstring>{}) << "the set is made, but holds nothing";
}

TEST(NativeRun, ApplyPatchReportsErrorInNativeMode) {
  SetupSandbox sandbox;
  const std::wstring report = sandbox.Root() + L"out.txt";
  const std::wstring exe = sandbox.Build(MakeScript({
      Var(L"NATIVE_ENGINE", L"TRUE"),
      {L"Apply Patch", {L"PATCHED"}},
      Write(report, L"$PATCHED$"),
  }));
  ASSERT_EQ(sandbox.Run(exe, L"/s", 60000).exitCode, 0u);
  EXPECT_EQ(LinesOf(report), std::vector<std::wstring>{L"ERROR"});
}

}  // namespace
}  // namespace qv::test
