#include "interpreter/VariableStore.h"
#include "script/Compiler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv {
namespace {

struct Statement {
  std::wstring name;
  std::vector<std::wstring> parameters;
  bool commentedOut = false;
};

// A statement table in memory: identifiers "{0}", "{1}", ... with one
// parameter block per statement that has parameters.
Script MakeScript(const std::vector<Statement>& statements) {
  Script script;
  std::vector<std::wstring> lines;
  for (size_t i = 0; i < statements.size(); ++i) {
    const std::wstring id = L"{" + std::to_wstring(i) + L"}";
    script.names.push_back(statements[i].name);
    script.identifiers.push_back(id);
    script.states.push_back(statements[i].commentedOut ? L"C" : L"");
    if (statements[i].parameters.empty()) continue;
    lines.push_back(id);
    lines.insert(lines.end(), statements[i].parameters.begin(), statements[i].parameters.end());
  }
  script.parameters = ParameterTable(std::move(lines));
  return script;
}

CompileResult Compile(const std::vector<Statement>& statements) {
  Variables symbols;
  return CompileScript(MakeScript(statements), symbols);
}

// Frequently used statements.
Statement If(std::wstring variable, std::wstring compare = L"0", std::wstring value = L"x") {
  return {L"If", {std::move(variable), std::move(compare), std::move(value), L"FALSE"}};
}
Statement Until(std::wstring variable) { return {L"Until", {std::move(variable), L"0", L"x", L"FALSE"}}; }
Statement While() { return {L"While", {L"TITLE", L"0", L"x", L"FALSE"}}; }
Statement ForEach(std::wstring variable) { return {L"For Each", {std::move(variable), L",", L"a,b"}}; }
Statement SetVariable(std::wstring target) { return {L"Set Variable", {std::move(target), L"value"}}; }
// Blocks are complete, as the builder writes them: a short block would read
// its missing lines from the next one.
Statement Dialog(std::wstring name) { return {L"Display Dialog", {std::move(name), L"", L"", L"", L"", L""}}; }
Statement Plain(std::wstring name) { return {std::move(name), {}}; }
Statement CommentedOut(Statement statement) {
  statement.commentedOut = true;
  return statement;
}

constexpr int64_t kNoRow = CompileResult::kNoRow;

struct FaultCase {
  const char* name;
  std::vector<Statement> statements;
  int64_t row;
  std::wstring message;
};

TEST(CompileScript, ReportsTheFirstFaultWithItsRow) {
  const std::wstring syntaxError =
      L"Syntax error in expression. Please review the help topic \"Evaluate Expression\" for the correct syntax.";
  const FaultCase cases[] = {
      // Block structure.
      {"end beyond the openers is a count fault", {If(L"TITLE"), Plain(L"End"), Plain(L"End")}, kNoRow,
       L"Too many END statements"},
      {"end before its if", {Plain(L"End"), If(L"TITLE")}, 0, L"IF conditional closed outside of IF conditional scope"},
      {"end cuts across a while", {If(L"TITLE"), While(), Plain(L"End"), Plain(L"Wend")}, 2,
       L"IF conditional closed outside of LOOP scope"},
      {"wend cuts across an if", {While(), If(L"TITLE"), Plain(L"Wend"), Plain(L"End")}, 2,
       L"WHILE loop closed outside of CONDITIONAL or REPEAT or FOR EACH loop scope"},
      {"wend without while", {Plain(L"Wend"), While()}, 0, L"WHILE loop closed outside of WHILE loop scope"},
      {"until without repeat", {Until(L"TITLE")}, 0, L"REPEAT loop closed outside of REPEAT loop scope"},
      {"until cuts across a while", {Plain(L"Repeat"), While(), Until(L"TITLE"), Plain(L"Wend")}, 2,
       L"REPEAT loop closed outside of CONDITIONAL or WHILE or FOR EACH loop scope"},
      {"next without for each", {Plain(L"Next")}, 0, L"FOR EACH loop closed outside of FOR EACH loop scope"},
      {"next cuts across a repeat", {ForEach(L"I"), Plain(L"Repeat"), Plain(L"Next"), Until(L"TITLE")}, 2,
       L"FOR EACH loop closed outside of CONDITIONAL or REPEAT or WHILE loop scope"},
      {"break at top level", {Plain(L"Break")}, 0, L"Break not allowed outside of LOOP scope"},
      {"break inside a conditional only", {If(L"TITLE"), Plain(L"Break"), Plain(L"End")}, 1,
       L"Break not allowed outside of LOOP scope"},
      {"continue after the loop closed", {While(), Plain(L"Wend"), Plain(L"Continue")}, 2,
       L"Continue not allowed outside of LOOP scope"},
      {"nested for each over the same variable",
       {ForEach(L"i"), ForEach(L"$I$"), Plain(L"Next"), Plain(L"Next")}, 1,
       L"FOR EACH variable re-used inside nested FOR EACH loop"},
      {"label inside a conditional", {If(L"TITLE"), {L"Label", {L"L"}}, Plain(L"End")}, 1,
       L"LABEL statements cannot be nested inside loops/conditionals"},
      {"label inside a wizard loop", {Plain(L"Wizard Loop"), {L"Label", {L"L"}}, Plain(L"End")}, 1,
       L"LABEL statements cannot be nested inside loops/conditionals"},
      {"structure is checked before statements", {{L"Get Folder Location", {L""}}, Plain(L"Wend")}, 1,
       L"WHILE loop closed outside of WHILE loop scope"},
      // Counts, END first.
      {"if left open", {If(L"TITLE")}, kNoRow, L"Insufficient END statements"},
      {"wizard loop left open", {Plain(L"Wizard Loop"), Dialog(L"D")}, kNoRow,
       L"Insufficient END statements"},
      {"while left open", {While()}, kNoRow, L"Insufficient WEND statements"},
      {"repeat left open", {Plain(L"Repeat")}, kNoRow, L"Insufficient UNTIL statements"},
      {"for each left open", {ForEach(L"I")}, kNoRow, L"Insufficient NEXT statements"},
      {"end counted before wend", {While(), If(L"TITLE")}, kNoRow, L"Insufficient END statements"},
      {"commented-out end does not close", {If(L"TITLE"), CommentedOut(Plain(L"End"))}, kNoRow,
       L"Insufficient END statements"},
      // Labels.
      {"label defined twice", {{L"Label", {L"Start"}}, {L"Label", {L"START"}}}, 1, L"LABEL re-defined: START"},
      {"goto to no label", {{L"GoTo Label", {L"Nowhere"}}}, 0, L"LABEL undefined: Nowhere"},
      // Statement checks.
      {"web media block without url", {{L"Web Media Block", {L"Disk1", L""}}}, 0,
       L"Web Media Block must have at least one download URL"},
      {"result variable missing", {{L"Get Folder Location", {L"", L"5"}}}, 0, L"Variable required"},
      {"set variable without a name", {SetVariable(L"$QIVA$QIVA$TRUE")}, 0, L"Variable required"},
      {"second parameter required", {{L"Get File Version", {L"C:\\a.dll", L""}}}, 0, L"Variable required"},
      {"fourth parameter required", {{L"Find All Files", {L"C:\\", L"*.*", L"TRUE", L""}}}, 0,
       L"Variable required"},
      {"mathematics needs a result", {{L"Mathematics", {L"1", L"2", L"0", L""}}}, 0, L"Variable required"},
      {"parse string needs a target", {{L"Parse String", {L"a,b", L",", L"", L""}}}, 0, L"Variable required"},
      {"read registry needs the part before the bar", {{L"Read Registry", {L"|HKLM", L"key"}}}, 0,
       L"Variable required"},
      {"system restore switched on needs its result", {{L"System Restore", {L"true", L"Point", L""}}}, 0,
       L"Variable required"},
      {"malformed expression", {{L"Evaluate Expression", {L"$A$ == \"1\"", L"R"}}}, 0, syntaxError},
      {"expression left open", {{L"Evaluate Expression", {L"($A$ = \"1\"", L"R"}}}, 0, syntaxError},
      {"expression without result", {{L"Evaluate Expression", {L"\"a\" = \"a\"", L""}}}, 0, L"Variable required"},
      {"dialog without name", {{L"Display Dialog", {L"", L"R"}}}, 0, L"Dialog name not specified"},
      {"dialog bound to an unknown variable", {{L"Display Dialog", {L"D", L"", L"", L"$NOPE$"}}}, 0,
       L"Variable not defined: $NOPE$"},
      {"convert case of an unknown variable", {{L"Convert Case", {L"NOPE", L"TRUE"}}}, 0,
       L"Variable not defined: NOPE"},
      {"if on a variable set later", {If(L"LATER"), Plain(L"End"), SetVariable(L"LATER")}, 0,
       L"Variable not defined: LATER"},
      {"if without a variable", {If(L""), Plain(L"End")}, 0, L"Variable required"},
      {"if value names an unknown variable", {If(L"TITLE", L"0", L"$NOPE$"), Plain(L"End")}, 0,
       L"Variable not defined: $NOPE$"},
      {"both sides unknown: the value is named", {If(L"A", L"0", L"$B$"), Plain(L"End")}, 0,
       L"Variable not defined: $B$"},
      {"until on an unknown variable", {Plain(L"Repeat"), Until(L"NOPE")}, 1, L"Variable not defined: NOPE"},
      {"for each over a predefined variable", {ForEach(L"TITLE"), Plain(L"Next")}, 0,
       L"FOR EACH variable previously defined outside FOR EACH loop"},
      {"for each over a set variable", {SetVariable(L"ITEM"), ForEach(L"$item$"), Plain(L"Next")}, 1,
       L"FOR EACH variable previously defined outside FOR EACH loop"},
      {"for each variable gone after next", {ForEach(L"I"), Plain(L"Next"), If(L"I"), Plain(L"End")}, 2,
       L"Variable not defined: I"},
      {"delete files without a mode", {{L"Delete Files", {L"C:\\x", L"*.tmp", L"FALSE", L"1"}}}, 0,
       L"At least one delete mode must be selected"},
      {"install files without target", {{L"Install Files", {L"files", L"*.*", L""}}}, 0,
       L"A target folder must be specified for files that are being installed.\r"
       L"The value $TARGETDIR$ represents the destination folder chosen by the user."},
      // Wizard loops.
      {"set variable inside a wizard loop", {Plain(L"Wizard Loop"), SetVariable(L"X"), Plain(L"End")}, 1,
       L"Statements other than DISPLAY DIALOG not allowed inside WIZARD LOOP"},
      {"wizard loop inside a wizard loop",
       {Plain(L"Wizard Loop"), Plain(L"Wizard Loop"), Plain(L"End"), Plain(L"End")}, 1,
       L"Statements other than DISPLAY DIALOG not allowed inside WIZARD LOOP"},
  };
  for (const auto& c : cases) {
    const CompileResult result = Compile(c.statements);
    EXPECT_EQ(result.result, c.row) << c.name;
    EXPECT_EQ(result.message, c.message) << c.name;
  }
}

struct PassCase {
  const char* name;
  std::vector<Statement> statements;
};

TEST(CompileScript, AcceptsWellFormedScripts) {
  const PassCase cases[] = {
      {"empty table", {}},
      {"label after the block's end", {If(L"TITLE"), Plain(L"End"), {L"Label", {L"After"}}}},
      {"goto to a label defined later", {{L"GoTo Label", {L"later"}}, {L"Label", {L"Later"}}}},
      {"exists test on a variable set later", {If(L"LATER", L"5"), Plain(L"End"), SetVariable(L"LATER")}},
      {"remembered variable is defined everywhere",
       {If(L"SAVED"), Plain(L"End"), SetVariable(L"saved$QIVA$QIVA$TRUE")}},
      {"result variables become defined",
       {{L"Get Folder Location", {L"$folder$", L"5"}}, If(L"FOLDER", L"0", L"$Folder$"), Plain(L"End"),
        {L"Convert Path", {L"folder", L"TRUE"}}}},
      {"optional result declared when given",
       {{L"Run Program", {L"a.exe", L"", L"", L"TRUE", L"EXIT"}}, If(L"EXIT"), Plain(L"End")}},
      {"dialog result and bound variable",
       {{L"Display Dialog", {L"Welcome", L"RESULT", L"", L"TARGETDIR"}}, If(L"RESULT"), Plain(L"End")}},
      {"commented-out faults are passed over",
       {CommentedOut(Plain(L"Wend")), CommentedOut({L"Get Folder Location", {L""}}),
        CommentedOut(Plain(L"Break")), CommentedOut({L"GoTo Label", {L"Nowhere"}}),
        CommentedOut({L"Label", {L"X"}}), {L"Label", {L"X"}}}},
      {"wizard loop of dialogs, comments and ignored statements",
       {Plain(L"Wizard Loop"), Dialog(L"A"), {L"Comment", {L"text"}}, {L"Ignore", {L"x"}},
        CommentedOut(SetVariable(L"X")), Dialog(L"B"), Plain(L"End")}},
      {"wizard loop inside a conditional inside a loop",
       {While(), If(L"TITLE"), Plain(L"Wizard Loop"), Dialog(L"A"), Plain(L"End"), Plain(L"End"),
        Plain(L"Wend")}},
      {"conditional chain around wizard loops",
       {If(L"MAINTENANCE"), Plain(L"Wizard Loop"), Dialog(L"A"), Plain(L"End"), Plain(L"Else"),
        Plain(L"Wizard Loop"), Dialog(L"B"), Plain(L"End"), Plain(L"End")}},
      {"nested loops with break and continue",
       {While(), Plain(L"Repeat"), ForEach(L"I"), If(L"I"), Plain(L"Break"), Plain(L"End"), Plain(L"Continue"),
        Plain(L"Next"), Until(L"TITLE"), Plain(L"Wend")}},
      {"for each variable used again after its loop",
       {ForEach(L"I"), Plain(L"Next"), ForEach(L"i"), Plain(L"Next")}},
      {"mathematics seeding without result", {{L"Mathematics", {L"7", L"3", L"13", L""}}}},
      {"parse string with one target", {{L"Parse String", {L"a,b", L",", L"", L"SECOND"}}}},
      {"system restore switched off", {{L"System Restore", {L"FALSE", L"", L""}}}},
      {"read registry with its bar", {{L"Read Registry", {L"VALUE|HKLM", L"key"}}, If(L"VALUE"), Plain(L"End")}},
      {"delete files with -1 mode", {{L"Delete Files", {L"C:\\x", L"*.tmp", L"FALSE", L"-1"}}}},
      {"well-formed expression over references",
       {{L"Evaluate Expression", {L"$A$ = \"1\" and ($B$ <> \"x\" or \"5\" < \"10\")", L"R"}}}},
      {"unknown statement names are ignored", {{L"Something New", {L""}}}},
  };
  for (const auto& c : cases) {
    const CompileResult result = Compile(c.statements);
    EXPECT_TRUE(result.Passed()) << c.name << ": row " << result.result;
    EXPECT_EQ(result.message, L"Script compiled successfully") << c.name;
  }
}

TEST(CompileScript, WebMediaBlockNameFollowsFileNameRules) {
  struct Case {
    const wchar_t* block;
    bool legal;
  };
  const Case cases[] = {
      {L"Disk1", true},     {L"Web Block.v2", true}, {L"", false},     {L"a?b", false},     {L"a/b", false},
      {L"a\\b", false},     {L"a:b", false},         {L"a\tb", false}, {L"name.", false},   {L"name ", false},
      {L"CON", false},      {L"nul.7z", false},      {L"COM1", false}, {L"lpt9.txt", false}, {L"COM10", true},
      {L"CONSOLE", true},   {L"..", false},
  };
  for (const auto& c : cases) {
    const CompileResult result = Compile({{L"Web Media Block", {c.block, L"https://example.test/a.7z"}}});
    EXPECT_EQ(result.Passed(), c.legal) << "block name " << testing::PrintToString(std::wstring(c.block));
    if (!c.legal) {
      EXPECT_EQ(result.message, L"Web Media Block name must be a legal file name");
    }
  }
}

TEST(CompileScript, MarksInstallStatements) {
  const CompileResult result = Compile({
      {L"Install Files", {L"files", L"*.*", L"$TARGETDIR$"}},
      SetVariable(L"X"),
      CommentedOut({L"Write Registry", {L"HKLM"}}),
      {L"Delete Files", {L"C:\\x", L"*.tmp", L"TRUE", L"FALSE"}},
      {L"Create Shortcut", {L"a.lnk"}},
      {L"Apply Changes", {L"", L"DONE"}},
  });
  ASSERT_TRUE(result.Passed()) << result.result;
  EXPECT_EQ(result.installFlags, (std::vector<std::wstring>{L"FALSE", L"SKIP", L"SKIP", L"FALSE", L"FALSE", L"SKIP"}));
}

TEST(CompileScript, StartsFromTheEngineSymbols) {
  Variables symbols;
  symbols.Set(L"STALE", L"1", L"Test");
  const Script script = MakeScript({If(L"NATIVE_ENGINE"), Plain(L"End"), If(L"STALE"), Plain(L"End")});
  const CompileResult result = CompileScript(script, symbols);
  EXPECT_EQ(result.result, 2);
  EXPECT_EQ(result.message, L"Variable not defined: STALE");
  EXPECT_EQ(symbols.Get(L"NATIVE_ERROR"), L"PROMPT");
  EXPECT_EQ(symbols.Get(L"NATIVE_ROLLBACK"), L"TRUE");
}

// A table whose columns and parameter blocks fall short of its names must be
// judged, not read past.
TEST(CompileScript, SurvivesMissingColumnsAndParameters) {
  Script script;
  script.names = {L"For Each", L"Next", L"Label", L"GoTo Label", L"Set Variable", L"Read Registry",
                  L"Web Media Block", L"Display Dialog", L"Wizard Loop", L"End"};
  script.identifiers = {L"{0}"};
  Variables symbols;
  const CompileResult result = CompileScript(script, symbols);
  EXPECT_EQ(result.result, 0);
  EXPECT_EQ(result.message, L"Variable required");
  EXPECT_EQ(result.installFlags.size(), script.names.size());
}

}  // namespace
}  // namespace qv
