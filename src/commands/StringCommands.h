// String and variable commands: assignments, splitting and replacing text,
// case and path conversions, and temporary file names. Every handler reads
// its parameters through the statement context and reports through result
// variables; only a malformed number in Parse String and Extract Path ends
// the statement with an error. "Comment" has no handler: it does nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

struct StatementContext;

// Parameter k expanded and read as a decimal integer; anything else raises
// the conversion error that ends the statement.
int32_t IntegerParameter(const StatementContext& c, size_t k);

// "Set Variable": name (NAME or $NAME$, optionally "$QIVA$QIVA$" + remember
// flag), value. Watches ABORT, QIVA_TIMEOUT, PROGRESS, PROGRESSTEXT and
// NATIVE_LOGGING.
void SetVariableStatement(StatementContext& c);
// "Localization Variable": name, value (translated by a key made from the name).
void LocalizationVariableStatement(StatementContext& c);
// "Parse String": source, delimiter or count, first-part variable,
// second-part variable, mode 0-3, trim flag, ignore-case flag.
void ParseStringStatement(StatementContext& c);
// "Replace String": variable, search text, replacement, ignore-case flag,
// replace-all flag.
void ReplaceStringStatement(StatementContext& c);
// "Convert Case": variable, upper-case flag.
void ConvertCaseStatement(StatementContext& c);

// In PathCommands.cpp:
// "Convert Path": variable, long-form flag.
void ConvertPathStatement(StatementContext& c);
// "Extract Path": variable, part 0-6.
void ExtractPathStatement(StatementContext& c);
// "Get Temporary File": result variable.
void GetTemporaryFileStatement(StatementContext& c);

}  // namespace qv
