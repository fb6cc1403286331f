#include "builder/SourceFormat.h"

#include "common/Text.h"

#include <cstdint>
#include <cwchar>

namespace qv::build {

namespace {

std::wstring SetGuid(std::wstring& field, const std::wstring& text) {
  const auto guid = NormalizeGuid(text);
  if (!guid) return L"'" + text + L"' is not a GUID in braces, such as {01234567-89AB-CDEF-0123-456789ABCDEF}";
  field = *guid;
  return {};
}

template <typename Int>
std::wstring SetNumber(Int& field, const std::wstring& text) {
  const auto value = ParseInt64(text);
  if (!value || (sizeof(Int) == 4 && !ParseInt32(text))) return L"'" + text + L"' is not a decimal number";
  field = static_cast<Int>(*value);
  return {};
}

#define QV_TEXT_FIELD(key, def, member)                                              \
  HeaderField {                                                                      \
    key, def, [](const Script& s) { return s.member; },                              \
        [](Script& s, const std::wstring& t) { return (s.member = t, std::wstring()); } \
  }

const HeaderField kHeaderFields[] = {
    {L"product-code", nullptr, [](const Script& s) { return s.productCode; },
     [](Script& s, const std::wstring& t) { return SetGuid(s.productCode, t); }},
    {L"revision-code", nullptr, [](const Script& s) { return s.revisionCode; },
     [](Script& s, const std::wstring& t) { return SetGuid(s.revisionCode, t); }},
    QV_TEXT_FIELD(L"title", nullptr, title),
    QV_TEXT_FIELD(L"version", L"", publisher.displayVersion),
    QV_TEXT_FIELD(L"publisher", L"", publisher.publisher),
    QV_TEXT_FIELD(L"contact", L"", publisher.contact),
    QV_TEXT_FIELD(L"help-link", L"", publisher.helpLink),
    QV_TEXT_FIELD(L"update-link", L"", publisher.updateInfoLink),
    QV_TEXT_FIELD(L"comments", L"", publisher.comments),
    {L"build-kind", L"0", [](const Script& s) { return std::to_wstring(s.buildKind); },
     [](Script& s, const std::wstring& t) { return SetNumber(s.buildKind, t); }},
    QV_TEXT_FIELD(L"language-prompt", L"FALSE", languagePrompt),
    QV_TEXT_FIELD(L"default-language", L"", defaultLanguage),
    {L"code-page", L"65001", [](const Script& s) { return std::to_wstring(s.codePage); },
     [](Script& s, const std::wstring& t) { return SetNumber(s.codePage, t); }},
    {L"progress-max", L"0", [](const Script& s) { return std::to_wstring(s.nativeProgressMax); },
     [](Script& s, const std::wstring& t) { return SetNumber(s.nativeProgressMax, t); }},
};

#undef QV_TEXT_FIELD

const StatementSpec kPluginSpec = {
    L"", L"Plug-in call", {ParameterSpec{L"parameters", ParameterKind::Raw, L"", nullptr},
                           ParameterSpec{L"module", ParameterKind::Path, L"", nullptr}}};

// 64-bit FNV-1a over the UTF-16 units of a text.
uint64_t Fnv1a(std::wstring_view text, uint64_t basis) {
  uint64_t hash = basis;
  for (const wchar_t c : text) {
    hash ^= static_cast<uint16_t>(c) & 0xFF;
    hash *= 0x100000001B3ull;
    hash ^= static_cast<uint16_t>(c) >> 8;
    hash *= 0x100000001B3ull;
  }
  return hash;
}

}  // namespace

const StatementSpec& PluginStatementSpec() { return kPluginSpec; }

std::span<const HeaderField> HeaderFields() { return kHeaderFields; }

std::optional<std::wstring> NormalizeGuid(std::wstring_view text) {
  constexpr std::wstring_view kShape = L"{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  if (text.size() != kShape.size()) return std::nullopt;
  std::wstring result(text);
  for (size_t i = 0; i < kShape.size(); ++i) {
    wchar_t& c = result[i];
    if (kShape[i] != L'X') {
      if (c != kShape[i]) return std::nullopt;
    } else if (c >= L'a' && c <= L'f') {
      c = static_cast<wchar_t>(c - L'a' + L'A');
    } else if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) {
      return std::nullopt;
    }
  }
  return result;
}

std::wstring DeriveStatementId(std::wstring_view productCode, size_t row) {
  const std::wstring key = UpperCase(productCode) + L"#" + std::to_wstring(row);
  const uint64_t high = Fnv1a(key, 0xCBF29CE484222325ull);
  const uint64_t low = Fnv1a(key, 0x84222325CBF29CE4ull);
  wchar_t text[40];
  std::swprintf(text, 40, L"{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                static_cast<unsigned>(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
  return text;
}

}  // namespace qv::build
