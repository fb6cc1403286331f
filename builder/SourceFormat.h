// Pieces of the script source format that the parser and the writer share:
// the setup header's keys, the reserved statement keywords, identifier
// derivation and GUID checks. docs/SCRIPT-SOURCE.md describes the format.
#pragma once

#include "script/Script.h"
#include "script/StatementSchema.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qv::build {

// Reserved keywords accepted on every statement besides its schema parameters.
inline constexpr std::wstring_view kIdKeyword = L"id";        // pins the statement identifier
inline constexpr std::wstring_view kMediaKeyword = L"media";  // media column (item 10)
inline constexpr std::wstring_view kExtraKeyword = L"extra";  // block lines past the schema, one each

// Parameters of a plug-in statement (a name listed with @plugin).
const StatementSpec& PluginStatementSpec();

// One key of the @setup block and the script item it fills.
struct HeaderField {
  const wchar_t* key;
  const wchar_t* defaultText;  // nullptr: required
  std::wstring (*get)(const Script&);
  // Stores the text; returns an error message, empty when the text is accepted.
  std::wstring (*set)(Script&, const std::wstring&);
};
std::span<const HeaderField> HeaderFields();

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, or nothing when the
// text is not a braced GUID (hex digits of either case are accepted).
std::optional<std::wstring> NormalizeGuid(std::wstring_view text);

// The identifier the builder gives statement `row` when the source pins none:
// a GUID derived from the product code and the row, so that rebuilding the
// same source gives the same script.
std::wstring DeriveStatementId(std::wstring_view productCode, size_t row);

}  // namespace qv::build
