// Writes a script back as script source, so that compiling the text again
// gives the same statements, parameters, identifiers, header, compiler
// variables and include markers (the source references then point at the
// written file).
#pragma once

#include "script/Script.h"

#include <string>

namespace qv::build {

// Throws qv::Error when the script holds something the source format cannot
// express (a statement name the schema does not know, or a file table,
// header list, component size, media folder or web media password list).
std::wstring WriteSource(const Script& script);

// A parameter value as the source writes it: bare when that reads back the
// same, else quoted ("..." or, when it holds a "#", literal '...').
std::wstring QuoteValue(std::wstring_view value);

}  // namespace qv::build
