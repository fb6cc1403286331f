#include "common/Text.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

struct CommaCase {
  const char* name;
  std::vector<std::wstring> items;
  std::wstring text;
};

TEST(CommaText, WritesAndReadsBack) {
  const CommaCase cases[] = {
      {"plain", {L"a", L"b"}, L"a,b"},
      {"space quoted", {L"a b", L"c"}, L"\"a b\",c"},
      {"comma quoted", {L"a,b"}, L"\"a,b\""},
      {"quote doubled", {L"say \"hi\""}, L"\"say \"\"hi\"\"\""},
      {"empty middle field", {L"a", L"", L"b"}, L"a,,b"},
      {"empty last field", {L"a", L""}, L"a,"},
      {"single empty field", {L""}, L"\"\""},
      {"line break quoted", {L"x\r\ny"}, L"\"x\r\ny\""},
      {"no items", {}, L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToCommaText(c.items), c.text) << c.name;
    EXPECT_EQ(FromCommaText(c.text), c.items) << c.name;
  }
}

TEST(CommaText, ReaderSplitsUnquotedBlanksAndSkipsLeadingBlanks) {
  EXPECT_EQ(FromCommaText(L"  a b,c"), (std::vector<std::wstring>{L"a", L"b", L"c"}));
  EXPECT_EQ(FromCommaText(L"\"unterminated"), (std::vector<std::wstring>{L"unterminated"}));
}

TEST(Integers, ParseStrictlyWithinRange) {
  EXPECT_EQ(ParseInt64(L"-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(ParseInt64(L"9223372036854775807"), INT64_MAX);
  EXPECT_FALSE(ParseInt64(L"9223372036854775808"));
  EXPECT_FALSE(ParseInt64(L"12a"));
  EXPECT_FALSE(ParseInt64(L""));
  EXPECT_FALSE(ParseInt32(L"2147483648"));
  EXPECT_EQ(ParseInt32(L"-2147483648"), INT32_MIN);
}

TEST(CaseRules, InvariantComparisonAndReplacement) {
  EXPECT_TRUE(EqualsNoCase(L"Path", L"PATH"));
  EXPECT_TRUE(EqualsNoCase(L"\u00e9t\u00e9", L"\u00c9T\u00c9"));
  EXPECT_FALSE(EqualsNoCase(L"Path", L"Paths"));
  EXPECT_EQ(ReplaceAllNoCase(L"a$Space_Safe$b$SPACE_SAFE$", L"$space_safe$", L" "), L"a b ");
}

}  // namespace
}  // namespace qv
