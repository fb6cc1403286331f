// Conditions, "Evaluate Expression" and "Mathematics": the pure evaluators
// through case tables, and the statements through a one-statement script.
#include "interpreter/Expression.h"

#include "bootstrap/Session.h"
#include "common/Error.h"
#include "interpreter/Statements.h"
#include "interpreter/VariableStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qv {
namespace {

// One statement with its parameter lines, run against a real store.
class StatementFixture : public ::testing::Test {
protected:
  StatementContext Statement(std::wstring name, std::vector<std::wstring> parameters) {
    auto script = std::make_unique<Script>();
    script->names = {std::move(name)};
    script->identifiers = {L"{S1}"};
    parameters.insert(parameters.begin(), L"{S1}");
    script->parameters = ParameterTable(std::move(parameters));
    session.script = std::move(script);
    return StatementContext{session, variables, reader, components, 0};
  }

  Variables variables;
  Session session;
  TextFileReader reader;
  ComponentList components;
};

// --- Conditions -----------------------------------------------------------

struct CompareCase {
  const char* name;
  std::wstring a, code, b;
  bool expected;
};

TEST(ConditionCompare, CodesWithNumberAndTextFallbacks) {
  const CompareCase cases[] = {
      {"0 numbers by value", L"007", L"0", L"+7", true},
      {"0 text exact", L"abc", L"0", L"abc", true},
      {"0 text keeps case", L"abc", L"0", L"ABC", false},
      {"1 numbers test equality, not containment", L"12", L"1", L"1", false},
      {"1 numbers equal", L"12", L"1", L"12", true},
      {"1 text contains", L"12a", L"1", L"1", true},
      {"1 text keeps case", L"Hello", L"1", L"hello", false},
      {"1 empty is never contained", L"abc", L"1", L"", false},
      {"1 empty in empty", L"", L"1", L"", false},
      {"2 numbers", L"10", L"2", L"9", true},
      {"2 negative numbers", L"-5", L"2", L"-10", true},
      {"2 text once one side is not a number", L"10", L"2", L"9x", false},
      {"2 text by code units, case-sensitive", L"a", L"2", L"B", true},
      {"2 longer after its prefix", L"ab", L"2", L"a", true},
      {"2 prefix is not greater", L"a", L"2", L"ab", false},
      {"2 beyond 32 bits is text", L"3000000000", L"2", L"9", false},
      {"3 contains ignoring case", L"Hello World", L"3", L"WORLD", true},
      {"3 numbers test equality", L"123", L"3", L"2", false},
      {"3 empty is never contained", L"abc", L"3", L"", false},
      {"4 equals ignoring case", L"Program Files", L"4", L"PROGRAM files", true},
      {"4 only ASCII letters fold", L"\u00e4bc", L"4", L"\u00c4BC", false},
      {"4 length matters", L"x", L"4", L"xy", false},
      {"4 numbers by value", L"-0", L"4", L"0", true},
      {"6 version 1.10 > 1.9", L"1.10", L"6", L"1.9", true},
      {"6 2 > 1.9.9.9", L"2", L"6", L"1.9.9.9", true},
      {"6 missing components are 0", L"1.0", L"6", L"1", false},
      {"6 equal is not greater", L"1.2.3.4", L"6", L"1.2.3.4", false},
      {"6 smaller", L"1.2.3.4", L"6", L"1.2.4", false},
      {"6 last component not a number is 0", L"1.2.x", L"6", L"1.2", false},
      {"6 fourth component takes the rest", L"1.2.3.4.9", L"6", L"1.2.3.4", false},
      {"6 empty texts", L"", L"6", L"", false},
      {"5 needs the store", L"a", L"5", L"a", false},
      {"unknown code", L"a", L"7", L"a", false},
      {"code must be one digit", L"a", L"00", L"a", false},
      {"empty code", L"a", L"", L"a", false},
  };
  for (const auto& c : cases) EXPECT_EQ(CompareCondition(c.a, c.code, c.b), c.expected) << c.name;
}

TEST(ConditionCompare, VersionComponentsBeforeTheLastMustBeNumbers) {
  struct RaiseCase {
    const char* name;
    std::wstring a, b;
  };
  const RaiseCase cases[] = {
      {"left side", L"1.x.3", L"1"},
      {"right side", L"1", L"a.1"},
      {"empty component", L"1..3", L"1"},
      {"leading dot", L".1", L"0"},
  };
  for (const auto& c : cases) EXPECT_THROW(CompareCondition(c.a, L"6", c.b), Error) << c.name;

  EXPECT_EQ(ReadVersionText(L"1.2.3.4.5"), (std::array<int64_t, 4>{1, 2, 3, 0}));
  EXPECT_EQ(ReadVersionText(L"7"), (std::array<int64_t, 4>{7, 0, 0, 0}));
  EXPECT_EQ(ReadVersionText(L"1.2."), (std::array<int64_t, 4>{1, 2, 0, 0}));
}

struct ConditionCase {
  const char* name;
  std::wstring variable, code, value, negate;
  bool expected;
};

using ConditionStatement = StatementFixture;

TEST_F(ConditionStatement, ReadsNameExpandsAndNegates) {
  variables.Set(L"NUM", L"10", L"test");
  variables.Set(L"VERSION", L"1.10", L"test");
  variables.Set(L"REF", L"$VERSION$", L"test");
  variables.Set(L"EMPTY", L"", L"test");
  const ConditionCase cases[] = {
      {"plain name", L"NUM", L"2", L"9", L"", true},
      {"reference form names the same variable", L"$NUM$", L"2", L"9", L"", true},
      {"value parameter is expanded", L"NUM", L"0", L"$NUM$", L"", true},
      {"variable's value is expanded again", L"REF", L"6", L"1.9", L"", true},
      {"TRUE negates", L"NUM", L"0", L"10", L"TRUE", false},
      {"true negates", L"NUM", L"0", L"10", L"true", false},
      {"-1 negates", L"NUM", L"0", L"10", L"-1", false},
      {"1 does not negate", L"NUM", L"0", L"10", L"1", true},
      {"undefined compares as empty", L"NOPE", L"0", L"", L"", true},
      {"undefined reference in the value stays", L"NOPE", L"0", L"$NOPE$", L"", false},
      {"5 defined", L"NUM", L"5", L"", L"", true},
      {"5 defined empty", L"EMPTY", L"5", L"", L"", true},
      {"5 reference form is not reduced", L"$NUM$", L"5", L"", L"", false},
      {"5 negated holds for undefined", L"NOPE", L"5", L"", L"TRUE", true},
      {"5 negated fails for defined", L"NUM", L"5", L"", L"TRUE", false},
      {"unknown code negated", L"NUM", L"9", L"10", L"TRUE", true},
  };
  for (const auto& c : cases) {
    StatementContext context = Statement(L"If", {c.variable, c.code, c.value, c.negate});
    EXPECT_EQ(ConditionHolds(context), c.expected) << c.name;
  }
}

TEST_F(ConditionStatement, BadVersionRaisesTheRuntimeError) {
  variables.Set(L"V", L"1.beta.2", L"test");
  StatementContext context = Statement(L"While", {L"V", L"6", L"1.0", L""});
  EXPECT_THROW(ConditionHolds(context), Error);
}

// --- Evaluate Expression --------------------------------------------------

struct ExpressionCase {
  const char* name;
  std::wstring text;
  std::wstring expected;
};

TEST(ExpressionText, GrammarAndEvaluation) {
  const ExpressionCase cases[] = {
      {"equal", LR"("a" = "a")", L"TRUE"},
      {"not equal", LR"("a" = "b")", L"FALSE"},
      {"no spaces needed", LR"("a"="a"or"b"="c")", L"TRUE"},
      {"spaces around everything", LR"(   (  "a" = "a"  )   )", L"TRUE"},
      {"left to right, equal precedence", LR"("a" = "a" or "1" = "2" and "x" = "y")", L"FALSE"},
      {"or then and, left to right", LR"("a" = "a" or "b" = "b" and "x" = "y")", L"FALSE"},
      {"nested parentheses",
       LR"((("a" = "a") and ("b" = "b" or ("c" = "d"))) and (("1" = "1")))", L"TRUE"},
      {"parenthesised comparison", LR"(("a" = "a"))", L"TRUE"},
      {"unbalanced close", LR"("a" = "a"))", L"ERROR"},
      {"unbalanced open", LR"(("a" = "a")", L"ERROR"},
      {"doubled operator", LR"("a" == "a")", L"ERROR"},
      {"upper-case connective", LR"("a" = "a" AND "b" = "b")", L"ERROR"},
      {"connective glued to parenthesis", LR"("a" = "a" and("b" = "b"))", L"ERROR"},
      {"connective then spaced parenthesis", LR"("a" = "a" and ("b" = "b"))", L"TRUE"},
      {"unknown connective", LR"("a" = "a" xor "b" = "b")", L"ERROR"},
      {"doubled quote is one quote", LR"("a""b" = "a""b")", L"TRUE"},
      {"doubled quote differs from none", LR"("a""" = "a")", L"FALSE"},
      {"operand of one quote", LR"("""" = """")", L"TRUE"},
      {"unterminated operand", LR"("a" = "a)", L"ERROR"},
      {"unquoted operand", L"a = a", L"ERROR"},
      {"empty expression", L"", L"ERROR"},
      {"empty parentheses", L"()", L"ERROR"},
      {"tab is not skipped", L"\"a\"\t= \"a\"", L"ERROR"},
      {"trailing word", LR"("a" = "a" x)", L"ERROR"},
      {"trailing connective", LR"("a" = "a" or)", L"ERROR"},
      {"trailing operand", LR"("a" = "a" "b")", L"ERROR"},
      {"error on the right is not skipped", LR"("a" = "a" or "b" == "b")", L"ERROR"},
      {"missing operand", LR"("a" =)", L"ERROR"},
      {"numbers by value", LR"("5" < "10")", L"TRUE"},
      {"text once one side is not an integer", LR"("5a" < "10")", L"FALSE"},
      {"inner space makes text", LR"("1 " = "1")", L"FALSE"},
      {"not equal operator", LR"("a" <> "b")", L"TRUE"},
      {"less or equal", LR"("7" <= "7")", L"TRUE"},
      {"greater or equal", LR"("6" >= "7")", L"FALSE"},
      {"greater", LR"("b" > "a")", L"TRUE"},
      {"proper prefix is smaller", LR"("a" < "ab")", L"TRUE"},
      {"empty is smallest", LR"("" < "a")", L"TRUE"},
      {"empty equals empty", LR"("" = "")", L"TRUE"},
      {"case-sensitive code units", LR"("B" < "a")", L"TRUE"},
      {"beyond 32 bits", LR"("10737418240" > "2147483648")", L"TRUE"},
      {"beyond 32 bits, negative", LR"("-10737418240" < "-2147483648")", L"TRUE"},
      {"beyond 64 bits", LR"("99999999999999999999999" > "99999999999999999999998")", L"TRUE"},
      {"longer number is larger", LR"("100000000000" > "99999999999")", L"TRUE"},
      {"leading zeros", LR"("0010" = "10")", L"TRUE"},
      {"signed zeros", LR"("-0" = "+0")", L"TRUE"},
      {"plus sign", LR"("+7" = "7")", L"TRUE"},
      {"plus alone is text", LR"("+" < "0")", L"TRUE"},
      {"minus alone is text", LR"("-" < "-5")", L"TRUE"},
  };
  for (const auto& c : cases) EXPECT_EQ(EvaluateExpressionText(c.text), c.expected) << c.name;
}

TEST(ExpressionText, IntegerComparisonIsExact) {
  struct IntegerCase {
    const char* name;
    std::wstring a, b;
    int expected;
  };
  const IntegerCase cases[] = {
      {"negative zero", L"-0", L"0", 0},
      {"leading zeros", L"0001", L"+1", 0},
      {"sign decides", L"-1", L"0", -1},
      {"negatives reverse", L"-20", L"-3", -1},
      {"length decides", L"123", L"45", 1},
      {"digits decide", L"1999999999999999999999", L"2000000000000000000000", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareIntegerTexts(c.a, c.b), c.expected) << c.name;
    EXPECT_EQ(CompareIntegerTexts(c.b, c.a), -c.expected) << c.name << " (swapped)";
  }
}

TEST(ExpressionText, DeepNestingIsBoundedNotFatal) {
  const auto nested = [](int depth) {
    return std::wstring(depth, L'(') + LR"("a" = "a")" + std::wstring(depth, L')');
  };
  EXPECT_EQ(EvaluateExpressionText(nested(100)), L"TRUE");
  EXPECT_EQ(EvaluateExpressionText(nested(100000)), L"ERROR");
}

using ExpressionStatement = StatementFixture;

TEST_F(ExpressionStatement, QuotedExpansionIntoTheResultVariable) {
  variables.Set(L"SIZE", L"10737418240", L"test");
  variables.Set(L"QUOTED", L"say \"hi\"", L"test");
  const ExpressionCase cases[] = {
      {"references become quoted operands", LR"($SIZE$ > "2147483648")", L"TRUE"},
      {"a quote in a value breaks its operand", LR"($QUOTED$ = "x")", L"ERROR"},
      {"undefined reference stays unquoted", LR"($NOPE$ = "x")", L"ERROR"},
      {"result exists before the expansion", LR"($OUT$ = "")", L"TRUE"},
  };
  for (const auto& c : cases) {
    variables.Delete(L"OUT");
    StatementContext context = Statement(L"Evaluate Expression", {c.text, L"$out$"});
    EvaluateExpressionStatement(context);
    EXPECT_EQ(variables.Get(L"OUT"), c.expected) << c.name;
  }
  std::vector<std::wstring> names;
  variables.Store().ExportNames(names);
  EXPECT_NE(std::find(names.begin(), names.end(), L"OUT"), names.end()) << "result name is upper-cased";
}

// --- Mathematics ----------------------------------------------------------

struct MathCase {
  const char* name;
  std::wstring a, b, code;
  std::wstring expected;
};

TEST(Mathematics, EveryCodeWrapsAndFailsEmpty) {
  const MathCase cases[] = {
      {"0 add", L"2", L"3", L"0", L"5"},
      {"0 wraps", L"9223372036854775807", L"1", L"0", L"-9223372036854775808"},
      {"1 subtract", L"2", L"5", L"1", L"-3"},
      {"1 wraps", L"-9223372036854775808", L"1", L"1", L"9223372036854775807"},
      {"2 multiply", L"-4", L"6", L"2", L"-24"},
      {"2 wraps", L"4611686018427387904", L"2", L"2", L"-9223372036854775808"},
      {"3 truncates toward zero", L"-7", L"2", L"3", L"-3"},
      {"3 by zero fails", L"7", L"0", L"3", L""},
      {"3 overflowing quotient wraps", L"-9223372036854775808", L"-1", L"3", L"-9223372036854775808"},
      {"4 remainder has the sign of A", L"-7", L"2", L"4", L"-1"},
      {"4 positive A, negative B", L"7", L"-2", L"4", L"1"},
      {"4 by zero fails", L"5", L"0", L"4", L""},
      {"4 smallest by -1", L"-9223372036854775808", L"-1", L"4", L"0"},
      {"5 and", L"12", L"10", L"5", L"8"},
      {"6 or", L"12", L"10", L"6", L"14"},
      {"7 xor", L"12", L"10", L"7", L"6"},
      {"8 shift left", L"1", L"3", L"8", L"8"},
      {"8 count modulo 64", L"1", L"64", L"8", L"1"},
      {"8 into the sign bit", L"1", L"63", L"8", L"-9223372036854775808"},
      {"8 negative count", L"1", L"-1", L"8", L"-9223372036854775808"},
      {"9 zero-filling", L"-1", L"60", L"9", L"15"},
      {"9 negative A", L"-8", L"1", L"9", L"9223372036854775804"},
      {"10 not", L"0", L"", L"10", L"-1"},
      {"10 ignores B", L"5", L"junk", L"10", L"-6"},
      {"11 first code unit", L"A", L"", L"11", L"65"},
      {"11 non-ASCII", L"\u00e9t\u00e9", L"", L"11", L"233"},
      {"11 digits are text", L"123", L"x", L"11", L"49"},
      {"11 empty fails", L"", L"1", L"11", L""},
      {"12 character", L"65", L"junk", L"12", L"A"},
      {"12 low 16 bits", L"65601", L"", L"12", L"A"},
      {"A not an integer", L"x", L"1", L"0", L""},
      {"B not an integer", L"1", L"1.5", L"0", L""},
      {"B empty", L"1", L"", L"0", L""},
      {"A beyond 64 bits", L"9223372036854775808", L"1", L"0", L""},
      {"code above 15", L"1", L"1", L"16", L""},
      {"negative code", L"1", L"1", L"-1", L""},
      {"code not a number", L"1", L"1", L"add", L""},
      {"empty code", L"1", L"1", L"", L""},
  };
  for (const auto& c : cases) {
    MathematicsGenerator generator;
    EXPECT_EQ(Mathematics(c.a, c.b, c.code, generator), c.expected) << c.name;
  }
}

TEST(Mathematics, GeneratorFollowsItsParameters) {
  MathematicsGenerator g;
  struct Step {
    const char* name;
    std::wstring a, b, code;
    std::wstring expected;
  };
  const Step steps[] = {
      {"zero until parameterised", L"100", L"", L"15", L"0"},
      {"bad operand sets nothing", L"3", L"x", L"13", L""},
      {"still zero", L"100", L"", L"15", L"0"},
      {"13 sets multiplier and increment", L"3", L"7", L"13", L"10"},
      {"14 sets the seed", L"5", L"", L"14", L"5"},
      {"3*5+7", L"1000", L"", L"15", L"22"},
      {"3*22+7", L"1000", L"", L"15", L"73"},
      {"3*73+7 mod 10", L"10", L"", L"15", L"6"},
      {"A = 0 fails", L"0", L"", L"15", L""},
      {"the seed moved past the failure (3*685+7)", L"1000", L"", L"15", L"62"},
      {"13 sum is 64-bit", L"2147483647", L"2", L"13", L"2147483649"},
      {"14 seed 1", L"1", L"", L"14", L"1"},
      {"32-bit wrap, negative remainder", L"1000", L"", L"15", L"-647"},
      {"negative seed carried", L"1000", L"", L"15", L"-645"},
      {"and back", L"7", L"", L"15", L"1"},
  };
  for (const auto& s : steps) EXPECT_EQ(Mathematics(s.a, s.b, s.code, g), s.expected) << s.name;
}

using MathematicsStatementTest = StatementFixture;

TEST_F(MathematicsStatementTest, ExpandsOperandsAndWritesTheResult) {
  variables.Set(L"X", L"40", L"test");
  variables.Set(L"SUM", L"old", L"test");
  const MathCase cases[] = {
      {"operands expanded", L"$X$", L"2", L"0", L"42"},
      {"failure empties the result", L"$X$", L"0", L"3", L""},
      {"code is not expanded", L"1", L"2", L"$X$", L""},
      {"code 11 reads parameter 1 expanded", L"$X$", L"", L"11", L"52"},
  };
  for (const auto& c : cases) {
    StatementContext context = Statement(L"Mathematics", {c.a, c.b, c.code, L"$sum$"});
    MathematicsStatement(context);
    EXPECT_EQ(variables.Get(L"SUM"), c.expected) << c.name;
    EXPECT_TRUE(variables.Exists(L"SUM")) << c.name;
  }
}

TEST_F(MathematicsStatementTest, CreatesAMissingResultInUpperCase) {
  StatementContext context = Statement(L"Mathematics", {L"x", L"1", L"0", L"total"});
  MathematicsStatement(context);
  std::vector<std::wstring> names;
  variables.Store().ExportNames(names);
  EXPECT_EQ(names, std::vector<std::wstring>{L"TOTAL"});
  EXPECT_EQ(variables.Get(L"TOTAL"), L"");
}

}  // namespace
}  // namespace qv
