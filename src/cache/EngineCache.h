// The engine cache of an installed product: where it lies, how it is
// registered, the small files kept in it, the bootstrap that tells at every
// start whether the product is installed, and the single-instance guard.
#pragma once

#include "bootstrap/Session.h"
#include "common/Handles.h"
#include "components/ComponentList.h"
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
// In maintenance the saved component choice replaces the component list and
// sets its installed baseline; otherwise QIVA-PREDEF-COMPONENT is defined.
void Bootstrap(Session& session, Variables& variables, ComponentList& components);

// Each cycle: ENGINECACHE and UNINSTALLLINK for the scope ALLUSERS selects,
// and a changed OVERRIDECACHE.
void RefreshCacheVariables(Session& session, Variables& variables, ComponentList& components);

// The saved state file (base + ".dat", format in cache/SavedState.h). The
// data-folder line is left empty without `withDataFolder` and in a run from
// the engine cache itself.
void SaveState(const std::wstring& path, const Session& session, const Variables& variables,
               const ComponentList& components, bool withDataFolder = true);

// What a load does with the component lists of the file.
enum class ComponentLoad {
  kIgnore,   // the variables only
  kRestore,  // the file's lists replace the run's (maintenance start-up)
  kApplyChoice,  // selections of existing components, deleted/hidden/fixed lists ("Load Feature Selections")
};
// Loads TARGETDIR, ALLUSERS, STARTMENU, the remembered variables (which join
// the run's remembered list), the bitness mode, OVERRIDECACHE and
// NATIVE_ENGINE, all with the source "LoadComponents", and the component
// lists as `how` says. False, with nothing changed, when the file is missing,
// unreadable or not a saved state.
bool LoadState(const std::wstring& path, Variables& variables, ComponentList& components, ComponentLoad how);

// After a successful installation: copies the setup into the instance folder,
// writes instance.dat and the saved state, and registers the product for
// maintenance and uninstall. Returns the instance folder.
std::wstring CacheSetupForMaintenance(const Session& session, Variables& variables, const ComponentList& components);
// Deletes the uninstall entry and the cache registration under both roots.
void RemoveRegistration(const Session& session, const Variables& variables);

// At the normal end of a run: hidden instance folder, remembered values saved
// (an existing saved state keeps everything up to its data-folder line;
// nothing is saved after the run removed the product's registration).
void PostRunCacheWork(const Session& session, const Variables& variables, const ComponentList& components);

// One running instance per revision code when the script asks for it
// (#SINGLEINSTANCE#): a named mutex held until the process ends, so a crashed
// run never blocks the next one. False when another instance holds it.
bool AcquireSingleInstance(const std::wstring& revisionCode);

// The value of a compiler variable of the script (item 18), empty when absent.
std::wstring CompilerVariable(const Script& script, std::wstring_view name);

}  // namespace qv
