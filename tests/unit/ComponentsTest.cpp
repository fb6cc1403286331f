// The component list and its statements, run through the statement table
// against an in-memory script, and the saved-state format they share with
// the engine cache.
#include "cache/SavedState.h"
#include "bootstrap/Session.h"
#include "commands/VariableSeams.h"
#include "common/Text.h"
#include "components/ComponentList.h"
#include "interpreter/Statements.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace qv {
namespace {

struct Step {
  std::wstring statement;
  std::vector<std::wstring> parameters;
};

// Runs statements one after another through the statement table, sharing one
// store and one component list, as the interpreter would.
class ComponentStatements {
public:
  ComponentStatements() { ResetVariableSeams(); }
  ~ComponentStatements() { ResetVariableSeams(); }

  void Run(const std::vector<Step>& steps) {
    auto script = std::make_unique<Script>();
    std::vector<std::wstring> table;
    for (size_t i = 0; i < steps.size(); ++i) {
      const std::wstring identifier = L"{STATEMENT-" + std::to_wstring(i) + L"}";
      script->names.push_back(steps[i].statement);
      script->identifiers.push_back(identifier);
      table.push_back(identifier);
      table.insert(table.end(), steps[i].parameters.begin(), steps[i].parameters.end());
    }
    script->parameters = ParameterTable(std::move(table));
    session.script = std::move(script);
    for (size_t row = 0; row < steps.size(); ++row) {
      const StatementHandler handler = FindStatementHandler(steps[row].statement);
      ASSERT_NE(handler, nullptr) << "no handler for " << WideToUtf8(steps[row].statement);
      StatementContext context{session, variables, reader, components, row};
      handler(context);
    }
  }

  Session session;
  Variables variables;
  TextFileReader reader;
  ComponentList components;
};

struct Expected {
  const wchar_t* variable;
  const wchar_t* value;
};

struct RuleCase {
  const char* label;
  ComponentLists start;  // as loaded from a saved state
  std::vector<Step> steps;
  std::vector<Expected> expected;
};

Step Define(const wchar_t* name, const wchar_t* selected, const wchar_t* description = L"") {
  return {L"Define Component", {name, selected, description}};
}
Step State(const wchar_t* name, const wchar_t* result) { return {L"Get Component State", {name, result}}; }
Step Space(const wchar_t* name, const wchar_t* result) { return {L"Get Component Space", {name, result}}; }

TEST(ComponentStatementRules, Table) {
  const RuleCase cases[] = {
      {"a definition's flag selects a new component",
       {},
       {Define(L"Core", L"TRUE"), Define(L"Docs", L"FALSE"), State(L"Core", L"CORE"), State(L"Docs", L"DOCS")},
       {{L"CORE", L"TRUE"}, {L"DOCS", L"FALSE"}}},
      {"flags: TRUE in any case or -1; anything else is false",
       {},
       {Define(L"A", L"true"), Define(L"B", L"-1"), Define(L"C", L"1"), Define(L"D", L"yes"), State(L"A", L"A"),
        State(L"B", L"B"), State(L"C", L"C"), State(L"D", L"D")},
       {{L"A", L"TRUE"}, {L"B", L"TRUE"}, {L"C", L"FALSE"}, {L"D", L"FALSE"}}},
      {"a selection loaded as TRUE survives a definition with FALSE",
       {.names = {L"Tools"}, .selection = {L"TRUE"}},
       {Define(L"Tools", L"FALSE"), State(L"Tools", L"TOOLS")},
       {{L"TOOLS", L"TRUE"}}},
      {"a loaded component without a selection takes the definition's flag",
       {.names = {L"Tools", L"Docs"}, .selection = {L"TRUE"}},
       {Define(L"Docs", L"FALSE"), State(L"Docs", L"DOCS")},
       {{L"DOCS", L"FALSE"}}},
      {"names compare without regard to case",
       {},
       {Define(L"Tools\\Debugger", L"TRUE"), {L"Set Component State", {L"TOOLS\\debugger", L"FALSE"}},
        {L"Set Component Space", {L"tools\\DEBUGGER", L"77"}}, State(L"Tools\\Debugger", L"STATE"),
        Space(L"TOOLS\\DEBUGGER", L"SIZE")},
       {{L"STATE", L"FALSE"}, {L"SIZE", L"77"}}},
      {"a deleted component is not chosen until it is defined again",
       {},
       {Define(L"Docs", L"TRUE"), {L"Delete Component", {L"docs"}}, State(L"Docs", L"DELETED"),
        {L"Set Component Space", {L"Docs", L"500"}}, Space(L"", L"NEED"), Define(L"Docs", L"FALSE"),
        State(L"Docs", L"AGAIN"), Space(L"", L"NEED2")},
       {{L"DELETED", L"FALSE"}, {L"NEED", L"0"}, {L"AGAIN", L"TRUE"}, {L"NEED2", L"500"}}},
      {"space needed follows the selection: 3500, then 1000",
       {},
       {Define(L"One", L"TRUE"), Define(L"Two", L"TRUE"), {L"Set Component Space", {L"One", L"1000"}},
        {L"Set Component Space", {L"Two", L"2500"}}, Space(L"", L"BOTH"), {L"Set Component State", {L"Two", L"FALSE"}},
        Space(L"", L"FIRST"), Space(L"Two", L"TWO")},
       {{L"BOTH", L"3500"}, {L"FIRST", L"1000"}, {L"TWO", L"2500"}}},
      {"a size that is not a whole number, or a missing component, changes nothing",
       {},
       {Define(L"One", L"TRUE"), {L"Set Component Space", {L"One", L"300"}}, {L"Set Component Space", {L"One", L"1.5"}},
        {L"Set Component Space", {L"One", L"12kb"}}, {L"Set Component Space", {L"One", L""}},
        {L"Set Component Space", {L"Ghost", L"900"}}, Space(L"One", L"ONE"), Space(L"Ghost", L"GHOST"),
        State(L"Ghost", L"GHOSTSTATE"), Space(L"", L"NEED")},
       {{L"ONE", L"300"}, {L"GHOST", L"0"}, {L"GHOSTSTATE", L"FALSE"}, {L"NEED", L"300"}}},
      {"a size that reads like a component's name is never taken for it",
       {},
       {Define(L"Big", L"TRUE"), {L"Set Component Space", {L"Big", L"2500"}}, Define(L"2500", L"TRUE"),
        Space(L"2500", L"NAMED"), {L"Set Component Space", {L"2500", L"7"}}, Space(L"Big", L"BIG"),
        Space(L"", L"NEED")},
       {{L"NAMED", L"0"}, {L"BIG", L"2500"}, {L"NEED", L"2507"}}},
      {"a size the script carries counts once the component is defined",
       {.sizes = {L"Docs", L"4096"}},
       {Space(L"Docs", L"BEFORE"), Define(L"Docs", L"TRUE"), Space(L"docs", L"AFTER")},
       {{L"BEFORE", L"0"}, {L"AFTER", L"4096"}}},
      {"the result variable may be written $NAME$, and is created when missing",
       {},
       {Define(L"Core", L"TRUE"), State(L"Core", L"$fresh$"), Space(L"Core", L"$size$")},
       {{L"FRESH", L"TRUE"}, {L"SIZE", L"0"}}},
      {"names and sizes are expanded",
       {},
       {{L"Set Variable", {L"PART", L"Docs"}}, {L"Set Variable", {L"BYTES", L"640"}}, Define(L"Main\\$PART$", L"TRUE"),
        {L"Set Component Space", {L"Main\\Docs", L"$BYTES$"}}, Space(L"Main\\$PART$", L"SIZE")},
       {{L"SIZE", L"640"}}},
  };
  for (const RuleCase& rule : cases) {
    SCOPED_TRACE(rule.label);
    ComponentStatements run;
    run.components.Restore(rule.start);
    run.Run(rule.steps);
    for (const Expected& expected : rule.expected)
      EXPECT_EQ(run.variables.Get(expected.variable), expected.value) << WideToUtf8(expected.variable);
  }
}

TEST(ComponentStatementRules, AnEmptyResultVariableStoresNothing) {
  ComponentStatements run;
  run.Run({Define(L"Core", L"TRUE"), State(L"Core", L""), Space(L"", L"")});
  std::vector<std::wstring> names;
  run.variables.Store().ExportNames(names);
  EXPECT_EQ(names, std::vector<std::wstring>{});
}

TEST(ComponentStatementRules, HiddenAndFixedListsKeepEachComponentOnceAndShowTheMarkBelow) {
  ComponentStatements run;
  run.Run({Define(L"Tools", L"TRUE"), Define(L"Tools\\Docs", L"TRUE"), Define(L"ToolsExtra", L"TRUE"),
           {L"Set Component Visibility", {L"Tools", L"FALSE"}}, {L"Set Component Visibility", {L"TOOLS", L"no"}},
           {L"Set Component Choice", {L"tools\\docs", L"FALSE"}}, {L"Set Component Choice", {L"Ghost", L"FALSE"}},
           {L"Set Component Visibility", {L"Ghost", L"FALSE"}}});
  const ComponentList& list = run.components;
  EXPECT_EQ(list.Lists().hidden, std::vector<std::wstring>{L"Tools"});
  EXPECT_EQ(list.Lists().fixed, std::vector<std::wstring>{L"Tools\\Docs"});
  EXPECT_TRUE(list.IsHiddenOrBelowHidden(L"Tools"));
  EXPECT_TRUE(list.IsHiddenOrBelowHidden(L"tools\\docs\\deeper"));
  EXPECT_FALSE(list.IsHiddenOrBelowHidden(L"ToolsExtra")) << "a name that only begins alike is not below";
  EXPECT_FALSE(list.IsFixedOrBelowFixed(L"Tools")) << "a fixed child leaves its parent changeable";
  EXPECT_TRUE(list.IsFixedOrBelowFixed(L"Tools\\Docs\\Deeper"));

  run.Run({{L"Set Component Visibility", {L"tools", L"TRUE"}}, {L"Set Component Choice", {L"Tools\\Docs", L"-1"}}});
  EXPECT_TRUE(run.components.Lists().hidden.empty());
  EXPECT_TRUE(run.components.Lists().fixed.empty());
}

TEST(ComponentStatementRules, ATranslatedNameTakesOverTheAuthoredSize) {
  ComponentStatements run;
  run.components.Reset({L"Tools", L"700"});
  Seams().translate = [](std::wstring_view text, std::wstring_view, int ordinal) {
    if (text == L"Tools" && ordinal == 1) return std::wstring(L"Werkzeuge");
    if (text == L"Handy things" && ordinal == 2) return std::wstring(L"Nützliches");
    return std::wstring(text);
  };
  run.variables.Set(L"LANGUAGE", L"Deutsch", L"Test");
  run.Run({Define(L"Tools", L"TRUE", L"Handy things"), Space(L"Tools", L"SIZE"), Space(L"", L"NEED")});
  ASSERT_EQ(run.components.Count(), 1u);
  EXPECT_EQ(run.components.NameAt(0), L"Werkzeuge");
  EXPECT_EQ(run.components.DescriptionAt(0), L"Nützliches");
  EXPECT_EQ(run.variables.Get(L"SIZE"), L"700") << "the statement's name is translated the same way";
  EXPECT_EQ(run.variables.Get(L"NEED"), L"700");
}

TEST(ComponentList, InstalledBaselineMakesSpaceNeededRelative) {
  ComponentList list;
  list.Restore({.names = {L"Core", L"Docs", L"Old"},
                .selection = {L"TRUE", L"FALSE", L"TRUE"},
                .deleted = {L"Old"},
                .sizes = {L"Core", L"1000", L"Docs", L"2500", L"Old", L"9000"}});
  list.TakeInstalledBaseline();
  EXPECT_EQ(list.InstalledBaseline(), 1000) << "deleted components count nowhere";
  EXPECT_EQ(list.SpaceNeeded(), 0);
  list.SetSelected(L"Docs", true);
  EXPECT_EQ(list.SpaceNeeded(), 2500);
  list.SetSelected(L"Core", false);
  list.SetSelected(L"Docs", false);
  EXPECT_EQ(list.SpaceNeeded(), -1000) << "removing features frees space";
}

TEST(ComponentList, RestoreGivesEveryNameOneSelectionEntry) {
  ComponentList list;
  list.Restore({.names = {L"A"}, .selection = {L"TRUE", L"FALSE"}});
  list.Define(L"B", L"", true);
  EXPECT_TRUE(list.IsChosen(L"B")) << "a surplus saved entry belongs to no component";
  EXPECT_EQ(list.Lists().selection, (std::vector<std::wstring>{L"TRUE", L"TRUE"}));
}

TEST(ComponentList, ASavedChoiceAppliesToExistingComponentsOnly) {
  ComponentList list;
  list.Reset({L"Core", L"10"});
  list.Define(L"Core", L"", true);
  list.Define(L"Docs", L"", false);
  list.SetVisible(L"Docs", false);
  list.ApplySavedChoice({.names = {L"docs", L"Gone"},
                         .selection = {L"TRUE", L"TRUE"},
                         .fixed = {L"Core"},
                         .sizes = {L"Core", L"99999"}});
  EXPECT_TRUE(list.IsChosen(L"Core")) << "a component the file does not name keeps its selection";
  EXPECT_TRUE(list.IsChosen(L"Docs"));
  EXPECT_FALSE(list.Exists(L"Gone"));
  EXPECT_TRUE(list.Lists().hidden.empty()) << "the lists are replaced, not merged";
  EXPECT_EQ(list.Lists().fixed, std::vector<std::wstring>{L"Core"});
  EXPECT_EQ(list.SizeOf(L"Core"), 10) << "the file's sizes are not used";
}

SavedState FullState() {
  SavedState state;
  state.components = {.names = {L"QIVA-PREDEF-COMPONENT", L"Core", L"Docs\\Samples"},
                      .selection = {L"TRUE", L"TRUE", L"FALSE"},
                      .deleted = {},
                      .hidden = {L"Docs\\Samples"},
                      .fixed = {L"Core"},
                      .sizes = {L"Core", L"1000", L"Docs\\Samples", L"0"}};
  state.hasSettings = true;
  state.targetDir = L"C:\\Program Files\\Sample\\";
  state.allUsers = L"TRUE";
  state.startMenu = L"Sample";
  state.dataFolder = L"D:\\setup\\data\\";
  state.remembered = {{L"COLOR", L"blue\r\ngreen"}, {L"EMPTY", L""}, {L"DOLLAR", L"$"}};
  state.bitness = L"x64";
  state.overrideCache = L"";
  state.nativeEngine = L"TRUE";
  return state;
}

TEST(SavedStateFormat, WritesTheListsInOrderAndReadsBackWhatItWrote) {
  const SavedState state = FullState();
  const std::string bytes = FormatSavedState(state);
  ASSERT_TRUE(bytes.starts_with("\xEF\xBB\xBF"));
  EXPECT_TRUE(bytes.starts_with(
      "\xEF\xBB\xBFQIVA-PREDEF-COMPONENT\r\nCore\r\nDocs\\Samples\r\n$\r\nTRUE\r\nTRUE\r\nFALSE\r\n$\r\n$\r\n"
      "Docs\\Samples\r\n$\r\nCore\r\n$\r\nCore\r\n1000\r\nDocs\\Samples\r\n0\r\n$\r\n"
      "C:\\Program Files\\Sample\\\r\nTRUE\r\nSample\r\nD:\\setup\\data\\\r\nCOLOR\r\nblue$NEWLINE$green\r\n"));
  EXPECT_TRUE(bytes.ends_with("QIVA64WOW\r\nx64\r\nOVERRIDECACHE\r\n\r\nNATIVE_ENGINE\r\nTRUE\r\n"));

  const std::optional<SavedState> read = ParseSavedState(bytes);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->components, state.components);
  EXPECT_TRUE(read->hasSettings);
  EXPECT_EQ(read->targetDir, state.targetDir);
  EXPECT_EQ(read->dataFolder, state.dataFolder);
  EXPECT_EQ(read->remembered, state.remembered) << "a value of \"$\" is a value, not a list end";
  EXPECT_EQ(read->bitness, state.bitness);
  EXPECT_EQ(read->overrideCache, state.overrideCache);
  EXPECT_EQ(read->nativeEngine, state.nativeEngine);
}

TEST(SavedStateFormat, ReadsWhatItCanAndRefusesWhatIsNoSavedState) {
  struct Case {
    const char* label;
    std::string bytes;
    bool isState;
    bool hasSettings;
    size_t names;
  };
  const Case cases[] = {
      {"six empty lists, no byte-order mark, LF lines", "$\n$\n$\n$\n$\n$\n", true, false, 0},
      {"lists and settings without closing pairs", "\xEF\xBB\xBF" "A\r\n$\r\nTRUE\r\n$\r\n$\r\n$\r\n$\r\n$\r\nC:\\T\r\nFALSE\r\nM\r\n\r\n",
       true, true, 1},
      {"a list without its end", "A\r\n$\r\nTRUE\r\n$\r\n$\r\n", false, false, 0},
      {"an ordinary text file", "hello\r\nworld\r\n", false, false, 0},
      {"an empty file", "", false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::optional<SavedState> state = ParseSavedState(c.bytes);
    ASSERT_EQ(state.has_value(), c.isState);
    if (!state) continue;
    EXPECT_EQ(state->hasSettings, c.hasSettings);
    EXPECT_EQ(state->components.names.size(), c.names);
    EXPECT_FALSE(state->bitness) << "no closing pairs: the bitness mode stays as it is";
  }
}

}  // namespace
}  // namespace qv
