// The permission override (NATIVE_OVERRIDE_PERMISSIONS): an existing file or
// registry key that the installing user may not change is taken over for
// the change (the user becomes its owner and gets full access) and its own
// owner and access list are written back afterwards, onto the file that
// replaced it where one did.
//
// Under Wine, registry key security is stored and enforced, but file
// security is reduced to the Unix mode bits (the owner cannot be changed,
// and the engine runs as a user the mode bits do not stop), and the
// take-ownership privilege does not open a key whose owner is someone else.
// The calls below are the real ones either way.
#pragma once

#include "common/Handles.h"
#include "interpreter/VariableStore.h"

#include <windows.h>

#include <string>
#include <vector>

namespace qv::native {

// What the variables say, read at each change.
struct SecurityPolicy {
  bool on = false;             // NATIVE_OVERRIDE_PERMISSIONS
  bool nonRestorable = false;  // NATIVE_OVERRIDE_NON_RESTORABLE_PERMISSIONS
  static SecurityPolicy From(Variables& variables);
};

// What an override changed and how to undo it. Movable, not copyable: a
// key's saved security holds the key open until it is restored.
struct SavedSecurity {
  bool overridden = false;          // the object's owner or access list was changed
  std::vector<BYTE> descriptor;     // self-relative owner + access list; empty when unreadable
  std::wstring path;                // a file
  UniqueKey key;                    // a key, kept open for the restore
};

// Files. Nothing happens (and nothing is saved) unless the policy is on and
// the file exists; a failed override leaves the file as it was.
SavedSecurity OverrideSecurity(const SecurityPolicy& policy, const std::wstring& path);
// Registry keys, in the registry view `view`, under `root` (a predefined or
// remote root). A key that does not exist is left alone.
SavedSecurity OverrideSecurity(const SecurityPolicy& policy, HKEY root, const std::wstring& keyPath, REGSAM view);

// Writes the saved owner and access list back (through the kept handle for
// a key, which is then closed). `newFile`: a new file replaced the one that
// was overridden; it is taken over first and gets the old file's security.
// Failures are ignored: the change itself is done.
void RestoreSecurity(SavedSecurity& saved, bool newFile = false);

// The access list `dacl` with an entry granting `user` full access put in
// front of every other entry, so that no denial in the old list outweighs
// it. A missing list (everyone has full access) gives an empty result.
std::vector<BYTE> WithFullAccessFirst(const ACL* dacl, PSID user);

}  // namespace qv::native
