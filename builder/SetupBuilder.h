// Assembles a setup folder: the engine stub with the compiled script
// appended, the payload archive beside it, and the archive module with 7-Zip.
#pragma once

#include "builder/SourceParser.h"
#include "script/Script.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv::build {

struct BuildOptions {
  std::wstring source;
  std::wstring outputFolder;   // default: "<name>-setup" beside the source
  std::wstring payloadFolder;  // default: "payload" beside the source when it exists; else an empty payload
  std::wstring stub;           // default: quorvane.exe beside qvbuild.exe
  std::wstring name;           // default: the source file's base name
  std::wstring toolFolder;     // where zel.lib and 7z.dll come from; default: qvbuild.exe's folder
  std::vector<std::pair<std::wstring, std::wstring>> defines;
};

struct BuildOutcome {
  std::vector<SourceError> errors;  // source errors: nothing was written
  std::wstring setupPath;           // the setup executable written
};

// Throws qv::Error for missing tools, unreadable stubs and failed writes.
BuildOutcome BuildSetup(BuildOptions options);

// The stub's image (its first StubSize bytes; anything appended is dropped)
// followed by the script.
std::string AppendScript(std::string_view stubFile, const Script& script);

// The script appended to a setup executable. Throws qv::Error when the file
// is not an image or carries no script.
Script ReadAppendedScript(std::string_view setupFile);

}  // namespace qv::build
