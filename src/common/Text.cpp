#include "common/Text.h"

#include <windows.h>

#include <limits>

namespace qv {

std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
  return result;
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                      nullptr);
  return result;
}

namespace {

bool IsAscii(std::wstring_view text) {
  for (wchar_t c : text)
    if (c >= 0x80) return false;
  return true;
}

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }
wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; }

std::wstring MapCase(std::wstring_view text, DWORD flag) {
  if (text.empty()) return {};
  if (IsAscii(text)) {  // the common case, without a trip into the locale tables
    std::wstring result(text);
    for (auto& c : result) c = flag == LCMAP_UPPERCASE ? AsciiUpper(c) : AsciiLower(c);
    return result;
  }
  const int length = static_cast<int>(text.size());
  const int size = LCMapStringEx(LOCALE_NAME_INVARIANT, flag, text.data(), length, nullptr, 0, nullptr, nullptr, 0);
  if (size <= 0) return std::wstring(text);
  std::wstring result(static_cast<size_t>(size), L'\0');
  LCMapStringEx(LOCALE_NAME_INVARIANT, flag, text.data(), length, result.data(), size, nullptr, nullptr, 0);
  return result;
}

}  // namespace

std::wstring UpperCase(std::wstring_view text) { return MapCase(text, LCMAP_UPPERCASE); }
std::wstring LowerCase(std::wstring_view text) { return MapCase(text, LCMAP_LOWERCASE); }

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;  // case mapping keeps UTF-16 lengths for the engine's texts
  if (IsAscii(a) && IsAscii(b)) {
    for (size_t i = 0; i < a.size(); ++i)
      if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
  }
  return CompareStringEx(LOCALE_NAME_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                         static_cast<int>(b.size()), nullptr, nullptr, 0) == CSTR_EQUAL;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool ContainsNoCase(std::wstring_view text, std::wstring_view part) {
  return LowerCase(text).find(LowerCase(part)) != std::wstring::npos;
}

std::optional<int64_t> ParseInt64(std::wstring_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
  if (i == text.size()) return std::nullopt;
  uint64_t value = 0;
  const uint64_t limit = negative ? uint64_t{1} << 63 : static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  for (; i < text.size(); ++i) {
    if (text[i] < L'0' || text[i] > L'9') return std::nullopt;
    const unsigned digit = static_cast<unsigned>(text[i] - L'0');
    if (value > (limit - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
}

std::optional<int32_t> ParseInt32(std::wstring_view text) {
  const auto value = ParseInt64(text);
  if (!value || *value < std::numeric_limits<int32_t>::min() || *value > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  return static_cast<int32_t>(*value);
}

std::wstring ReplaceAllNoCase(std::wstring_view text, std::wstring_view from, std::wstring_view to) {
  if (from.empty()) return std::wstring(text);
  const std::wstring lowerText = LowerCase(text);
  const std::wstring lowerFrom = LowerCase(from);
  if (lowerText.size() != text.size()) return std::wstring(text);
  std::wstring result;
  size_t start = 0;
  for (size_t hit; (hit = lowerText.find(lowerFrom, start)) != std::wstring::npos; start = hit + from.size()) {
    result.append(text.substr(start, hit - start));
    result.append(to);
  }
  result.append(text.substr(start));
  return result;
}

std::wstring ToCommaText(const std::vector<std::wstring>& items) {
  if (items.size() == 1 && items[0].empty()) return L"\"\"";
  std::wstring result;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) result += L',';
    const std::wstring& item = items[i];
    bool quote = false;
    for (wchar_t c : item) quote = quote || c <= L' ' || c == L'"' || c == L',';
    if (!quote) {
      result += item;
      continue;
    }
    result += L'"';
    for (wchar_t c : item) {
      if (c == L'"') result += L'"';
      result += c;
    }
    result += L'"';
  }
  return result;
}

std::vector<std::wstring> FromCommaText(std::wstring_view text) {
  std::vector<std::wstring> items;
  size_t p = 0;
  const auto blank = [&](size_t at) { return at < text.size() && text[at] >= 1 && text[at] <= L' '; };
  while (blank(p)) ++p;
  while (p < text.size()) {
    std::wstring item;
    if (text[p] == L'"') {
      ++p;
      while (p < text.size()) {
        if (text[p] == L'"') {
          if (p + 1 < text.size() && text[p + 1] == L'"') {
            item += L'"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        item += text[p++];
      }
    } else {
      const size_t start = p;
      while (p < text.size() && text[p] > L' ' && text[p] != L',') ++p;
      item.assign(text.substr(start, p - start));
      if (p == start && p < text.size() && text[p] != L',') ++p;  // a stray NUL: never stall on it
    }
    items.push_back(std::move(item));
    while (blank(p)) ++p;
    if (p < text.size() && text[p] == L',') {
      if (p + 1 == text.size()) items.emplace_back();
      do ++p;
      while (blank(p));
    }
  }
  return items;
}

}  // namespace qv
