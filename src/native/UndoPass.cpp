#include "native/UndoPass.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"
#include "interpreter/VariableStore.h"
#include "native/ActionSupport.h"
#include "native/Executor.h"
#include "native/Security.h"
#include "native/SelfRegistration.h"

#include <odbcinst.h>

#include <functional>

namespace qv::native {

namespace {

bool IsMissing(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME;
}

// "<root code as a 32-bit number>|<machine>": the predefined key, sign-extended
// as the system defines it.
HKEY RootKeyOf(const std::wstring& field, std::wstring& machine) {
  const size_t bar = field.find(L'|');
  const int32_t code = ParseInt32(field.substr(0, bar)).value_or(0);
  machine = bar == std::wstring::npos ? L"" : field.substr(bar + 1);
  HKEY root = reinterpret_cast<HKEY>(static_cast<intptr_t>(code));
  if (root != HKEY_LOCAL_MACHINE && root != HKEY_USERS) machine.clear();
  if (!machine.empty() && !machine.starts_with(L"\\\\")) machine = L"\\\\" + machine;
  return root;
}

bool KeyIsEmpty(HKEY root, const std::wstring& path, REGSAM view) {
  UniqueKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return false;
  DWORD subkeys = 0, values = 0;
  if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  return subkeys == 0 && values == 0;
}

// Data: root and machine, key, value name, then the keys the change created, deepest first.
ActionResult DeleteRegistry(TNativeThread& thread, const UndoEntry& entry) {
  std::wstring machine;
  HKEY root = RootKeyOf(Field(entry.data, 0), machine);
  UniqueKey remote;
  if (!machine.empty() && RegConnectRegistryW(machine.c_str(), root, remote.put()) == ERROR_SUCCESS) root = remote.get();
  const REGSAM view = RegistryView(entry.bitness);
  const std::wstring& keyPath = Field(entry.data, 1);
  const std::wstring& valueName = Field(entry.data, 2);
  const SecurityPolicy security = SecurityPolicy::From(thread.variables());
  SavedSecurity saved = OverrideSecurity(security, root, keyPath, view);
  ActionResult result = thread.Attempt(
      [&]() -> DWORD {
        UniqueKey key;
        const LONG opened = RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_SET_VALUE | view, key.put());
        if (IsMissing(static_cast<DWORD>(opened))) return 0;  // already gone
        if (opened != ERROR_SUCCESS) return static_cast<DWORD>(opened);
        const LONG deleted = RegDeleteValueW(key.get(), valueName.c_str());
        return deleted == ERROR_SUCCESS || IsMissing(static_cast<DWORD>(deleted)) ? 0 : static_cast<DWORD>(deleted);
      },
      keyPath + L"\\" + valueName);
  RestoreSecurity(saved);
  if (result != ActionResult::kDone) return result;
  thread.Log(L"          < " + keyPath + L"\\" + valueName + L" >");
  for (size_t i = 3; i < entry.data.size(); ++i) {
    const std::wstring& created = entry.data[i];
    if (!KeyIsEmpty(root, created, view)) break;  // holds something now: it stays, and so do its parents
    // Deleting needs the key's own delete right: opened up like the value's
    // key, and put back when the key survives.
    SavedSecurity keySecurity = OverrideSecurity(security, root, created, view);
    result = thread.Attempt(
        [&]() -> DWORD {
          const LONG deleted = RegDeleteKeyExW(root, created.c_str(), view, 0);
          return deleted == ERROR_SUCCESS || IsMissing(static_cast<DWORD>(deleted)) ? 0 : static_cast<DWORD>(deleted);
        },
        created);
    RestoreSecurity(keySecurity);
    if (result != ActionResult::kDone) return result;
    thread.Log(L"          < " + created + L" >");
  }
  return ActionResult::kDone;
}

// A file that cannot go now goes at the next restart. With the permission
// override on, its security is taken over first and put back when the file
// stays.
ActionResult DeletePath(TNativeThread& thread, const std::wstring& path) {
  const SecurityPolicy security = SecurityPolicy::From(thread.variables());
  SavedSecurity saved;
  const ActionResult result = thread.Attempt(
      [&]() -> DWORD {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return 0;  // already gone
        if (!saved.overridden) saved = OverrideSecurity(security, path);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileW(path.c_str())) return 0;
        const DWORD error = GetLastError();
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;
        RestoreSecurity(saved);
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION) {
          if (MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            thread.engine().rebootPending = true;
            return 0;
          }
        }
        return error;
      },
      path);
  RestoreSecurity(saved);
  return result;
}

ActionResult DeleteFileEntry(TNativeThread& thread, const UndoEntry& entry) {
  const std::wstring path = MapPath(Field(entry.data, 0), entry.bitness);
  const ActionResult result = DeletePath(thread, path);
  if (result == ActionResult::kDone) thread.Log(L"          < " + path + L" >");
  return result;
}

// Data: the file. Its "Delete File" entry, undone after this one, removes it.
ActionResult UnregisterFile(TNativeThread& thread, const UndoEntry& entry) {
  const std::wstring path = MapPath(Field(entry.data, 0), entry.bitness);
  UnregisterPlacedFile(path);
  thread.Log(L"          < " + path + L" >");
  return ActionResult::kDone;
}

std::wstring SharedValuePath(const std::wstring& file) {
  return L"HKEY_LOCAL_MACHINE\\" + std::wstring(kSharedDllsKey) + L"\\" + file;
}

// Data: the file. One user fewer; the last one takes the file (and its
// registration) away. Without a count the file is not ours to remove.
ActionResult UnshareFile(TNativeThread& thread, const UndoEntry& entry) {
  const std::wstring& valueName = Field(entry.data, 0);
  const std::wstring path = MapPath(valueName, entry.bitness);
  const std::wstring object = SharedValuePath(valueName);
  const REGSAM view = RegistryView(entry.bitness);
  const std::wstring keyPath(kSharedDllsKey);
  int64_t count = 0;
  {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS)
      return ActionResult::kDone;
    DWORD value = 0, type = 0, size = sizeof(value);
    const LONG read = RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (read == ERROR_FILE_NOT_FOUND) return ActionResult::kDone;
    // A count that cannot be read keeps the file for a long while yet.
    count = read == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value) ? value : 10000;
  }
  const auto withKey = [&](const std::function<LONG(HKEY)>& change) -> DWORD {
    UniqueKey key;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_SET_VALUE | view, key.put());
    if (opened != ERROR_SUCCESS) return IsMissing(static_cast<DWORD>(opened)) ? 0 : static_cast<DWORD>(opened);
    const LONG changed = change(key.get());
    return IsMissing(static_cast<DWORD>(changed)) ? 0 : static_cast<DWORD>(changed);
  };
  if (count > 1) {
    const DWORD left = static_cast<DWORD>(count - 1);
    const ActionResult result = thread.Attempt(
        [&] {
          return withKey([&](HKEY key) {
            return RegSetValueExW(key, valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&left), sizeof(left));
          });
        },
        object);
    if (result == ActionResult::kDone) thread.Log(L"          < " + object + L" " + std::to_wstring(left) + L" >");
    return result;
  }
  ActionResult result = thread.Attempt(
      [&] { return withKey([&](HKEY key) { return RegDeleteValueW(key, valueName.c_str()); }); }, object);
  if (result != ActionResult::kDone) return result;
  thread.Log(L"          < " + object + L" >");
  if (entry.action == L"Unshare Self Registering File") UnregisterPlacedFile(path);
  result = DeletePath(thread, path);
  if (result == ActionResult::kDone) thread.Log(L"          < " + path + L" >");
  return result;
}

// Data: the folders the change created, deepest first.
ActionResult DeleteFolder(TNativeThread& thread, const UndoEntry& entry) {
  for (const std::wstring& recorded : entry.data) {
    const std::wstring folder = MapPath(recorded, entry.bitness);
    if (!FolderExists(folder)) break;
    if (!RemoveDirectoryW(folder.c_str())) {
      if (GetLastError() == ERROR_DIR_NOT_EMPTY) break;  // something else lives there now
      const ActionResult result = thread.Attempt(
          [&]() -> DWORD {
            if (RemoveDirectoryW(folder.c_str()) || !FolderExists(folder)) return 0;
            return GetLastError() == ERROR_DIR_NOT_EMPTY ? 0 : GetLastError();
          },
          folder);
      if (result != ActionResult::kDone) return result;
    }
    thread.Log(L"          < " + folder + L" >");
  }
  return ActionResult::kDone;
}

ActionResult DeleteService(TNativeThread& thread, const UndoEntry& entry) {
  const std::wstring& name = Field(entry.data, 0);
  UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return thread.Attempt([] { return GetLastError(); }, name);
  UniqueService service(OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS | DELETE));
  if (!service) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? ActionResult::kDone
                                                                       : thread.Attempt([] { return GetLastError(); }, name);
  SERVICE_STATUS status{};
  ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
  return thread.Attempt(
      [&]() -> DWORD {
        if (DeleteService(service.get())) return 0;
        const DWORD error = GetLastError();
        return error == ERROR_SERVICE_MARKED_FOR_DELETE ? 0 : error;
      },
      name);
}

// Data: driver name, driver file, setup library. The driver's keys are in the
// registry view of the entry's mode.
ActionResult DeleteOdbcDriver(TNativeThread& thread, const UndoEntry& entry) {
  const std::wstring& name = Field(entry.data, 0);
  const std::wstring key = L"SOFTWARE\\ODBC\\ODBCINST.INI\\" + name;
  const REGSAM view = RegistryView(entry.bitness);
  DWORD count = 1;
  {
    UniqueKey driver;
    DWORD size = sizeof(count);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, driver.put()) != ERROR_SUCCESS ||
        RegQueryValueExW(driver.get(), L"UsageCount", nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size) !=
            ERROR_SUCCESS)
      count = 1;
  }
  if (count > 1) {
    --count;
    return thread.Attempt(
        [&]() -> DWORD {
          UniqueKey driver;
          if (LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE | view, driver.put()))
            return static_cast<DWORD>(status);
          return static_cast<DWORD>(
              RegSetValueExW(driver.get(), L"UsageCount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof(count)));
        },
        key);
  }
  for (size_t i = 1; i <= 2; ++i)
    if (!Field(entry.data, i).empty())
      if (const ActionResult r = DeletePath(thread, Field(entry.data, i)); r != ActionResult::kDone) return r;
  UniqueKey odbcinst;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ODBC\\ODBCINST.INI", 0, KEY_ALL_ACCESS | view, odbcinst.put()) !=
      ERROR_SUCCESS)
    return ActionResult::kDone;
  const ActionResult result = thread.Attempt(
      [&]() -> DWORD {
        const LONG deleted = RegDeleteTreeW(odbcinst.get(), name.c_str());
        if (deleted != ERROR_SUCCESS && !IsMissing(static_cast<DWORD>(deleted))) return static_cast<DWORD>(deleted);
        RegDeleteKeyExW(odbcinst.get(), name.c_str(), view, 0);
        return 0;
      },
      key);
  if (result != ActionResult::kDone) return result;
  UniqueKey drivers;
  if (RegOpenKeyExW(odbcinst.get(), L"ODBC Drivers", 0, KEY_SET_VALUE | view, drivers.put()) == ERROR_SUCCESS)
    RegDeleteValueW(drivers.get(), name.c_str());
  return ActionResult::kDone;
}

// Data: data source name, driver, system flag. A refusal is not an error.
ActionResult RemoveOdbcDsn(TNativeThread&, const UndoEntry& entry) {
  std::wstring attributes = L"DSN=" + Field(entry.data, 0);
  attributes.push_back(L'\0');
  attributes.push_back(L'\0');
  const WORD request = IsTrueFlag(Field(entry.data, 2)) ? ODBC_REMOVE_SYS_DSN : ODBC_REMOVE_DSN;
  SQLConfigDataSourceW(nullptr, request, Field(entry.data, 1).c_str(), attributes.c_str());
  return ActionResult::kDone;
}

using UndoFn = ActionResult (*)(TNativeThread&, const UndoEntry&);

constexpr std::pair<std::wstring_view, UndoFn> kUndoActions[] = {
    {L"Delete Registry", DeleteRegistry}, {L"Delete File", DeleteFileEntry},   {L"Delete Folder", DeleteFolder},
    {L"Delete Service", DeleteService},   {L"Delete ODBC Driver", DeleteOdbcDriver}, {L"Remove ODBC DSN", RemoveOdbcDsn},
    {L"Delete Environment", DeleteEnvironment}, {L"Remove INI Entry", RemoveIniEntry},
    {L"Unregister File", UnregisterFile}, {L"Unshare File", UnshareFile},
    {L"Unshare Self Registering File", UnshareFile},
    {L"Delete INI File", DeleteIniFile},
};

std::wstring ObjectOf(const UndoEntry& entry) {
  if (entry.action == L"Delete Registry") return Field(entry.data, 1) + L"\\" + Field(entry.data, 2);
  if (entry.action == L"Delete Environment") return Field(entry.data, 2);
  if (entry.action == L"Unregister File") return L"unregsvr32 " + Field(entry.data, 0);
  if (entry.action == L"Unshare File" || entry.action == L"Unshare Self Registering File")
    return SharedValuePath(Field(entry.data, 0));
  if (entry.action == L"Remove INI Entry") return Field(entry.data, 0) + L": [" + Field(entry.data, 1) + L"] " + Field(entry.data, 2);
  return Field(entry.data, 0);
}

}  // namespace

int UndoPass(TNativeThread& thread, bool uninstall) {
  TNativeEngine& engine = thread.engine();
  Variables& variables = thread.variables();
  const std::wstring prefix = LogPrefix(variables);
  const std::wstring createdFolder = engine.logs.FlushLogs(prefix);
  const std::vector<UndoEntry> entries = LogsPresent(prefix, false) ? ReadLogs(prefix) : std::vector<UndoEntry>{};

  uint64_t maximum = 0;
  for (const auto& entry : entries) maximum += entry.weight;
  const uint64_t savedMaximum = thread.phaseMaximum();
  const std::wstring savedProgress = variables.Get(L"NATIVE_PROGRESS");
  const Bitness savedBitness = engine.bitness;
  thread.setPhaseMaximum(maximum);
  variables.Set(L"NATIVE_PROGRESS", L"0", L"Native Engine");

  // Whatever happens, the run's own state comes back, and a log folder made
  // only for this pass goes again.
  ScopeGuard restore([&] {
    variables.Set(L"NATIVE_PROGRESS", savedProgress, L"Native Engine");
    engine.bitness = savedBitness;
    thread.setPhaseMaximum(savedMaximum);
    if (!createdFolder.empty()) {
      for (size_t i = 0; i < 4; ++i) DeleteFileW(LogFile(prefix, i).c_str());
      RemoveDirectoryW(createdFolder.c_str());
    }
  });

  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const UndoEntry& entry = *it;
    thread.Log(L"        <" + entry.action + L">");
    thread.Log(L"        < " + ToCommaText(entry.data) + L" >");
    engine.bitness = entry.bitness;
    BitnessScope scope(entry.bitness);
    ActionResult result = ActionResult::kDone;
    for (const auto& [name, undo] : kUndoActions)
      if (name == entry.action) result = undo(thread, entry);
    if (result == ActionResult::kAborted) return 0;
    const bool goOn = thread.ReportProgress(ObjectOf(entry), entry.weight);
    thread.Log(L"        </" + entry.action + L">");
    if (uninstall && !goOn) return 0;
  }
  return 1;
}

}  // namespace qv::native
