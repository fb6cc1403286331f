#include "script/StatementSchema.h"

#include "common/Text.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace qv {
namespace {

bool IsKeyword(std::wstring_view text) {
  if (text.empty() || text.front() == L'-' || text.back() == L'-') return false;
  for (const wchar_t c : text)
    if (!((c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-')) return false;
  return true;
}

TEST(StatementSchema, RowsAreWellFormed) {
  std::set<std::wstring> names;
  for (const auto& spec : AllStatements()) {
    SCOPED_TRACE(WideToUtf8(spec.name));
    EXPECT_TRUE(names.insert(UpperCase(spec.name)).second) << "listed twice (names are matched without case)";
    EXPECT_EQ(FindStatement(spec.name), &spec);
    std::set<std::wstring> keywords;
    const auto params = spec.parameters();
    for (size_t i = 0; i < params.size(); ++i) {
      const auto& p = params[i];
      EXPECT_TRUE(IsKeyword(p.name)) << WideToUtf8(p.name);
      EXPECT_TRUE(keywords.insert(p.name).second) << WideToUtf8(p.name) << " twice";
      EXPECT_NE(std::wstring_view(p.name), L"id") << "reserved keyword";
      EXPECT_NE(std::wstring_view(p.name), L"media") << "reserved keyword";
      EXPECT_NE(std::wstring_view(p.name), L"extra") << "reserved keyword";
      if (p.kind == ParameterKind::Number && p.defaultText) {
        EXPECT_TRUE(ParseInt64(p.defaultText)) << WideToUtf8(p.name);
      }
      if (p.joinSeparator) {
        EXPECT_GT(i, 0u) << "a joined parameter needs a line to join";
      }
      EXPECT_EQ(spec.FindParameter(p.name), static_cast<int>(i));
    }
  }
  EXPECT_EQ(FindStatement(L"set variable"), nullptr);  // exact lookup
}

// Block lengths the engine relies on, statement by statement.
TEST(StatementSchema, BlockLengthsMatchTheAppendedFormat) {
  const struct {
    const wchar_t* name;
    size_t lines;
  } cases[] = {
      {L"If", 4}, {L"Else If", 4}, {L"While", 4}, {L"Until", 4}, {L"Set Variable", 2}, {L"Label", 1},
      {L"GoTo Label", 1}, {L"Display Dialog", 6}, {L"MessageBox", 5}, {L"Mathematics", 4}, {L"Replace String", 5},
      {L"Parse String", 7}, {L"Get INI File Settings", 4}, {L"Read from Text File", 3}, {L"Get Folder Location", 3},
      {L"Get System Settings", 2}, {L"Run Program", 5}, {L"Define Component", 3}, {L"Get Component State", 2},
      {L"Set Component State", 2}, {L"Apply Changes", 4}, {L"Web Media Block", 3}, {L"Code Folding Region", 2},
      {L"Terminate with Exit Code", 1}, {L"Evaluate Expression", 2}, {L"For Each", 3},
      {L"Return from Include Script", 1}, {L"End", 0}, {L"Else", 0}, {L"Wizard Loop", 0}, {L"Hide Dialog", 0},
      {L"Terminate Install", 0}, {L"Reboot Computer", 0}, {L"Reboot and Resume", 0}, {L"Wend", 0}, {L"Repeat", 0},
      {L"Next", 0}, {L"Break", 0}, {L"Continue", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.name));
    const StatementSpec* spec = FindStatement(c.name);
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->LineCount(), c.lines);
  }
}

TEST(StatementSchema, SetVariableJoinsRememberIntoTheNameLine) {
  const StatementSpec* spec = FindStatement(L"Set Variable");
  ASSERT_NE(spec, nullptr);
  const int remember = spec->FindParameter(L"remember");
  ASSERT_GE(remember, 0);
  EXPECT_EQ(std::wstring_view(spec->parameters()[remember].joinSeparator), kRememberSeparator);
  EXPECT_EQ(spec->LineOf(remember), 1u);
  EXPECT_EQ(spec->LineOf(spec->FindParameter(L"value")), 2u);
}

}  // namespace
}  // namespace qv
