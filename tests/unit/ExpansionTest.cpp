#include "interpreter/Expansion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv {
namespace {

struct TextCase {
  const char* name;
  std::wstring text;
  std::wstring expected;
};

class ExpansionTest : public ::testing::Test {
protected:
  void Define(std::wstring_view name, std::wstring_view value) { variables.Set(name, value, L"Test"); }
  Variables variables;
};

TEST_F(ExpansionTest, PathParametersCollapseDoubledBackslashesButKeepNetworkPaths) {
  Define(L"TARGETDIR", L"C:\\App\\");
  Define(L"X", L"a");
  Define(L"A", L"$B$");
  Define(L"B", L"x");
  Define(L"SHARE", L"\\\\srv\\share\\");
  const TextCase cases[] = {
      {"folder ending in a backslash", L"$TARGETDIR$\\bin", L"C:\\App\\bin"},
      {"network path", L"\\\\srv\\share\\$X$", L"\\\\srv\\share\\a"},
      {"network path from a variable", L"$SHARE$\\f", L"\\\\srv\\share\\f"},
      {"three become two", L"a\\\\\\b", L"a\\\\b"},
      {"four become two", L"a\\\\\\\\b", L"a\\\\b"},
      {"reference inside a value", L"$A$", L"x"},
      {"trailing dollar", L"100$", L"100$"},
      {"lone dollar", L"$", L"$"},
      {"undefined reference with a space", L"$5 off$", L"$5 off$"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExpandPath(variables, c.text), c.expected) << c.name;
}

TEST(ExpansionNames, DollarFormAndPlainFormNameTheSameVariable) {
  const TextCase cases[] = {
      {"reference form", L"$count$", L"count"},
      {"plain form", L"RESULT", L"RESULT"},
      {"two references stay literal", L"$A$B$", L"$A$B$"},
      {"empty between dollars", L"$$", L"$$"},
      {"lone dollar", L"$", L"$"},
      {"no closing dollar", L"$X", L"$X"},
      {"only a closing dollar", L"X$", L"X$"},
      {"empty", L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadVariableName(c.text), c.expected) << c.name;
}

TEST(ExpansionCompilerVariables, ReplacedIgnoringCaseUntilStable) {
  // MINOR comes before VERSION, so "#MINOR#" brought in by VERSION needs a
  // second pass.
  const std::vector<std::wstring> pairs{
      L"MINOR", L"1",   L"VERSION", L"2.#MINOR#", L"Product", L"Quorvane", L"SELF", L"#SELF#",
      L"",      L"gap", L"ODD"};
  const TextCase cases[] = {
      {"no token", L"plain text", L"plain text"},
      {"case ignored and nested", L"#product# #Version#", L"Quorvane 2.1"},
      {"unknown token stays", L"#NOPE# and C#", L"#NOPE# and C#"},
      {"self reference stops", L"#SELF#", L"#SELF#"},
      {"empty name is no token", L"a##b", L"a##b"},
      {"odd trailing name ignored", L"#ODD#", L"#ODD#"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReplaceCompilerVariables(c.text, pairs), c.expected) << c.name;
}

TEST(ExpansionCompilerVariables, DefinitionsFeedingEachOtherStop) {
  const std::vector<std::wstring> pairs{L"A", L"x#B#", L"B", L"#A#"};
  const std::wstring result = ReplaceCompilerVariables(L"#A#", pairs);
  EXPECT_LE(result.size(), static_cast<size_t>(kMaxCompilerVariablePasses) + 3);
  EXPECT_TRUE(result.starts_with(L"xx")) << "earlier passes are kept";
}

TEST(ExpansionCommaLists, NormalisedToCanonicalQuoting) {
  const TextCase cases[] = {
      {"space inside an unquoted item", L"a b,c", L"\"a b\",c"},
      {"quoted comma kept", L"\"x,y\",z", L"\"x,y\",z"},
      {"leading space kept", L" a,b", L"\" a\",b"},
      {"inner quotes doubled", L"say \"hi\"", L"\"say \"\"hi\"\"\""},
      {"empty item", L"a,,b", L"a,,b"},
      {"empty list", L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(NormaliseCommaList(c.text), c.expected) << c.name;
}

TEST(ExpansionLineBreaks, ConvertBothWays) {
  EXPECT_EQ(NewlineTokensToBreaks(L"a$newline$b$NEWLINE$"), L"a\r\nb\r\n");
  EXPECT_EQ(BreaksToNewlineTokens(L"a\r\nb\nc\rd\r\n"), L"a$NEWLINE$b\nc\rd$NEWLINE$")
      << "only CR LF pairs are line breaks";
  EXPECT_EQ(BreaksToNewlineTokens(NewlineTokensToBreaks(L"x$NEWLINE$y")), L"x$NEWLINE$y");
}

TEST_F(ExpansionTest, BoundLookupTellsUndefinedFromEmpty) {
  Define(L"X", L"$Y$!");
  Define(L"Y", L"y");
  Define(L"EMPTY", L"");
  struct LookupCase {
    const char* name;
    std::wstring text;
    std::wstring_view marker;
    std::wstring expected;
  };
  const LookupCase cases[] = {
      {"reference form, expanded value", L"$x$", kUndefinedToken, L"y!"},
      {"plain form", L"X", {}, L"y!"},
      {"undefined with the marker", L"$NOPE$", kUndefinedToken, L"$QIVANX$"},
      {"undefined without the marker", L"NOPE", {}, L""},
      {"defined empty is not undefined", L"EMPTY", kUndefinedToken, L""},
  };
  for (const auto& c : cases) EXPECT_EQ(LookupBoundVariable(variables, c.text, c.marker), c.expected) << c.name;
}

}  // namespace
}  // namespace qv
