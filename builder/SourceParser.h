// Compiles script source (.qvs, docs/SCRIPT-SOURCE.md) into the script the
// engine runs: statements with their parameter blocks, the setup header,
// included files inlined with their include markers, compiler variables
// replaced and listed, identifiers and source references filled in.
#pragma once

#include "script/Script.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qv::build {

struct SourceError {
  std::wstring file;  // as the author named it (the main file as given, includes joined to it)
  size_t line = 0;    // 1-based; 0 when the fault belongs to no line
  std::wstring message;

  std::wstring ToString() const;  // "file:line: message"
};

// Reads a source file by its full path: the bytes, or nothing with `error` set.
using SourceLoader = std::function<std::optional<std::string>(const std::wstring& fullPath, std::wstring& error)>;
SourceLoader DiskLoader();

struct CompileOptions {
  // Compiler variables given by the caller; they take precedence over an
  // @define of the same name in the source.
  std::vector<std::pair<std::wstring, std::wstring>> defines;
  SourceLoader loader = DiskLoader();
};

struct CompileResult {
  Script script;
  std::vector<SourceError> errors;  // empty when the script is usable
};

CompileResult CompileSource(const std::wstring& path, const CompileOptions& options = {});

// Replaces #NAME# tokens by the values of `variables` (pairs name, value; names
// compared without regard to case), again over the result while it changes,
// as the engine does for its own tokens.
std::wstring ReplaceCompilerVariables(std::wstring text, const std::vector<std::wstring>& variables);

}  // namespace qv::build
