// Text helpers: UTF-8 at the file boundaries, UTF-16 everywhere else, and the
// locale-independent case rules the engine uses for names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// Whole-text upper and lower casing with the invariant locale.
std::wstring UpperCase(std::wstring_view text);
std::wstring LowerCase(std::wstring_view text);

// Locale comparison of whole texts, case ignored (invariant locale).
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);
bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix);
bool ContainsNoCase(std::wstring_view text, std::wstring_view part);

// Strict decimal integer reading: optional sign, digits only, range-checked.
std::optional<int64_t> ParseInt64(std::wstring_view text);
std::optional<int32_t> ParseInt32(std::wstring_view text);

// Every occurrence of `from` replaced by `to`, case ignored (ASCII and invariant).
std::wstring ReplaceAllNoCase(std::wstring_view text, std::wstring_view from, std::wstring_view to);

// Comma text: items separated by commas; an item holding a space, comma,
// double quote or line break, or an empty item, is written between double
// quotes with inner quotes doubled.
std::wstring ToCommaText(const std::vector<std::wstring>& items);
std::vector<std::wstring> FromCommaText(std::wstring_view text);

}  // namespace qv
