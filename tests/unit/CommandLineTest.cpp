#include "bootstrap/CommandLine.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(CommandLine, RawArgumentText) {
  EXPECT_EQ(RawArguments(L"\"C:\\My Setup\\setup.exe\" /s"), L"/s");
  EXPECT_EQ(RawArguments(L"setup.exe /s X=1"), L"/s X=1");
  EXPECT_EQ(RawArguments(L"setup.exe"), L"");
  EXPECT_EQ(RawArguments(L"\"setup.exe\""), L"");
}

struct SwitchCase {
  const char* name;
  const wchar_t* line;
  bool silent;
  bool noWindow;
};

TEST(CommandLine, Switches) {
  const SwitchCase cases[] = {
      {"upper S", L"setup.exe /S", true, false},
      {"dash qn", L"setup.exe -qn", true, false},
      {"silent is not s", L"setup.exe /silent", false, false},
      {"update", L"setup.exe /UpdateSetup", false, true},
      {"none", L"setup.exe", false, false},
  };
  for (const auto& c : cases) {
    const CommandLine line = ParseCommandLine(c.line);
    EXPECT_EQ(line.silent, c.silent) << c.name;
    EXPECT_EQ(line.noWindow, c.noWindow) << c.name;
  }
}

TEST(CommandLine, PathFormsAreLowerCaseAndFirstWins) {
  const CommandLine line =
      ParseCommandLine(L"setup.exe /L=C:\\Logs\\Setup.txt -l=D:\\other /m=C:\\Wrap\\W.exe /g=\\\\Srv\\Share\\ -p=E:\\Src");
  EXPECT_EQ(line.logPath, L"c:\\logs\\setup.txt");
  EXPECT_EQ(line.wrapperPath, L"c:\\wrap\\w.exe");
  EXPECT_EQ(line.deploymentPath, L"\\\\srv\\share\\");
  EXPECT_EQ(line.sourcePath, L"e:\\src");
}

TEST(CommandLine, Overrides) {
  const CommandLine line = ParseCommandLine(L"setup.exe TARGETDIR=D:\\App -X=1 mode:fast \"Name=a b\"");
  EXPECT_EQ(line.plainOverrides, (std::vector<std::wstring>{L"TARGETDIR", L"D:\\App", L"NAME", L"a b"}));
  // TARGETDIR=D:\App also holds a colon: the strict rule takes it as well.
  EXPECT_EQ(line.strictOverrides, (std::vector<std::wstring>{L"TARGETDIR=D", L"\\App", L"MODE", L"fast"}));
}

TEST(CommandLine, OutOfProcessExtractOnlyAsFirstArgument) {
  EXPECT_TRUE(ParseCommandLine(L"setup.exe OutOfProcessExtract req.txt").outOfProcessExtract);
  EXPECT_FALSE(ParseCommandLine(L"setup.exe /s OutOfProcessExtract").outOfProcessExtract);
}

}  // namespace
}  // namespace qv
