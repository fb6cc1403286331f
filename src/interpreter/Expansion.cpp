#include "interpreter/Expansion.h"

#include "common/Text.h"

namespace qv {

std::wstring CollapseBackslashes(std::wstring_view text) {
  const bool network = text.starts_with(L"\\\\");
  std::wstring result;
  result.reserve(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    result += text[i];
    if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L'\\') ++i;
  }
  if (network) result.insert(0, 1, L'\\');
  return result;
}

std::wstring ExpandPath(const Variables& variables, std::wstring_view text) {
  return CollapseBackslashes(variables.Expand(text));
}

std::wstring ReadVariableName(std::wstring_view text) {
  if (!text.empty() && text.front() == L'$') {
    const std::wstring_view rest = text.substr(1);
    const size_t dollar = rest.find(L'$');
    if (dollar != std::wstring_view::npos && dollar == rest.size() - 1 && dollar > 0)
      return std::wstring(rest.substr(0, dollar));
  }
  return std::wstring(text);
}

std::wstring ReplaceCompilerVariables(std::wstring_view text, const std::vector<std::wstring>& pairs) {
  std::wstring current(text);
  // Two definitions that refer to each other ("#A#" -> "x#B#", "#B#" -> "#A#")
  // would otherwise grow the text on every pass; stop at a bound and keep
  // what the last complete pass produced.
  for (int pass = 0; pass < kMaxCompilerVariablePasses; ++pass) {
    if (current.find(L'#') == std::wstring::npos) break;
    std::wstring next = current;
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
      if (pairs[i].empty()) continue;  // "##" is no token
      next = ReplaceAllNoCase(next, L"#" + pairs[i] + L"#", pairs[i + 1]);
      if (next.size() > TVariableManager::kMaxExpandedLength) return current;
    }
    if (next == current) break;
    current = std::move(next);
  }
  return current;
}

std::wstring NormaliseCommaList(std::wstring_view text) {
  std::wstring guarded;
  guarded.reserve(text.size());
  for (wchar_t c : text) {
    if (c == L' ')
      guarded += kSpaceSafeToken;
    else
      guarded += c;
  }
  std::vector<std::wstring> items = FromCommaText(guarded);
  for (auto& item : items) item = ReplaceAllNoCase(item, kSpaceSafeToken, L" ");
  return ToCommaText(items);
}

std::wstring NewlineTokensToBreaks(std::wstring_view text) { return ReplaceAllNoCase(text, kNewlineToken, L"\r\n"); }

std::wstring BreaksToNewlineTokens(std::wstring_view text) {
  std::wstring result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
      result += kNewlineToken;
      ++i;
    } else {
      result += text[i];
    }
  }
  return result;
}

std::wstring LookupBoundVariable(const Variables& variables, std::wstring_view text, std::wstring_view undefined) {
  const std::wstring name = ReadVariableName(text);
  if (!variables.Exists(name)) return std::wstring(undefined);
  return variables.Expand(variables.Get(name));
}

}  // namespace qv
