#include "interpreter/VariableStore.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(VariableStore, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
  TVariableManager store;
  store.SetValue(L"Path", L"a");
  store.SetValue(L"PATH", L"b");
  std::vector<std::wstring> pairs;
  EXPECT_EQ(store.ExportPairs(pairs), 2u);
  EXPECT_EQ(pairs, (std::vector<std::wstring>{L"Path", L"b"}));
  EXPECT_EQ(store.GetValue(L"path"), L"b");
}

TEST(VariableStore, UndefinedReadsEmptyButExistsTellsTheDifference) {
  TVariableManager store;
  store.SetValue(L"EMPTY", L"");
  EXPECT_EQ(store.GetValue(L"NOPE"), L"");
  EXPECT_TRUE(store.Exists(L"EMPTY"));
  EXPECT_FALSE(store.Exists(L"NOPE"));
  store.SetValue(L"", L"ignored");
  EXPECT_FALSE(store.Exists(L""));
  store.Remove(L"empty");
  EXPECT_FALSE(store.Exists(L"EMPTY"));
}

TEST(VariableStore, ManyEntriesStayReachable) {
  TVariableManager store;
  for (int i = 0; i < 1000; ++i) store.SetValue(L"V" + std::to_wstring(i), std::to_wstring(i));
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(store.GetValue(L"v" + std::to_wstring(i)), std::to_wstring(i));
  EXPECT_EQ(store.Count(), 1000u);
}

struct ExpandCase {
  const char* name;
  std::wstring text;
  std::wstring expanded;
  std::wstring quoted;
};

TEST(VariableStore, ExpandsReferencesRecursively) {
  TVariableManager store;
  store.SetValue(L"A", L"1$B$2");
  store.SetValue(L"B", L"z");
  store.SetValue(L"V", L"v");
  const ExpandCase cases[] = {
      {"nested value", L"x$A$y", L"x1z2y", L"x\"1\"z\"2\"y"},
      {"undefined opens the next", L"$U$V$", L"$Uv", L"$U\"v\""},
      {"undefined stays", L"a$U$b", L"a$U$b", L"a$U$b"},
      {"lone dollar", L"5$", L"5$", L"5$"},
      {"no dollar", L"plain", L"plain", L"plain"},
      {"case ignored", L"$v$$b$", L"vz", L"\"v\"\"z\""},
      {"empty name", L"$$V$", L"$v", L"$\"v\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(store.Expand(c.text), c.expanded) << c.name;
    EXPECT_EQ(store.ExpandQuoted(c.text), c.quoted) << c.name;
  }
}

TEST(VariableStore, SelfFeedingValuesAreBounded) {
  TVariableManager store;
  store.SetValue(L"A", L"x$A$");
  store.SetValue(L"D", L"$D$$D$");
  const std::wstring grown = store.Expand(L"$A$");
  EXPECT_LE(grown.size(), TVariableManager::kMaxReplacements + 3);
  EXPECT_NE(grown.find(L"$A$"), std::wstring::npos) << "the rest stays unexpanded";
  EXPECT_LE(store.Expand(L"$D$").size(), TVariableManager::kMaxExpandedLength);
}

class VariablesTest : public ::testing::Test {
protected:
  Variables variables;
};

TEST_F(VariablesTest, AssigningOwnReferenceClears) {
  variables.Set(L"A", L"$a$", L"Set Variable Action");
  EXPECT_TRUE(variables.Exists(L"A"));
  EXPECT_EQ(variables.Get(L"A"), L"");
  variables.Set(L"A", L"x", L"Set Variable Action");
  variables.Set(L"a", L"$A$", L"Set Variable Action");
  EXPECT_EQ(variables.Get(L"A"), L"");
}

struct OverrideCase {
  const char* name;
  bool silent;
  std::wstring variable;
  std::wstring source;
  bool assigned;
};

TEST_F(VariablesTest, CommandLineOverridesProtectTheirNames) {
  const OverrideCase cases[] = {
      {"plain, silent, script", true, L"TARGETDIR", L"Set Variable Action", false},
      {"plain, not silent, script", false, L"TARGETDIR", L"Set Variable Action", true},
      {"plain, silent, override source", true, L"TARGETDIR", std::wstring(kSourceOverride), true},
      {"strict, not silent, script", false, L"STRICT", L"Set Variable Action", false},
      {"strict, plain override source", false, L"STRICT", std::wstring(kSourceOverride), false},
      {"strict, strict source", false, L"STRICT", std::wstring(kSourceOverrideStrict), true},
      {"value position does not protect", true, L"D:\\APP", L"Set Variable Action", true},
  };
  for (const auto& c : cases) {
    variables.Clear();
    variables.SetOverrides({L"TARGETDIR", L"D:\\APP"}, {L"STRICT", L"1"});
    variables.Set(L"SILENT", c.silent ? L"TRUE" : L"FALSE", L"Initialization");
    variables.Set(c.variable, L"old", L"Initialization");
    variables.Set(c.variable, L"new", c.source);
    EXPECT_EQ(variables.Get(c.variable), c.assigned ? L"new" : L"old") << c.name;
  }
}

TEST_F(VariablesTest, CommaTextImportExportAndClear) {
  variables.Import(L"A,\"x y\",B,,ODD");
  EXPECT_EQ(variables.Get(L"A"), L"x y");
  EXPECT_TRUE(variables.Exists(L"B"));
  EXPECT_FALSE(variables.Exists(L"ODD"));
  Variables copy;
  copy.Import(variables.Export());
  EXPECT_EQ(copy.Get(L"a"), L"x y");
  variables.Clear();
  EXPECT_EQ(variables.Store().Count(), 0u);
}

}  // namespace
}  // namespace qv
