#include "cache/EngineCache.h"

#include "cache/SavedState.h"

#include "commands/TextFiles.h"
#include "commands/VariableSeams.h"
#include "common/Error.h"
#include "common/Files.h"
#include "common/Rights.h"
#include "common/Text.h"
#include "native/NativeEngine.h"

#include <msi.h>
#include <shlobj.h>

#include <optional>

namespace qv {

namespace {

std::wstring ReadDefaultValue(HKEY root, const std::wstring& key) {
  UniqueKey opened;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, opened.put()) != ERROR_SUCCESS) return {};
  wchar_t buffer[2048];
  DWORD size = sizeof(buffer);
  if (RegGetValueW(opened.get(), nullptr, nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return {};
  return buffer;
}

std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
  return WithTrailingSlash(path);
}

std::wstring LastFolderName(const std::wstring& folder) {
  std::wstring trimmed = folder;
  while (!trimmed.empty() && trimmed.back() == L'\\') trimmed.pop_back();
  return FileNameOf(trimmed);
}

// The codes and title of the run: the script's, or those of instance.dat
// when the run is from an engine cache.
struct Identity {
  std::wstring productCode, revisionCode, title;
  bool fromCache = false;
};

Identity ReadIdentity(const Session& session) {
  Identity identity{session.script->productCode, session.script->revisionCode, session.script->title};
  const std::wstring instanceData = session.paths.exeFolder + L"instance.dat";
  if (!FileExists(instanceData)) return identity;
  try {
    const auto lines = SplitUtf8Lines(ReadWholeFile(instanceData));
    if (lines.size() >= 3) {
      identity.productCode = lines[0];
      identity.revisionCode = lines[1];
      identity.title = lines[2];
    }
    identity.fromCache = true;
  } catch (const Error&) {
    // an unreadable instance.dat: the script's identity stands
  }
  return identity;
}

bool WindowsInstallerInstalled(const std::wstring& productCode, std::wstring* packageCode = nullptr) {
  if (productCode.empty() || MsiQueryProductStateW(productCode.c_str()) != INSTALLSTATE_DEFAULT) return false;
  if (packageCode) {
    wchar_t buffer[64] = {};
    DWORD size = 64;
    if (MsiGetProductInfoW(productCode.c_str(), INSTALLPROPERTY_PACKAGECODE, buffer, &size) == ERROR_SUCCESS)
      *packageCode = buffer;
  }
  return true;
}

void WriteLines(const std::wstring& path, const std::vector<std::wstring>& lines) {
  std::wstring text;
  for (const auto& line : lines) text += line + L"\r\n";
  WriteWholeFile(path, "\xEF\xBB\xBF" + WideToUtf8(text));
}

void SetDword(HKEY key, const wchar_t* name, DWORD value) {
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

void SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::pair<DWORD, DWORD> VersionNumbers(const std::wstring& version) {
  const size_t dot = version.find(L'.');
  const DWORD major = static_cast<DWORD>(ParseInt64(version.substr(0, dot)).value_or(0));
  DWORD minor = 0;
  if (dot != std::wstring::npos) {
    const std::wstring rest = version.substr(dot + 1);
    minor = static_cast<DWORD>(ParseInt64(rest.substr(0, rest.find(L'.'))).value_or(0));
  }
  return {major, minor};
}

std::wstring lastAcceptedOverride;
// Set when the run removed the product's registration: its engine cache is on
// its way out, and nothing is saved into it any more.
bool uninstalledThisRun = false;

// The instance folder depends on the scope, the override, the codes and the
// registration; it is computed again only when one of them may have changed.
struct InstanceMemo {
  std::wstring key;
  std::wstring folder;
  bool valid = false;
} instanceMemo;

}  // namespace

std::wstring CompilerVariable(const Script& script, std::wstring_view name) {
  for (size_t i = 0; i + 1 < script.compilerVariables.size(); i += 2)
    if (EqualsNoCase(script.compilerVariables[i], name)) return script.compilerVariables[i + 1];
  return {};
}

std::wstring RegisteredInstanceFolder(const std::wstring& productCode, const std::wstring& revisionCode) {
  if (productCode.empty()) return {};
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    const std::wstring folder = ReadDefaultValue(root, kIdentCacheKey + productCode);
    if (folder.empty() || !FolderExists(folder)) continue;
    if (!EqualsNoCase(LastFolderName(folder), revisionCode)) continue;
    return WithTrailingSlash(folder);
  }
  return {};
}

std::wstring CacheRoot(const Session& session, const Variables& variables, bool perMachine) {
  const std::wstring overridden = variables.Get(L"OVERRIDECACHE");
  if (!overridden.empty()) return WithTrailingSlash(overridden);
  const std::wstring productCode = variables.Exists(L"PRODUCTCODE") ? variables.Get(L"PRODUCTCODE") : session.script->productCode;
  const std::wstring revision = variables.Exists(L"REVISIONCODE") ? variables.Get(L"REVISIONCODE") : session.script->revisionCode;
  const std::wstring registered = RegisteredInstanceFolder(productCode, revision);
  if (!registered.empty()) return FolderOf(registered.substr(0, registered.size() - 1));
  return ShellFolder(perMachine ? CSIDL_COMMON_APPDATA : CSIDL_LOCAL_APPDATA);
}

std::wstring InstanceFolder(const Session& session, const Variables& variables, bool perMachine) {
  const std::wstring revision = variables.Exists(L"REVISIONCODE") ? variables.Get(L"REVISIONCODE") : session.script->revisionCode;
  return CacheRoot(session, variables, perMachine) + revision + L"\\";
}

bool IsValidEngineCache(const std::wstring& folder) {
  const std::wstring root = WithTrailingSlash(folder);
  if (!FileExists(root + L"zel.lib")) return false;
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW((root + L"*.dat").c_str(), &data));
  if (!find) return false;
  do {
    const std::wstring base = BaseNameOf(data.cFileName);
    if (EqualsNoCase(base, L"instance")) continue;
    if (FileExists(root + base + L".exe") && FileExists(root + base + L".res") && FileExists(root + base + L".par"))
      return true;
  } while (FindNextFileW(find.get(), &data));
  return false;
}

namespace {

SavedState CaptureState(const Session& session, const Variables& variables, const ComponentList& components,
                        bool withDataFolder) {
  SavedState state;
  state.components = components.Lists();
  state.hasSettings = true;
  state.targetDir = variables.Get(L"TARGETDIR");
  state.allUsers = variables.Get(L"ALLUSERS");
  state.startMenu = variables.Get(L"STARTMENU");
  if (withDataFolder && !FileExists(session.paths.exeFolder + L"instance.dat")) state.dataFolder = session.paths.dataFolder;
  for (const auto& name : Remembered().Names()) state.remembered.emplace_back(name, variables.Get(name));
  state.bitness = std::wstring(native::BitnessText(native::Engine().bitness));
  state.overrideCache = variables.Get(L"OVERRIDECACHE");
  state.nativeEngine = variables.Get(L"NATIVE_ENGINE");
  return state;
}

void WriteState(const std::wstring& path, const SavedState& state) {
  CreateFolders(FolderOf(path));
  WriteWholeFile(path, FormatSavedState(state));
}

std::optional<SavedState> ReadState(const std::wstring& path) {
  if (!FileExists(path)) return std::nullopt;
  try {
    return ParseSavedState(ReadWholeFile(path));
  } catch (const Error&) {
    return std::nullopt;
  }
}

}  // namespace

void SaveState(const std::wstring& path, const Session& session, const Variables& variables,
               const ComponentList& components, bool withDataFolder) {
  WriteState(path, CaptureState(session, variables, components, withDataFolder));
}

bool LoadState(const std::wstring& path, Variables& variables, ComponentList& components, ComponentLoad how) {
  std::optional<SavedState> state = ReadState(path);
  if (!state) return false;
  if (how == ComponentLoad::kRestore) components.Restore(state->components);
  if (how == ComponentLoad::kApplyChoice) components.ApplySavedChoice(state->components);
  if (!state->hasSettings) return true;
  variables.Set(L"TARGETDIR", state->targetDir, kSourceLoadComponents);
  variables.Set(L"ALLUSERS", state->allUsers, kSourceLoadComponents);
  variables.Set(L"STARTMENU", state->startMenu, kSourceLoadComponents);
  // The data folder of the installing run is not taken over.
  for (const auto& [name, value] : state->remembered) {
    variables.Set(name, value, kSourceLoadComponents);
    Remembered().Add(name);
  }
  if (state->bitness) native::Engine().bitness = native::ParseBitness(*state->bitness);
  if (state->overrideCache) variables.Set(L"OVERRIDECACHE", *state->overrideCache, kSourceLoadComponents);
  if (state->nativeEngine) variables.Set(L"NATIVE_ENGINE", *state->nativeEngine, kSourceLoadComponents);
  return true;
}

void Bootstrap(Session& session, Variables& variables, ComponentList& components) {
  const Identity identity = ReadIdentity(session);
  variables.Set(L"PRODUCTCODE", identity.productCode, kSourceBootstrap);
  variables.Set(L"REVISIONCODE", identity.revisionCode, kSourceBootstrap);
  const bool administrator = IsAdministrator();
  // Without administrator rights the product goes beside the user's documents folder.
  const std::wstring documents = ShellFolder(CSIDL_PERSONAL);
  const std::wstring defaultTarget =
      (administrator ? ShellFolder(CSIDL_PROGRAM_FILES) : FolderOf(documents.substr(0, documents.size() - 1))) +
      identity.title + L"\\";

  RefreshCacheVariables(session, variables, components);
  variables.Set(L"DATADIR", session.script->buildKind == 2 ? variables.Get(L"ENGINECACHE") : session.paths.dataFolder,
                kSourceBootstrap);

  std::wstring packageCode;
  const bool msiInstalled = WindowsInstallerInstalled(identity.productCode, &packageCode);
  const bool needsUpgrade = msiInstalled && !packageCode.empty() && !EqualsNoCase(packageCode, identity.revisionCode);
  variables.Set(L"NEEDSUPGRADE", needsUpgrade ? L"TRUE" : L"FALSE", kSourceBootstrap);

  const std::wstring registered = RegisteredInstanceFolder(identity.productCode, identity.revisionCode);
  const bool installed = msiInstalled || (!registered.empty() && IsValidEngineCache(registered));
  const bool maintenance = !needsUpgrade && installed;
  variables.Set(L"MAINTENANCE", maintenance ? L"TRUE" : L"FALSE", kSourceBootstrap);

  const std::wstring instance = variables.Get(L"ENGINECACHE");
  const std::wstring savedState = instance + session.paths.baseName + L".dat";
  if (maintenance) {
    // The earlier run's choice, and what it installed, are where this run starts from.
    LoadState(savedState, variables, components, ComponentLoad::kRestore);
    components.TakeInstalledBaseline();
  } else {
    components.Define(kPredefinedComponent, L"", true);
    variables.Set(L"TARGETDIR", defaultTarget, kSourceBootstrap);
    variables.Set(L"STARTMENU", identity.title, kSourceBootstrap);
    variables.Set(L"ALLUSERS", administrator ? L"TRUE" : L"FALSE", kSourceBootstrap);
    LoadState(savedState, variables, components, ComponentLoad::kIgnore);  // for its remembered values
  }

  // The logs of this product in the registered folder of this revision.
  std::wstring oldLog;
  if (!registered.empty()) {
    const std::wstring prefix = registered + session.paths.baseName;
    if (FileExists(prefix + L".native.elements.log")) oldLog = prefix;
  }
  variables.Set(L"NATIVE_OLDLOG", oldLog, kSourceBootstrap);
  variables.Set(L"RECOMMENDEDUPGRADE", oldLog.empty() ? L"FALSE" : L"TRUE", kSourceBootstrap);
  const bool newInstance = !identity.fromCache && (maintenance || needsUpgrade);
  variables.Set(L"NEWINSTANCE", newInstance ? L"TRUE" : L"FALSE", L"Initialization");
}

namespace {

// Creates the missing folders of `folder` one by one, outermost first,
// appending each one made to `created`. False at the first that cannot be
// made (a drive that does not exist, a file in the way).
bool CreateFoldersOneByOne(const std::wstring& folder, std::vector<std::wstring>& created) {
  std::vector<std::wstring> missing;
  std::wstring path = folder;
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  while (!path.empty() && !FolderExists(path)) {
    missing.push_back(path);
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0 || path[slash - 1] == L':' || path[slash - 1] == L'\\') break;
    path.resize(slash);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!CreateDirectoryW(it->c_str(), nullptr)) return false;
    created.push_back(*it);
  }
  return FolderExists(folder);
}

}  // namespace

void RefreshCacheVariables(Session& session, Variables& variables, ComponentList& components) {
  const std::wstring overridden = variables.Get(L"OVERRIDECACHE");
  if (!overridden.empty() && overridden != lastAcceptedOverride) {
    // The override is tried by creating its folders; what the test made goes
    // again, deepest first, whether it worked or not (only empty folders go).
    const std::wstring folder = WithTrailingSlash(overridden);
    std::vector<std::wstring> created;
    const bool creatable = CreateFoldersOneByOne(folder, created);
    if (creatable) {
      variables.Set(L"OVERRIDECACHE", folder, kSourceOverride);
      lastAcceptedOverride = folder;
      instanceMemo.valid = false;
      Bootstrap(session, variables, components);
    } else {
      variables.Set(L"OVERRIDECACHE", L"", L"Failed Cache Override");
    }
    for (auto it = created.rbegin(); it != created.rend(); ++it) RemoveDirectoryW(it->c_str());
  }
  const bool perMachine = IsTrueFlag(variables.Get(L"ALLUSERS"));
  const std::wstring key = std::wstring(perMachine ? L"M|" : L"U|") + variables.Get(L"OVERRIDECACHE") + L"|" +
                           variables.Get(L"PRODUCTCODE") + L"|" + variables.Get(L"REVISIONCODE");
  if (!instanceMemo.valid || instanceMemo.key != key) {
    instanceMemo = {key, InstanceFolder(session, variables, perMachine), true};
  }
  const std::wstring& instance = instanceMemo.folder;
  if (variables.Get(L"ENGINECACHE") == instance) return;
  variables.Set(L"ENGINECACHE", instance, L"Initialization");
  variables.Set(L"UNINSTALLLINK", instance + FileNameOf(session.paths.exePath), L"Initialization");
}

std::wstring CacheSetupForMaintenance(const Session& session, Variables& variables, const ComponentList& components) {
  instanceMemo.valid = false;
  uninstalledThisRun = false;
  const bool perMachine = IsTrueFlag(variables.Get(L"ALLUSERS"));
  const std::wstring instance = InstanceFolder(session, variables, perMachine);
  const std::wstring base = session.paths.baseName;
  if (!CreateFolders(instance)) ThrowLastError(L"Cannot create the engine cache " + instance);
  const bool fromCache = EqualsNoCase(WithTrailingSlash(session.paths.exeFolder), instance);
  if (!fromCache) {
    const std::pair<std::wstring, std::wstring> copies[] = {
        {session.paths.exePath, instance + base + L".exe"},
        {session.paths.payloadArchive, instance + base + L".res"},
        {session.paths.exeFolder + L"zel.lib", instance + L"zel.lib"},
        {session.paths.exeFolder + L"7z.dll", instance + L"7z.dll"},
    };
    for (const auto& [from, to] : copies)
      if (FileExists(from) && !CopyFileW(from.c_str(), to.c_str(), FALSE)) ThrowLastError(L"Cannot copy " + from);
  }
  if (!FileExists(instance + base + L".par")) WriteLines(instance + base + L".par", {});
  const std::wstring productCode = variables.Get(L"PRODUCTCODE");
  const std::wstring title = variables.Get(L"TITLE");
  WriteLines(instance + L"instance.dat", {productCode, variables.Get(L"REVISIONCODE"), session.script->title});
  SaveState(instance + base + L".dat", session, variables, components);
  // The saved language: the active language, which is what LANGUAGE holds
  // (no language is offered at start yet, so only a script sets it).
  const std::wstring language = variables.Get(L"LANGUAGE");
  if (!language.empty())
    WriteLines(instance + base + L".lan", {language});
  else
    DeleteFileW((instance + base + L".lan").c_str());

  const HKEY root = perMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  const std::wstring exe = instance + base + L".exe";
  const PublisherInfo& p = session.script->publisher;
  const auto [major, minor] = VersionNumbers(p.displayVersion);
  UniqueKey uninstall;
  if (RegCreateKeyExW(root, (kUninstallKey + title).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, uninstall.put(),
                      nullptr) == ERROR_SUCCESS) {
    SetString(uninstall.get(), L"DisplayIcon", exe);
    SetString(uninstall.get(), L"DisplayName", title);
    SetString(uninstall.get(), L"UninstallString", L"\"" + exe + L"\" REMOVE=TRUE MODIFY=FALSE");
    SetString(uninstall.get(), L"ModifyPath", exe);
    SetString(uninstall.get(), L"Publisher", p.publisher);
    SetString(uninstall.get(), L"Contact", p.contact);
    SetString(uninstall.get(), L"HelpLink", p.helpLink);
    SetString(uninstall.get(), L"URLUpdateInfo", p.updateInfoLink);
    SetString(uninstall.get(), L"Comments", p.comments);
    SetString(uninstall.get(), L"DisplayVersion", p.displayVersion);
    SetDword(uninstall.get(), L"VersionMajor", major);
    SetDword(uninstall.get(), L"VersionMinor", minor);
    SetString(uninstall.get(), L"InstallLocation", variables.Get(L"TARGETDIR"));
  }
  UniqueKey ident;
  if (RegCreateKeyExW(root, (kIdentCacheKey + productCode).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, ident.put(),
                      nullptr) == ERROR_SUCCESS) {
    SetString(ident.get(), nullptr, instance);
    SetDword(ident.get(), L"VersionMajor", major);
    SetDword(ident.get(), L"VersionMinor", minor);
  }
  return instance;
}

namespace {

// Deletes a key that holds nothing: no subkey, no value (a default value included).
bool DeleteKeyWhenEmpty(HKEY root, const std::wstring& path) {
  {
    UniqueKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS ||
        subkeys || values)
      return false;
  }
  return RegDeleteKeyW(root, path.c_str()) == ERROR_SUCCESS;
}

}  // namespace

void RemoveRegistration(const Session& session, const Variables& variables) {
  (void)session;
  instanceMemo.valid = false;
  uninstalledThisRun = true;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    RegDeleteTreeW(root, (kUninstallKey + variables.Get(L"TITLE")).c_str());
    RegDeleteKeyW(root, (kUninstallKey + variables.Get(L"TITLE")).c_str());
    RegDeleteTreeW(root, (kIdentCacheKey + variables.Get(L"PRODUCTCODE")).c_str());
    RegDeleteKeyW(root, (kIdentCacheKey + variables.Get(L"PRODUCTCODE")).c_str());
    // The registration's own parent keys go with the last product registered
    // under them; a key that still holds anything stays, and so do its parents.
    std::wstring parent = kIdentCacheKey;
    parent.pop_back();
    for (int level = 0; level < 3 && DeleteKeyWhenEmpty(root, parent); ++level) parent.resize(parent.find_last_of(L'\\'));
  }
}

void PostRunCacheWork(const Session& session, const Variables& variables, const ComponentList& components) {
  const bool perMachine = IsTrueFlag(variables.Get(L"ALLUSERS"));
  const std::wstring instance = InstanceFolder(session, variables, perMachine);
  if (!Remembered().Names().empty() && !uninstalledThisRun) {
    const std::wstring path = instance + session.paths.baseName + L".dat";
    SavedState state = CaptureState(session, variables, components, true);
    // An existing saved state is updated in place: its component choice and
    // settings (saved when the changes were applied) stay as they are.
    if (const std::optional<SavedState> existing = ReadState(path); existing && existing->hasSettings) {
      state.components = existing->components;
      state.targetDir = existing->targetDir;
      state.allUsers = existing->allUsers;
      state.startMenu = existing->startMenu;
      state.dataFolder = existing->dataFolder;
    }
    WriteState(path, state);
  }
  if (FolderExists(instance)) {
    const DWORD attributes = GetFileAttributesW(instance.c_str());
    SetFileAttributesW(instance.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
  }
}

bool AcquireSingleInstance(const std::wstring& revisionCode) {
  static UniqueHandle mutex;  // released by the system when the process ends, however it ends
  const std::wstring name = L"Local\\Quorvane.SingleInstance." + revisionCode;
  mutex.reset(CreateMutexW(nullptr, FALSE, name.c_str()));
  if (!mutex) return true;  // no guard to be had: never block a run for it
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    mutex.reset();
    return false;
  }
  return true;
}

}  // namespace qv
