// The condition shared by "If", "Else If", "While" and "Until": one variable
// compared with one value by a numbered comparison, optionally negated.
// Entering, skipping and repeating blocks is the interpreter's business.
#include "interpreter/Expression.h"

#include "common/Error.h"
#include "common/Text.h"
#include "interpreter/Expansion.h"
#include "interpreter/Statements.h"

#include <utility>

namespace qv {

namespace {

// Case is ignored for ASCII letters only, as the engine always did for "4":
// "ä" and "Ä" stay different.
bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  const auto fold = [](wchar_t ch) { return ch >= L'a' && ch <= L'z' ? static_cast<wchar_t>(ch - 32) : ch; };
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

bool Contains(std::wstring_view text, std::wstring_view part) {
  return !part.empty() && text.find(part) != std::wstring_view::npos;
}

// SEAM — script-text translation, no languages yet. While LANGUAGE names a
// language, a condition's two operands (translatable texts 1 and 2 of the
// statement, keyed by its identifier) are replaced by their translations
// before they are read. Translation tables are not loaded by this engine yet,
// so the text passes unchanged; route this to the translator once it exists.
std::wstring TranslateStatementText(std::wstring text, std::wstring_view /*identifier*/, int /*ordinal*/) {
  return text;
}

std::wstring TranslatedOperand(const StatementContext& c, size_t parameter, int ordinal) {
  std::wstring text = c.Parameter(parameter);
  if (c.variables.Get(L"LANGUAGE").empty()) return text;
  return TranslateStatementText(std::move(text), c.Parameter(0), ordinal);
}

}  // namespace

std::array<int64_t, 4> ReadVersionText(std::wstring_view text) {
  std::array<int64_t, 4> components{};
  for (size_t i = 0; i < components.size(); ++i) {
    const size_t dot = text.find(L'.');
    const bool last = i + 1 == components.size() || dot == std::wstring_view::npos;
    const std::wstring_view part = last ? text : text.substr(0, dot);
    const auto number = ParseInt64(part);
    if (last) {
      components[i] = number.value_or(0);
      break;
    }
    if (!number) throw Error(L"'" + std::wstring(part) + L"' is not a valid integer value");
    components[i] = *number;
    text.remove_prefix(dot + 1);
  }
  return components;
}

bool VersionGreater(std::wstring_view a, std::wstring_view b) {
  const auto left = ReadVersionText(a);
  const auto right = ReadVersionText(b);
  return left > right;  // lexicographic: the first differing component decides
}

bool CompareCondition(std::wstring_view a, std::wstring_view code, std::wstring_view b) {
  if (code == L"6") return VersionGreater(a, b);
  if (code.size() != 1 || code[0] < L'0' || code[0] > L'4') return false;

  const auto numberA = ParseInt32(a);
  const auto numberB = ParseInt32(b);
  if (numberA && numberB) return code[0] == L'2' ? *numberA > *numberB : *numberA == *numberB;

  switch (code[0]) {
    case L'0': return a == b;
    case L'1': return Contains(a, b);
    case L'2': return a.compare(b) > 0;  // UTF-16 code units, a proper prefix is smaller
    case L'3': return Contains(UpperCase(a), UpperCase(b));
    default: return EqualsAsciiNoCase(a, b);
  }
}

bool ConditionHolds(StatementContext& c) {
  const std::wstring variable = TranslatedOperand(c, 1, 1);
  const std::wstring code = c.Parameter(2);
  const bool negate = IsTrueFlag(c.Parameter(4));

  bool outcome;
  if (code == L"5") {
    // The name as written: "$NAME$" tests a variable literally called so.
    outcome = c.variables.Exists(variable);
  } else {
    // Expanded once more, so a variable holding references compares by what
    // they resolve to.
    const std::wstring a = c.variables.Expand(c.variables.Get(ReadVariableName(variable)));
    const std::wstring b = c.variables.Expand(TranslatedOperand(c, 3, 2));
    outcome = CompareCondition(a, code, b);
  }
  return outcome != negate;
}

}  // namespace qv
