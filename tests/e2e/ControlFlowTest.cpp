// Control flow of real scripts: each case runs a setup whose script writes
// what it did to a text file, then compares the lines.
#include "SetupSandbox.h"

#include <gtest/gtest.h>

namespace qv::test {
namespace {

// Script statements that write to the case's output file ($OUT$).
Stmt Out(const std::wstring& text) { return {L"Write to Text File", {L"$OUT$", text, L"FALSE"}}; }
Stmt Set(const std::wstring& name, const std::wstring& value) {
  return {L"Set Variable", {name + L"$QIVA$QIVA$FALSE", value}};
}
Stmt Cond(const std::wstring& kind, const std::wstring& variable, const std::wstring& code, const std::wstring& value,
          const std::wstring& negate = L"FALSE") {
  return {kind, {variable, code, value, negate}};
}
Stmt If(const std::wstring& v, const std::wstring& value) { return Cond(L"If", v, L"0", value); }
Stmt ElseIf(const std::wstring& v, const std::wstring& value) { return Cond(L"Else If", v, L"0", value); }
Stmt Plain(const std::wstring& name) { return {name, {}}; }
Stmt Commented(Stmt s) {
  s.commentedOut = true;
  return s;
}
Stmt Included(Stmt s, const std::wstring& marker) {
  s.includeMarker = marker;
  return s;
}

struct FlowCase {
  const char* name;
  std::vector<Stmt> statements;
  std::vector<std::wstring> expected;
  DWORD exitCode = 0;
};

std::vector<FlowCase> Cases() {
  const Stmt end = Plain(L"End");
  const Stmt elseStmt = Plain(L"Else");
  return {
      {"failed If without Else continues after End",
       {Set(L"A", L"1"), If(L"A", L"2"), Out(L"in"), end, Out(L"after")},
       {L"after"}},
      {"first true Else If only",
       {Set(L"A", L"1"), If(L"A", L"0"), Out(L"if"), ElseIf(L"A", L"1"), Out(L"elseif1"), ElseIf(L"A", L"1"),
        Out(L"elseif2"), elseStmt, Out(L"else"), end, Out(L"after")},
       {L"elseif1", L"after"}},
      {"true If skips the Else If chain",
       {Set(L"A", L"1"), If(L"A", L"0"), end, If(L"A", L"1"), Out(L"if"), ElseIf(L"A", L"1"), Out(L"elseif"), end},
       {L"if"}},
      {"Else taken when nothing holds",
       {Set(L"A", L"1"), If(L"A", L"5"), Out(L"if"), ElseIf(L"A", L"6"), Out(L"elseif"), elseStmt, Out(L"else"),
        end},
       {L"else"}},
      {"nested chains",
       {Set(L"A", L"1"), Set(L"B", L"2"), If(L"A", L"1"), If(L"B", L"3"), Out(L"b3"), elseStmt, Out(L"not b3"), end,
        Out(L"in a"), elseStmt, Out(L"not a"), If(L"B", L"2"), Out(L"never"), end, end, Out(L"done")},
       {L"not b3", L"in a", L"done"}},
      {"commented-out If and End do not count",
       {Set(L"A", L"1"), If(L"A", L"2"), Commented(If(L"A", L"1")), Out(L"skipped"), Commented(end), end,
        Out(L"after")},
       {L"after"}},
      {"negated condition", {Set(L"A", L"1"), Cond(L"If", L"A", L"0", L"2", L"TRUE"), Out(L"negated"), end},
       {L"negated"}},
      {"While loop counts",
       {Set(L"I", L"a"), Cond(L"While", L"I", L"1", L"aaaa", L"TRUE"), Out(L"$I$"), Set(L"I", L"$I$a"),
        Plain(L"Wend"), Out(L"end")},
       {L"a", L"aa", L"aaa", L"end"}},
      {"Repeat Until",
       {Set(L"I", L""), Plain(L"Repeat"), Set(L"I", L"$I$x"), Out(L"$I$"), Cond(L"Until", L"I", L"0", L"xxx"),
        Out(L"end")},
       {L"x", L"xx", L"xxx", L"end"}},
      {"For Each skips empty items and deletes its variable",
       {{L"For Each", {L"ITEM", L",", L"a,,b,"}}, Out(L"[$ITEM$]"), Plain(L"Next"), Out(L"after $ITEM$")},
       {L"[a]", L"[b]", L"after $ITEM$"}},
      {"Break in For Each deletes the variable",
       {{L"For Each", {L"ITEM", L"|", L"a|b|c"}}, If(L"ITEM", L"b"), Plain(L"Break"), end, Out(L"$ITEM$"),
        Plain(L"Next"), Out(L"after $ITEM$")},
       {L"a", L"after $ITEM$"}},
      {"Continue in While re-tests",
       {Set(L"I", L""), Cond(L"While", L"I", L"1", L"xxx", L"TRUE"), Set(L"I", L"$I$x"), If(L"I", L"xx"),
        Plain(L"Continue"), end, Out(L"$I$"), Plain(L"Wend")},
       {L"x", L"xxx"}},
      {"Continue in Repeat skips the Until test",
       {Set(L"I", L""), Plain(L"Repeat"), Set(L"I", L"$I$x"), If(L"I", L"x"), Plain(L"Continue"), end, Out(L"$I$"),
        Cond(L"Until", L"I", L"0", L"xxx")},
       // "x" goes back to Repeat without reaching Until.
       {L"xx", L"xxx"}},
      {"nested loops with Break leave only the inner",
       {{L"For Each", {L"O", L",", L"1,2"}}, {L"For Each", {L"N", L",", L"a,b"}}, If(L"N", L"b"), Plain(L"Break"),
        end, Out(L"$O$$N$"), Plain(L"Next"), Plain(L"Next")},
       {L"1a", L"2a"}},
      {"GoTo Label forward and out of a branch",
       {Set(L"A", L"1"), If(L"A", L"1"), {L"GoTo Label", {L"there"}}, Out(L"skipped"), end, {L"Label", {L"THERE"}},
        Out(L"landed"), If(L"A", L"2"), Out(L"no"), elseStmt, Out(L"else after goto"), end},
       {L"landed", L"else after goto"}},
      {"Label loop",
       {Set(L"I", L""), {L"Label", {L"top"}}, Set(L"I", L"$I$x"), Out(L"$I$"), Cond(L"If", L"I", L"0", L"xx", L"TRUE"),
        {L"GoTo Label", {L"TOP"}}, end},
       {L"x", L"xx"}},
      {"wizard loop in a silent run walks every dialog",
       {Plain(L"Wizard Loop"), {L"Display Dialog", {L"first", L"R1", L"TRUE", L"", L"", L"FALSE"}},
        {L"Display Dialog", {L"second", L"R2", L"TRUE", L"", L"", L"FALSE"}}, end, Out(L"$R1$ $R2$")},
       {L"NEXT NEXT"}},
      {"include returns a value",
       {Included(Out(L"in include"), L"RES*1"), Included({L"Return from Include Script", {L"forty-two"}}, L"RES*1"),
        Included(Out(L"skipped"), L"RES*1"), Out(L"$RES$")},
       {L"in include", L"forty-two"}},
      {"Return at top level does nothing",
       {{L"Return from Include Script", {L"x"}}, Out(L"went on")},
       {L"went on"}},
      {"Terminate with Exit Code ends at once",
       {Out(L"before"), {L"Terminate with Exit Code", {L"42"}}, Out(L"after")},
       {L"before"},
       42},
      {"Terminate with a non-integer code gives 0",
       {{L"Terminate with Exit Code", {L"abc"}}, Out(L"after")},
       {},
       0},
      {"last statement passive ends normally", {Out(L"one"), Commented(Out(L"two"))}, {L"one"}},
  };
}

TEST(ControlFlow, ScriptsRunAsWritten) {
  for (const auto& c : Cases()) {
    SetupSandbox sandbox;
    const std::wstring out = sandbox.Root() + L"out.txt";
    std::vector<Stmt> statements = {Set(L"OUT", out)};
    statements.insert(statements.end(), c.statements.begin(), c.statements.end());
    const std::wstring exe = sandbox.Build(MakeScript(statements), {{L"a.txt", "a"}});
    const RunResult result = sandbox.Run(exe, L"/s");
    EXPECT_FALSE(result.timedOut) << c.name;
    EXPECT_EQ(result.exitCode, c.exitCode) << c.name;
    std::vector<std::wstring> lines;
    if (GetFileAttributesW(out.c_str()) != INVALID_FILE_ATTRIBUTES) lines = ReadUtf8Lines(out);
    EXPECT_EQ(lines, c.expected) << c.name;
  }
}

}  // namespace
}  // namespace qv::test
