// How statement parameters become values: plain and path expansion, the
// reading of parameters that name a variable, compiler-variable tokens, the
// canonical form of comma lists handed to other components, and the reserved
// tokens that carry special characters through single-line texts.
#pragma once

#include "interpreter/VariableStore.h"
#include "script/StatementSchema.h"  // kRememberSeparator

#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Reserved tokens. Every one of them is an ordinary "$NAME$" reference as far
// as the scanner is concerned; their meaning comes from whoever reads them.
inline constexpr std::wstring_view kNewlineToken = L"$NEWLINE$";          // CR LF in single-line storage
inline constexpr std::wstring_view kDollarToken = L"$DOLLAR$";            // a script list line of one "$"
inline constexpr std::wstring_view kWildDollarToken = L"$WILD_DOLLAR$";   // the same, older spelling
inline constexpr std::wstring_view kSpaceSafeToken = L"$SPACE_SAFE$";     // a space during list normalisation
inline constexpr std::wstring_view kWorkerProgressToken = L"$QIVA$";      // progress text: republish worker values
inline constexpr std::wstring_view kUndefinedToken = L"$QIVANX$";         // bound lookup of an undefined name
inline constexpr std::wstring_view kVoidLabelToken = L"$QIVAVOID$";       // label content absent: leave it
inline constexpr std::wstring_view kIgnoreToken = L"$IGNORE$";            // progress text: keep the current one
inline constexpr std::wstring_view kNullToken = L"$NULL$";                // "~" in queued service parameters
inline constexpr std::wstring_view kQuoteToken = L"$QUOTE$";              // "'" in installer property values
inline constexpr std::wstring_view kCharsetOverrideToken = L"$CHARSET_OVERRIDE$";

// Expanded, then every pair of backslashes collapsed to one; a text that
// began with two backslashes (a network path) keeps them.
std::wstring ExpandPath(const Variables& variables, std::wstring_view text);

// Collapses doubled backslashes as ExpandPath does, without expanding.
std::wstring CollapseBackslashes(std::wstring_view text);

// "$NAME$" and "NAME" name the same variable; "$A$B$" names "$A$B$".
std::wstring ReadVariableName(std::wstring_view text);

// "#NAME#" tokens replaced by the values of the script's compiler variables
// (alternating names and values), case ignored, again and again while values
// bring in further tokens. Unknown tokens stay as written. Definitions that
// feed each other are cut off by a pass and a length bound.
std::wstring ReplaceCompilerVariables(std::wstring_view text, const std::vector<std::wstring>& pairs);
inline constexpr int kMaxCompilerVariablePasses = 64;

// A comma list in canonical quoting: spaces inside unquoted items no longer
// split them, and every item holding a space, comma or quote is quoted.
std::wstring NormaliseCommaList(std::wstring_view text);

// Line breaks across single-line storage, as plain text replacement:
// "$NEWLINE$" (case ignored) to CR LF on the way out, CR LF back to
// "$NEWLINE$" on the way into a variable.
std::wstring NewlineTokensToBreaks(std::wstring_view text);
std::wstring BreaksToNewlineTokens(std::wstring_view text);

// A variable given as NAME or $NAME$: its expanded value, or `undefined`
// when no such variable exists (the dialog host passes kUndefinedToken so a
// control can tell undefined from empty).
std::wstring LookupBoundVariable(const Variables& variables, std::wstring_view text,
                                 std::wstring_view undefined = {});

}  // namespace qv
