// Assembling setup folders with the archive module of the output folder: the
// payload is unpacked the way the engine does it at start-up, and the test
// program itself stands in for the engine stub.
#include "builder/Payload.h"
#include "builder/SetupBuilder.h"
#include "common/Error.h"
#include "common/Files.h"
#include "media/ArchiveModule.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace qv::build {
namespace {

class SetupFolderTest : public ::testing::Test {
protected:
  void SetUp() override {
    root_ = TemporaryFolder() + L"qvpayload-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    RemoveTree(root_);
    ASSERT_TRUE(CreateFolders(root_ + L"in\\sub"));
    ASSERT_TRUE(CreateFolders(root_ + L"empty"));
    ASSERT_TRUE(CreateFolders(root_ + L"out"));
  }
  void TearDown() override { RemoveTree(root_); }

  std::wstring root_;
};

TEST_F(SetupFolderTest, PackedTreeExtractsAsTheEngineExpects) {
  WriteWholeFile(root_ + L"in\\readme.txt", "hello\r\n");
  WriteWholeFile(root_ + L"in\\sub\\data.bin", std::string("\0\1\2", 3));
  PackPayload(QV_OUTPUT_DIR, root_ + L"in\\", root_ + L"setup.res");
  ArchiveModule module = ArchiveModule::Load(QV_OUTPUT_DIR);
  ASSERT_TRUE(module.ExtractAll(root_ + L"setup.res", root_ + L"out\\")) << module.LastError();
  EXPECT_EQ(ReadWholeFile(root_ + L"out\\readme.txt"), "hello\r\n");
  EXPECT_EQ(ReadWholeFile(root_ + L"out\\sub\\data.bin"), std::string("\0\1\2", 3));
}

TEST_F(SetupFolderTest, EmptyFolderGivesAnArchiveThatExtractsToNothing) {
  PackPayload(QV_OUTPUT_DIR, root_ + L"empty\\", root_ + L"empty.res");
  ASSERT_TRUE(FileExists(root_ + L"empty.res"));
  ArchiveModule module = ArchiveModule::Load(QV_OUTPUT_DIR);
  EXPECT_TRUE(module.ExtractAll(root_ + L"empty.res", root_ + L"out\\")) << module.LastError();
}

TEST_F(SetupFolderTest, MissingModuleIsAnError) {
  EXPECT_THROW(PackPayload(root_, root_ + L"in\\", root_ + L"x.res"), Error);
}

TEST_F(SetupFolderTest, BuildWritesTheSetupFolderBesideTheSource) {
  WriteWholeFile(root_ + L"in\\app.qvs",
                 "@setup product-code={11111111-2222-3333-4444-555555555555} "
                 "revision-code={AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE} title=App\r\n"
                 "Set Variable name=A value=#V#\r\nTerminate Install\r\n");
  ASSERT_TRUE(CreateFolders(root_ + L"in\\payload"));
  WriteWholeFile(root_ + L"in\\payload\\note.txt", "n");
  BuildOptions options;
  options.source = root_ + L"in\\app.qvs";
  options.stub = ModulePath();
  options.toolFolder = QV_OUTPUT_DIR;
  options.defines = {{L"V", L"42"}};
  const BuildOutcome outcome = BuildSetup(options);
  ASSERT_TRUE(outcome.errors.empty());
  const std::wstring folder = root_ + L"in\\app-setup\\";
  EXPECT_EQ(outcome.setupPath, folder + L"app.exe");
  for (const wchar_t* file : {L"app.exe", L"app.res", L"zel.lib", L"7z.dll"}) EXPECT_TRUE(FileExists(folder + file));
  const Script script = ReadAppendedScript(ReadWholeFile(outcome.setupPath));
  EXPECT_EQ(script.names, (std::vector<std::wstring>{L"Set Variable", L"Terminate Install"}));
  EXPECT_EQ(script.Parameter(0, 2), L"42");
  ArchiveModule module = ArchiveModule::Load(QV_OUTPUT_DIR);
  ASSERT_TRUE(module.ExtractAll(folder + L"app.res", root_ + L"out\\"));
  EXPECT_EQ(ReadWholeFile(root_ + L"out\\note.txt"), "n");
}

TEST_F(SetupFolderTest, SourceErrorsWriteNothing) {
  WriteWholeFile(root_ + L"in\\bad.qvs", "Bogus\r\n");
  BuildOptions options;
  options.source = root_ + L"in\\bad.qvs";
  options.stub = ModulePath();
  options.toolFolder = QV_OUTPUT_DIR;
  const BuildOutcome outcome = BuildSetup(options);
  ASSERT_EQ(outcome.errors.size(), 2u);  // the unknown statement, the missing @setup
  EXPECT_EQ(outcome.errors[0].line, 1u);
  EXPECT_FALSE(FolderExists(root_ + L"in\\bad-setup"));
}

}  // namespace
}  // namespace qv::build
