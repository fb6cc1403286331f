// Packs a setup's payload folder into its archive (executable base name +
// ".res") through the archive module, zel.lib, found in `moduleFolder`.
#pragma once

#include <string>

namespace qv::build {

// Packs everything inside `folder` (an empty folder gives an empty archive).
// Throws qv::Error with the module's error text when packing fails.
void PackPayload(const std::wstring& moduleFolder, const std::wstring& folder, const std::wstring& archivePath);

}  // namespace qv::build
