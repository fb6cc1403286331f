// Start-up, payload and teardown of real setups run under Wine.
#include "SetupSandbox.h"

#include "common/Files.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qv::test {
namespace {

TEST(Startup, WithoutScriptExitsWith13) {
  SetupSandbox sandbox;
  const std::wstring exe = sandbox.Root() + L"bare.exe";
  ASSERT_TRUE(CopyFileW((std::wstring(QV_OUTPUT_DIR) + L"quorvane.exe").c_str(), exe.c_str(), FALSE));

  EXPECT_EQ(sandbox.Run(exe, L"/s").exitCode, 13u) << "silently";
  EXPECT_TRUE(sandbox.SupportFoldersLeft().empty());

  DWORD processId = 0;
  HANDLE process = sandbox.Start(exe, L"", &processId);
  MessageBoxSeen seen;
  const bool shown = AnswerMessageBox(processId, seen);
  const RunResult result = SetupSandbox::Wait(process, 30000);
  ASSERT_TRUE(shown) << "no message box appeared";
  EXPECT_EQ(seen.text, L"For internal use only");
  EXPECT_EQ(seen.caption, L"Quorvane Wizard");
  EXPECT_EQ(result.exitCode, 13u);
}

struct PayloadFaultCase {
  const char* name;
  bool withPayload;
  const char* replacement;  // bytes written over the payload archive, or nullptr
  DWORD exitCode;
  const wchar_t* message;
};

TEST(Startup, PayloadFaultsEndTheRun) {
  const PayloadFaultCase cases[] = {
      {"missing", false, nullptr, 14, L"Setup resource not found"},
      {"not an archive", true, "this is not an archive", 15, L"Setup resource decompression failure"},
      {"empty file", true, "", 15, L"Setup resource decompression failure"},
  };
  for (const auto& c : cases) {
    SetupSandbox sandbox;
    const std::wstring exe = sandbox.Build(MakeScript({{L"Terminate with Exit Code", {L"5"}}}),
                                           {{L"a.txt", "a"}}, L"setup", c.withPayload);
    if (c.replacement) WriteWholeFile(FolderOf(exe) + L"setup.res", c.replacement);
    EXPECT_EQ(sandbox.Run(exe, L"/s").exitCode, c.exitCode) << c.name;
    EXPECT_TRUE(sandbox.SupportFoldersLeft().empty()) << c.name;

    DWORD processId = 0;
    HANDLE process = sandbox.Start(exe, L"", &processId);
    MessageBoxSeen seen;
    const bool shown = AnswerMessageBox(processId, seen);
    EXPECT_EQ(SetupSandbox::Wait(process, 30000).exitCode, c.exitCode) << c.name;
    ASSERT_TRUE(shown) << c.name;
    EXPECT_EQ(seen.text, c.message) << c.name;
  }
}

TEST(Startup, DamagedScriptTakesTheRuntimeErrorPathWith11) {
  SetupSandbox sandbox;
  const std::wstring exe = sandbox.Build(MakeScript({{L"Terminate with Exit Code", {L"5"}}}), {{L"a.txt", "a"}});
  // Cut the appended script in the middle of its items.
  std::string image = ReadWholeFile(exe);
  image.resize(image.size() - 40);
  WriteWholeFile(exe, image);
  EXPECT_EQ(sandbox.Run(exe, L"/s").exitCode, 11u);
  EXPECT_TRUE(sandbox.SupportFoldersLeft().empty());

  DWORD processId = 0;
  HANDLE process = sandbox.Start(exe, L"", &processId);
  MessageBoxSeen seen;
  const bool shown = AnswerMessageBox(processId, seen);
  EXPECT_EQ(SetupSandbox::Wait(process, 30000).exitCode, 11u);
  ASSERT_TRUE(shown);
  EXPECT_EQ(seen.text.rfind(L"Runtime error in install: ", 0), 0u) << std::string(seen.text.begin(), seen.text.end());
}

TEST(Startup, PayloadIsExtractedIntoTheSupportFolderAndRemovedAfterwards) {
  SetupSandbox sandbox;
  const std::wstring result = sandbox.Root() + L"result.txt";
  // Folder zel1 and file zel2 are taken: the run must claim zel3.
  CreateFolders(sandbox.Temp() + L"zel1");
  WriteWholeFile(sandbox.Temp() + L"zel2", "x");
  const std::wstring exe = sandbox.Build(
      MakeScript({
          {L"Read from Text File", {L"$SUPPORTDIR$\\docs\\readme.txt", L"LINE", L"EOF"}},
          {L"Write to Text File", {result, L"$SUPPORTDIR$", L"FALSE"}},
          {L"Write to Text File", {result, L"$LINE$", L"FALSE"}},
          {L"Read from Text File", {L"$SUPPORTDIR$setup.msi", L"LINE", L"EOF"}},
          {L"Write to Text File", {result, L"$LINE$", L"FALSE"}},
          {L"Terminate with Exit Code", {L"7"}},
          {L"Terminate with Exit Code", {L"8"}},
      }),
      {{L"docs\\readme.txt", "payload line\r\n"}, {L"top.bin", std::string(100000, '\x7f')}});
  WriteWholeFile(FolderOf(exe) + L"setup.msi", "package beside the setup");
  SetFileAttributesW((FolderOf(exe) + L"setup.msi").c_str(), FILE_ATTRIBUTE_READONLY);

  EXPECT_EQ(sandbox.Run(exe, L"/s").exitCode, 7u);
  const auto lines = ReadUtf8Lines(result);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], L"package beside the setup") << "the .msi is copied into the support folder";
  EXPECT_EQ(lines[0], sandbox.Temp() + L"zel3\\");
  EXPECT_EQ(lines[1], L"payload line");
  EXPECT_FALSE(FolderExists(sandbox.Temp() + L"zel3"));
  EXPECT_TRUE(FolderExists(sandbox.Temp() + L"zel1")) << "another run's folder is never touched";
}

TEST(Startup, SetupsStartedTogetherNeverShareASupportFolder) {
  SetupSandbox sandbox;
  std::vector<HANDLE> processes;
  std::vector<std::wstring> exes, results;
  const std::wstring go = sandbox.Root() + L"go.txt";
  for (int i = 0; i < 4; ++i) {
    results.push_back(sandbox.Root() + L"folder" + std::to_wstring(i) + L".txt");
    // Each setup reports its folder, then waits for the go file, so all four run at once.
    exes.push_back(sandbox.Build(MakeScript({
                                     {L"Write to Text File", {results.back(), L"$SUPPORTDIR$", L"FALSE"}},
                                     {L"Label", {L"wait"}},
                                     {L"Read from Text File", {go, L"LINE", L"EOF"}},
                                     {L"If", {L"LINE", L"0", L"go", L"TRUE"}},
                                     {L"GoTo Label", {L"wait"}},
                                     {L"End", {}},
                                 }),
                                 {{L"a.txt", "a"}}, L"setup" + std::to_wstring(i)));
  }
  for (const auto& exe : exes) processes.push_back(sandbox.Start(exe, L"/s"));
  for (const auto& result : results)
    for (int waited = 0; waited < 600 && !FileExists(result); ++waited) Sleep(100);
  WriteWholeFile(go, "go\r\n");
  for (HANDLE process : processes) EXPECT_EQ(SetupSandbox::Wait(process, 60000).exitCode, 0u);
  std::vector<std::wstring> folders;
  for (const auto& result : results) {
    const auto lines = ReadUtf8Lines(result);
    ASSERT_EQ(lines.size(), 1u);
    folders.push_back(lines[0]);
  }
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(std::unique(folders.begin(), folders.end()), folders.end());
  EXPECT_TRUE(sandbox.SupportFoldersLeft().empty());
}

TEST(Startup, TraceLogHasEveryPhaseInOrder) {
  SetupSandbox sandbox;
  const std::wstring log = sandbox.Root() + L"trace.log";
  WriteWholeFile(log, "stale content from an earlier run");
  const std::wstring exe = sandbox.Build(MakeScript({{L"Terminate with Exit Code", {L"3"}}}), {{L"a.txt", "a"}});
  EXPECT_EQ(sandbox.Run(exe, L"/s /l=" + log).exitCode, 3u);
  const std::vector<std::wstring> expected = {
      L"<Quorvane>",          L"    <SupportDir>",       L"    </SupportDir>",      L"  <SetupSplash>",
      L"    <StubSize>",      L"    </StubSize>",        L"    <StubData>",         L"    </StubData>",
      L"    <GlobalLists>",   L"    </GlobalLists>",     L"    <ExtractArchive>",   L"    </ExtractArchive>",
      L"    <ResourcePath>",  L"    </ResourcePath>",    L"    <Dialogs>",          L"    </Dialogs>",
      L"  </SetupSplash>",    L"  <RunScript>",          L"    <Variables>",        L"    </Variables>",
      L"    <CompileScript>", L"    </CompileScript>",   L"    <BootStrap>",        L"    </BootStrap>",
      L"    <qiva>",          L"    </qiva>",            L"    <ExitScript>",       L"    </ExitScript>",
      L"  </RunScript>",      L"  <Free>",               L"  </Free>",            L"  <CachedSupportDir>",
      L"  </CachedSupportDir>", L"  <RemovableMediaPrematureEject>", L"  </RemovableMediaPrematureEject>",
      L"</Quorvane>",
  };
  EXPECT_EQ(ReadTraceLog(log), expected);
}

struct OverrideCase {
  const char* name;
  const wchar_t* arguments;
  const wchar_t* variable;
  const wchar_t* expected;
};

TEST(Startup, CommandLineOverridesAreProtected) {
  const OverrideCase cases[] = {
      {"plain, silent: command line wins", L"/s TARGETDIR=D:\\App", L"TARGETDIR", L"D:\\App"},
      {"plain, not silent: script wins", L"/update TARGETDIR=D:\\App", L"TARGETDIR", L"script"},
      {"strict, not silent: command line wins", L"/update MODE:fast", L"MODE", L"fast"},
      {"strict, silent: command line wins", L"/s MODE:fast", L"MODE", L"fast"},
      {"name upper-cased", L"/s targetdir=E:\\x", L"TARGETDIR", L"E:\\x"},
      {"dash is not an override", L"/s -TARGETDIR=D:\\App", L"TARGETDIR", L"script"},
  };
  for (const auto& c : cases) {
    SetupSandbox sandbox;
    const std::wstring result = sandbox.Root() + L"value.txt";
    const std::wstring reference = std::wstring(L"$") + c.variable + L"$";
    const std::wstring exe = sandbox.Build(MakeScript({
                                               {L"Set Variable", {std::wstring(c.variable) + L"$QIVA$QIVA$FALSE", L"script"}},
                                               {L"Write to Text File", {result, reference, L"FALSE"}},
                                           }),
                                           {{L"a.txt", "a"}});
    ASSERT_EQ(sandbox.Run(exe, c.arguments).exitCode, 0u) << c.name;
    const auto lines = ReadUtf8Lines(result);
    ASSERT_EQ(lines.size(), 1u) << c.name;
    EXPECT_EQ(lines[0], c.expected) << c.name;
  }
}

}  // namespace
}  // namespace qv::test
