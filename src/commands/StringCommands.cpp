#include "commands/StringCommands.h"

#include "commands/VariableSeams.h"
#include "common/Error.h"
#include "common/Text.h"
#include "interpreter/Expansion.h"
#include "interpreter/Statements.h"

#include <windows.h>

#include <algorithm>
#include <optional>

namespace qv {

int32_t IntegerParameter(const StatementContext& c, size_t k) {
  const std::wstring text = c.ValueParameter(k);
  const auto value = ParseInt32(text);
  if (!value) throw Error(L"'" + text + L"' is not a valid integer value");
  return *value;
}

namespace {

// Lower-cased for searching: positions found in the result must be the same
// positions in the original, so a letter whose lower case has another length
// keeps its own.
std::wstring LowerKeepingPositions(std::wstring_view text) {
  std::wstring lower = LowerCase(text);
  if (lower.size() == text.size()) return lower;
  lower.assign(text);
  for (auto& c : lower) {
    const std::wstring one = LowerCase(std::wstring_view(&c, 1));
    if (one.size() == 1) c = one[0];
  }
  return lower;
}

// White space and control characters off both ends.
std::wstring Trimmed(std::wstring_view text) {
  const auto blank = [](wchar_t c) { return c <= L' '; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::wstring(text);
}

// Letter case by the rules of the user's locale.
std::wstring UserCase(std::wstring_view text, bool upper) {
  if (text.empty()) return {};
  const DWORD flags = (upper ? LCMAP_UPPERCASE : LCMAP_LOWERCASE) | LCMAP_LINGUISTIC_CASING;
  const int length = static_cast<int>(text.size());
  const int size = LCMapStringEx(LOCALE_NAME_USER_DEFAULT, flags, text.data(), length, nullptr, 0, nullptr, nullptr, 0);
  if (size <= 0) return upper ? UpperCase(text) : LowerCase(text);
  std::wstring result(static_cast<size_t>(size), L'\0');
  LCMapStringEx(LOCALE_NAME_USER_DEFAULT, flags, text.data(), length, result.data(), size, nullptr, nullptr, 0);
  return result;
}

std::wstring ReplaceText(std::wstring_view text, std::wstring_view search, std::wstring_view replacement,
                         bool ignoreCase, bool all) {
  if (search.empty()) return std::wstring(text);
  const std::wstring haystack = ignoreCase ? LowerKeepingPositions(text) : std::wstring(text);
  const std::wstring needle = ignoreCase ? LowerKeepingPositions(search) : std::wstring(search);
  std::wstring result;
  size_t start = 0;
  for (size_t hit; (hit = haystack.find(needle, start)) != std::wstring::npos;) {
    result.append(text.substr(start, hit - start));
    result.append(replacement);
    start = hit + needle.size();
    if (!all) break;
  }
  result.append(text.substr(start));
  return result;
}

// The value of a statement text: translated while a language is active, then
// expanded.
std::wstring TranslatedValue(const StatementContext& c, std::wstring_view identifier) {
  std::wstring text = c.Parameter(2);
  if (!c.variables.Get(L"LANGUAGE").empty()) text = Seams().translate(text, identifier, 1);
  return c.variables.Expand(text);
}

int ProgressPercent(std::wstring_view text) { return std::clamp(ParseInt32(text).value_or(0), 0, 100); }

// Assignments other parts of the engine listen to.
void NotifyWatchers(StatementContext& c, std::wstring_view name, std::wstring_view value) {
  if (EqualsNoCase(name, L"ABORT")) {
    c.variables.Set(L"QIVA_IsCancelled", value, L"Set Variable Tricke");
  } else if (EqualsNoCase(name, L"QIVA_TIMEOUT")) {
    SetDownloadTimeoutSeconds(ParseInt32(value).value_or(kDefaultDownloadTimeout));
  } else if (EqualsNoCase(name, L"PROGRESS") || EqualsNoCase(name, L"PROGRESSTEXT")) {
    Seams().showProgress(ProgressPercent(c.variables.Get(L"PROGRESS")), c.variables.Get(L"PROGRESSTEXT"));
  }
}

// Where Parse String cuts the source: the first part is its first
// `firstLength` characters, the second part starts at `secondStart`.
struct Cut {
  size_t firstLength = 0;
  size_t secondStart = 0;
};

// `source` and `delimiter` are the texts searched (lower-cased for an
// ignore-case search). Modes: 0 at the first occurrence of the delimiter,
// 1 at the last, 2 after a count from the left, 3 before a count from the
// right. No cut (both parts empty) for an unknown mode or a count that is no
// integer.
std::optional<Cut> FindCut(std::wstring_view source, std::wstring_view delimiter, int32_t mode) {
  const int64_t length = static_cast<int64_t>(source.size());
  // 1-based split position p, characters skipped there k, adjustment a.
  int64_t p = 0, k = 1, a = 1;
  const size_t npos = std::wstring_view::npos;
  switch (mode) {
    case 0: {
      const size_t hit = delimiter.empty() ? npos : source.find(delimiter);
      p = hit == npos ? length + 1 : static_cast<int64_t>(hit) + 1;
      k = static_cast<int64_t>(delimiter.size());
      break;
    }
    case 1: {
      const size_t hit = delimiter.empty() ? npos : source.rfind(delimiter);
      if (hit == npos) {
        p = 1;
        k = 0;
      } else {
        p = static_cast<int64_t>(hit) + 1;
        k = static_cast<int64_t>(delimiter.size());
      }
      break;
    }
    case 2: {
      const auto n = ParseInt32(delimiter);
      if (!n) return std::nullopt;
      a = 0;
      p = *n;
      if (*n == 0) {
        p = 1;
        a = 1;
        k = -1;
      }
      break;
    }
    case 3: {
      const auto n = ParseInt32(delimiter);
      if (!n) return std::nullopt;
      a = 0;
      // A count equal to the length gives p = 0 here: that is a cut before
      // the first character (everything in the second part), not a failure.
      p = length - *n;
      break;
    }
    default:
      return std::nullopt;
  }
  Cut cut;
  cut.firstLength = static_cast<size_t>(std::clamp<int64_t>(p - a, 0, length));
  cut.secondStart = static_cast<size_t>(std::clamp<int64_t>(p + k, 1, length + 1) - 1);
  return cut;
}

}  // namespace

void SetVariableStatement(StatementContext& c) {
  std::wstring value = TranslatedValue(c, c.Parameter(0));
  std::wstring target = c.Parameter(1);
  bool remember = false;
  if (const size_t at = target.find(kRememberSeparator); at != std::wstring::npos) {
    remember = target.substr(at + kRememberSeparator.size()) == L"TRUE";
    target.resize(at);
  }
  const std::wstring name = ReadVariableName(target);
  if (name.empty()) return;
  c.CreateResult(name);
  // The native engine takes a new log path only where its log set exists
  // or can be created, and flushes its pending entries there first.
  if (EqualsNoCase(name, L"NATIVE_LOGGING") && value != c.variables.Get(name)) value = Seams().nativeLogging(value);
  c.variables.ProtectedSet(name, value, c.Source());
  if (remember) Remembered().Add(name);
  NotifyWatchers(c, name, value);
}

void LocalizationVariableStatement(StatementContext& c) {
  const std::wstring name = ReadVariableName(c.Parameter(1));
  const std::wstring value = TranslatedValue(c, L"TRALDINE$" + name + L"$TRALDINE");
  if (name.empty()) return;
  c.SetResult(name, value);
}

void ParseStringStatement(StatementContext& c) {
  const std::wstring source = c.PathParameter(1);
  const std::wstring delimiter = c.PathParameter(2);
  const bool ignoreCase = IsTrueFlag(c.Parameter(7));
  const std::wstring firstVariable = c.Parameter(3);
  const std::wstring secondVariable = c.Parameter(4);
  if (!firstVariable.empty()) c.CreateResult(firstVariable);
  if (!secondVariable.empty()) c.CreateResult(secondVariable);

  const int32_t mode = IntegerParameter(c, 5);
  std::wstring first, second;
  const auto cut = ignoreCase ? FindCut(LowerKeepingPositions(source), LowerKeepingPositions(delimiter), mode)
                              : FindCut(source, delimiter, mode);
  if (cut) {
    first = source.substr(0, cut->firstLength);
    second = source.substr(cut->secondStart);
  }
  if (IsTrueFlag(c.Parameter(6))) {
    first = Trimmed(first);
    second = Trimmed(second);
  }
  if (!firstVariable.empty()) c.variables.Set(firstVariable, first, c.Source());
  if (!secondVariable.empty()) c.variables.Set(secondVariable, second, c.Source());
}

void ReplaceStringStatement(StatementContext& c) {
  const std::wstring name = ReadVariableName(c.Parameter(1));
  // Line breaks are compared and stored as "$NEWLINE$", so a search text
  // that expands to a line break finds the stored token.
  const std::wstring search = BreaksToNewlineTokens(c.ValueParameter(2));
  const std::wstring replacement = BreaksToNewlineTokens(c.ValueParameter(3));
  const std::wstring value = BreaksToNewlineTokens(c.variables.Get(name));
  const bool ignoreCase = IsTrueFlag(c.Parameter(4));
  const bool all = IsTrueFlag(c.Parameter(5));
  c.variables.Set(UpperCase(name), ReplaceText(value, search, replacement, ignoreCase, all), c.Source());
}

void ConvertCaseStatement(StatementContext& c) {
  const std::wstring name = c.Parameter(1);
  const bool upper = IsTrueFlag(c.Parameter(2));
  c.SetResult(name, UserCase(ExpandPath(c.variables, c.variables.Get(name)), upper));
}

}  // namespace qv
