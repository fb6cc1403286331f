// Conditions of "If", "Else If", "While" and "Until"; the expression
// language of "Evaluate Expression"; and "Mathematics".
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

struct StatementContext;
class Variables;

// The condition of the current statement (parameters 1 to 4: variable,
// comparison code, value, negate flag), negation applied.
bool ConditionHolds(StatementContext& c);

// Evaluates an already expanded expression: "TRUE", "FALSE" or "ERROR".
std::wstring EvaluateExpressionText(std::wstring_view text);

void EvaluateExpressionStatement(StatementContext& c);
void MathematicsStatement(StatementContext& c);

// --- Pieces of the above, for the statements that share them and for tests.

// Compares the two operands of a condition by its code, before negation:
// "0" to "4" numerically when both are 32-bit integers, otherwise as text;
// "6" as versions. Code "5" (existence) needs the store and any other code
// gives false. Raises qv::Error only through the version rule of "6".
bool CompareCondition(std::wstring_view a, std::wstring_view code, std::wstring_view b);

// A version text as four components split at "."; the fourth takes the rest
// of the text, missing components are 0, and a last component that is not a
// number counts as 0. Raises qv::Error when an earlier component is not a
// number.
std::array<int64_t, 4> ReadVersionText(std::wstring_view text);
// A > B component by component, strictly greater; raises like ReadVersionText.
bool VersionGreater(std::wstring_view a, std::wstring_view b);

// An integer operand of an expression: digits, with a leading "+" or "-"
// allowed when digits follow. Any length.
bool IsIntegerText(std::wstring_view text);
// Exact comparison of two integer texts of any length: <0, 0 or >0.
int CompareIntegerTexts(std::wstring_view a, std::wstring_view b);

// The generator behind "Mathematics" codes 13 to 15: a linear congruential
// generator in 32-bit wrapping arithmetic whose multiplier, increment and
// seed are all 0 until the script sets them.
struct MathematicsGenerator {
  int32_t multiplier = 0;
  int32_t increment = 0;
  int32_t seed = 0;
};

// One "Mathematics" operation on the expanded operands and the raw code.
// The empty text means failure: an operand or code that is not a 64-bit
// integer, division or remainder by zero, code 11 on the empty text, code 15
// with A = 0, or a code outside 0 to 15.
std::wstring Mathematics(std::wstring_view a, std::wstring_view b, std::wstring_view code,
                         MathematicsGenerator& generator);

}  // namespace qv
