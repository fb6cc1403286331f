// The private support folder of a run: temporary folder + "zel" + n, claimed
// atomically so that setups started together never share one, and created
// with an access list that admits only the current user, SYSTEM and the
// Administrators group.
#pragma once

#include <string>

namespace qv {

// SDDL of the support folder's protected access list for the current user.
std::wstring PrivateFolderSddl();

// Creates temporary folder + "zel" + n + "\" for the smallest n >= 1 whose
// name is free (neither folder nor file). Creation itself is the test, so two
// processes can never claim the same n. Returns the path with its trailing
// backslash; throws qv::Error when no folder can be created.
std::wstring ClaimSupportFolder(const std::wstring& temporaryFolder);

// Copies executable folder + base name + ".msi" and ".msp" into the support
// folder (overwriting, normal attribute); a missing or failing copy is passed over.
void CopyPackageFiles(const std::wstring& exeFolder, const std::wstring& baseName, const std::wstring& supportFolder);

}  // namespace qv
