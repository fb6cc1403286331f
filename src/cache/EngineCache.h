// The engine cache of an installed product: where it lies, how it is
// registered, the small files kept in it, the bootstrap that tells at every
// start whether the product is installed, and the single-instance guard.
#pragma once

#include "bootstrap/Session.h"
#include "common/Handles.h"
#include "interpreter/VariableStore.h"

#include <string>
#include <vector>

namespace qv {

inline constexpr wchar_t kIdentCacheKey[] = L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\";
inline constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr std::wstring_view kSourceBootstrap = L"Bootstrap";
inline constexpr std::wstring_view kSourceLoadComponents = L"LoadComponents";

// The instance folder registered for the product under HKLM, else HKCU, when
// it exists and is named after `revisionCode`; empty otherwise.
std::wstring RegisteredInstanceFolder(const std::wstring& productCode, const std::wstring& revisionCode);

// Cache root for a scope: OVERRIDECACHE, else the registration's parent
// folder, else the common (per machine) or local (per user) application data
// folder. Always with a trailing backslash.
std::wstring CacheRoot(const Session& session, const Variables& variables, bool perMachine);
std::wstring InstanceFolder(const Session& session, const Variables& variables, bool perMachine);

// A folder holding zel.lib and, for some name N, N.dat, N.exe, N.res and N.par.
bool IsValidEngineCache(const std::wstring& folder);

// Runs once at run start (and after a cache override): PRODUCTCODE,
// REVISIONCODE, ENGINECACHE, UNINSTALLLINK, DATADIR, NEEDSUPGRADE,
// MAINTENANCE, TARGETDIR/STARTMENU/ALLUSERS, NATIVE_OLDLOG,
// RECOMMENDEDUPGRADE, NEWINSTANCE.
void Bootstrap(Session& session, Variables& variables);

// Each cycle: ENGINECACHE and UNINSTALLLINK for the scope ALLUSERS selects,
// and a changed OVERRIDECACHE.
void RefreshCacheVariables(Session& session, Variables& variables);

// The saved state file (base + ".dat").
void SaveState(const std::wstring& path, const Session& session, const Variables& variables);
void LoadState(const std::wstring& path, Variables& variables);

// After a successful installation: copies the setup into the instance folder,
// writes instance.dat and the saved state, and registers the product for
// maintenance and uninstall. Returns the instance folder.
std::wstring CacheSetupForMaintenance(const Session& session, Variables& variables);
// Deletes the uninstall entry and the cache registration under both roots.
void RemoveRegistration(const Session& session, const Variables& variables);

// At the normal end of a run: hidden instance folder, remembered values saved.
void PostRunCacheWork(const Session& session, const Variables& variables);

// One running instance per revision code when the script asks for it
// (#SINGLEINSTANCE#): a named mutex held until the process ends, so a crashed
// run never blocks the next one. False when another instance holds it.
bool AcquireSingleInstance(const std::wstring& revisionCode);

// The value of a compiler variable of the script (item 18), empty when absent.
std::wstring CompilerVariable(const Script& script, std::wstring_view name);

}  // namespace qv
