// A picture of the parts of the machine a setup may change, taken before and
// after a run and compared, so that a test can prove an uninstall or a
// rollback left nothing behind.
//
// Registry (names, types and data of every key and value):
//   HKLM\SOFTWARE and HKCU\Software, each in the 64-bit and the 32-bit view;
//   HKEY_CLASSES_ROOT in both views; HKLM\SYSTEM\CurrentControlSet\Services;
//   the two environment keys (HKCU\Environment and the system one).
// File system: the drive C: tree (names, sizes, attributes).
//
// Left out, each for a reason (listed where they are applied, in
// MachineSnapshot.cpp):
//   - HKLM\SOFTWARE\Classes: it is HKEY_CLASSES_ROOT, recorded as such;
//   - "Wow6432Node" below a 64-bit view: it is the 32-bit view, recorded as such;
//   - what Wine writes by itself while programs run: its menu builder's notes
//     (HKCU\Software\Wine\MenuFiles) and HKCR\Applications;
//   - the test programs' temporary folder (the sandboxes live there) and the
//     profile folders Wine links to the host's home folder;
//   - whatever a test names as its own (its sandbox folder).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qv::test {

class MachineSnapshot {
public:
  // `ownFolders` are folders of the test itself (its sandbox), never compared.
  static MachineSnapshot Take(const std::vector<std::wstring>& ownFolders = {});

  // Readable lines, one per difference ("+ " added, "- " removed, "~ "
  // changed, with both states); empty when both pictures agree. Entries
  // named in `kept` (case ignored; a name ending in "*" takes every path it
  // begins) are left out: what a test keeps on purpose. Paths read
  // "HKLM\SOFTWARE\Key [64]" for a key, the same + " @ Name" for a value,
  // "C:\folder\" for a folder and "C:\folder\file" for a file.
  static std::string Diff(const MachineSnapshot& before, const MachineSnapshot& after,
                          const std::vector<std::wstring>& kept = {});

  size_t size() const { return entries_.size(); }

private:
  // Path ("HKLM\SOFTWARE\...[32]", "HKLM\...\Key @ Value", "C:\...") -> state.
  std::map<std::wstring, std::wstring> entries_;
  friend class SnapshotWalker;
};

}  // namespace qv::test
