// The installation data of a setup: the files that "Install Files"
// statements take from the source tree. The builder gives each such
// statement a header ("F" + its row), lists the header in the script's
// header list and its files in the file table, and copies the files into
// the setup folder's "data\" folder, where the engine reads them:
//   data\<header>\<path below the statement's source folder>
// The companion of each file is its subfolder below the source folder, so
// the engine recreates that layout below the statement's target folder.
#pragma once

#include "builder/SourceParser.h"
#include "script/Script.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qv::build {

struct InstallData {
  std::vector<std::pair<std::wstring, std::wstring>> copies;  // full source path -> path below data\ .
  uint64_t bytes = 0;
};

// Fills the script's header list, file table and native progress maximum
// from the "Install Files" statements; `sourceFolder` is where relative
// sources are looked up. A source that matches nothing is an error.
InstallData PlanInstallData(Script& script, const std::wstring& sourceFolder, std::vector<SourceError>& errors);

// Copies the planned files below outputFolder + "data\"; throws qv::Error.
void WriteInstallData(const InstallData& data, const std::wstring& outputFolder);

}  // namespace qv::build
