// The interpreter seen from outside: runtime errors, refused scripts and the
// predefined variables of a real run.
#include "SetupSandbox.h"

#include "common/Files.h"
#include "common/Handles.h"

#include <shlobj.h>

#include <gtest/gtest.h>

namespace qv::test {
namespace {

TEST(Interpreter, RuntimeErrorNamesSourceFileAndLineThenTakesTheExitPath) {
  SetupSandbox sandbox;
  const std::wstring out = sandbox.Root() + L"out.txt";
  const std::wstring log = sandbox.Root() + L"trace.log";
  // Row 2 (source line 2, shown as 3): a version comparison with a malformed component.
  const std::wstring exe = sandbox.Build(MakeScript({
                                             {L"Set Variable", {L"V$QIVA$QIVA$FALSE", L"1.2"}},
                                             {L"Write to Text File", {out, L"before", L"FALSE"}},
                                             {L"If", {L"V", L"6", L"x.1", L"FALSE"}},
                                             {L"End", {}},
                                             {L"Write to Text File", {out, L"after", L"FALSE"}},
                                         }),
                                         {{L"a.txt", "a"}});
  DWORD processId = 0;
  HANDLE process = sandbox.Start(exe, L"/update /l=" + log, &processId);
  MessageBoxSeen seen;
  AnswerMessageBox(processId, seen);
  const std::wstring& text = seen.text;
  const RunResult result = SetupSandbox::Wait(process, 30000);
  EXPECT_EQ(text.rfind(L"Runtime error in setup script:\r\rSource File: test\rLine Number: 3\r\r", 0), 0u)
      << std::string(text.begin(), text.end());
  EXPECT_NE(text.find(L"'x' is not a valid integer value"), std::wstring::npos);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(ReadUtf8Lines(out), std::vector<std::wstring>{L"before"});
  EXPECT_TRUE(sandbox.SupportFoldersLeft().empty());
  const auto trace = ReadTraceLog(log);
  ASSERT_GE(trace.size(), 4u);
  const std::vector<std::wstring> tail(trace.end() - 9, trace.end());
  EXPECT_EQ(tail, (std::vector<std::wstring>{L"    <qiva>", L"    <ExitScript>", L"    </ExitScript>",
                                               L"  </RunScript>", L"  <Free>", L"  </Free>", L"  <CachedSupportDir>",
                                               L"  </CachedSupportDir>", L"</Quorvane>"}));
}

TEST(Interpreter, RuntimeErrorInASilentRunShowsNothing) {
  SetupSandbox sandbox;
  const std::wstring exe =
      sandbox.Build(MakeScript({{L"Set Variable", {L"V$QIVA$QIVA$FALSE", L"1"}}, {L"If", {L"V", L"6", L"x.1", L"FALSE"}},
                                {L"End", {}}, {L"Terminate with Exit Code", {L"9"}}}),
                    {{L"a.txt", "a"}});
  const RunResult result = sandbox.Run(exe, L"/s", 30000);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 0u);
}

struct RefusedCase {
  const char* name;
  std::vector<Stmt> statements;
};

TEST(Interpreter, ScriptsFailingTheCompilationPassEndWith314AndNoMessage) {
  const RefusedCase cases[] = {
      {"too many End", {{L"Set Variable", {L"A", L"1"}}, {L"If", {L"A", L"0", L"1", L"FALSE"}}, {L"End", {}}, {L"End", {}}}},
      {"Wend without While", {{L"Wend", {}}}},
      {"undefined label", {{L"GoTo Label", {L"nowhere"}}}},
      {"Break outside a loop", {{L"Break", {}}}},
  };
  for (const auto& c : cases) {
    SetupSandbox sandbox;
    const std::wstring exe = sandbox.Build(MakeScript(c.statements), {{L"a.txt", "a"}});
    // Not silent: a message box would hold the run until the time-out.
    const RunResult result = sandbox.Run(exe, L"/update", 20000);
    EXPECT_FALSE(result.timedOut) << c.name;
    EXPECT_EQ(result.exitCode, 314u) << c.name;
    EXPECT_TRUE(sandbox.SupportFoldersLeft().empty()) << c.name;
  }
}

TEST(Interpreter, WriteToTextFileLeavesAnUnreadableFileAlone) {
  SetupSandbox sandbox;
  const std::wstring locked = sandbox.Root() + L"locked.txt";
  const std::wstring report = sandbox.Root() + L"report.txt";
  WriteWholeFile(locked, "precious\r\n");
  const std::wstring exe = sandbox.Build(MakeScript({
                                             {L"Write to Text File", {locked, L"new line", L"FALSE"}},
                                             {L"Write to Text File", {report, L"[$LASTERROR$]", L"FALSE"}},
                                         }),
                                         {{L"a.txt", "a"}});
  {
    // Held open without sharing: the setup can neither read nor write it.
    UniqueFile hold(CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hold);
    ASSERT_EQ(sandbox.Run(exe, L"/s").exitCode, 0u);
  }
  EXPECT_EQ(ReadWholeFile(locked), "precious\r\n");
  const auto lines = ReadUtf8Lines(report);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0], L"[]") << "the failure is reported through LASTERROR";
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) result = path;
  CoTaskMemFree(path);
  return result;
}

TEST(Interpreter, PredefinedVariablesDescribeTheRun) {
  SetupSandbox sandbox;
  const std::wstring out = sandbox.Root() + L"vars.txt";
  const std::vector<std::wstring> names = {L"TARGETDIR", L"STARTMENU", L"ALLUSERS", L"EXEDIR",     L"EXEFILE",
                                           L"ROOTDIR",   L"SETUPPATH", L"SILENT",   L"CMDLINE",    L"TITLE",
                                           L"VERSION",   L"TEMPDIR",   L"MSIFILE",  L"SUPPORTDIR", L"ABORTONERROR",
                                           L"WIZARD",    L"PROGRESS",  L"LANGUAGE", L"ABORT"};
  std::vector<Stmt> statements;
  for (const auto& name : names) statements.push_back({L"Write to Text File", {out, name + L"=$" + name + L"$", L"FALSE"}});
  const std::wstring exe = sandbox.Build(MakeScript(statements, L"Sample App"), {{L"a.txt", "a"}}, L"vars");
  ASSERT_EQ(sandbox.Run(exe, L"/s X=1").exitCode, 0u);

  const auto lines = ReadUtf8Lines(out);
  std::map<std::wstring, std::wstring> seen;
  for (const auto& line : lines) seen[line.substr(0, line.find(L'='))] = line.substr(line.find(L'=') + 1);
  const std::wstring folder = FolderOf(exe);
  const std::map<std::wstring, std::wstring> expected = {
      {L"TARGETDIR", KnownFolder(FOLDERID_ProgramFiles) + L"\\Sample App\\"},
      {L"STARTMENU", L"Sample App"},
      {L"ALLUSERS", L"TRUE"},  // Wine runs everything as an elevated administrator
      {L"EXEDIR", folder},
      {L"EXEFILE", exe},
      {L"ROOTDIR", folder},
      {L"SETUPPATH", folder},  // stored as "$EXEDIR$", resolved at use
      {L"SILENT", L"TRUE"},
      {L"CMDLINE", L"/s X=1"},
      {L"TITLE", L"Sample App"},
      {L"VERSION", L"1.0.0"},
      {L"TEMPDIR", sandbox.Temp()},
      {L"MSIFILE", sandbox.Temp() + L"zel1\\vars.msi"},
      {L"SUPPORTDIR", sandbox.Temp() + L"zel1\\"},
      {L"ABORTONERROR", L"TRUE"},
      {L"WIZARD", L"NEXT"},
      {L"PROGRESS", L"0"},
      {L"LANGUAGE", L""},
      {L"ABORT", L"FALSE"},
  };
  for (const auto& [name, value] : expected) EXPECT_EQ(seen[name], value) << std::string(name.begin(), name.end());
}

}  // namespace
}  // namespace qv::test
