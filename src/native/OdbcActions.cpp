// The two ODBC kinds.
//
// "Install ODBC Driver": record fields 0 header, 1 driver name, 2 target
// folder, 3 attribute lines ("name=value", one a line). The header's files
// go into the target folder itself: for this kind the file table's
// companion item names the driver's setup library instead of a subfolder.
// Once the first file (the driver) is in place, the driver is registered
// under HKEY_LOCAL_MACHINE "SOFTWARE\ODBC\ODBCINST.INI" by nested
// "Write Registry" records marked keep (the registration is undone as a
// whole by "Delete ODBC Driver", which counts the usage down), with
// "UsageCount" one above the count found. The undo entry is recorded only
// when the new count is really there, so that an undo never counts down a
// registration this action did not count up.
//
// "Create ODBC DSN": fields 0 data source name, 1 driver name, 2 system
// flag, 3 attribute lines. The ODBC installer adds the data source through
// the driver's setup library; a refusal is the driver's answer, not a
// system failure, so it goes to no error policy and records nothing. The
// installer is the process's own (64-bit in a 64-bit engine) whatever the
// bitness mode. Wine 8's installer looks for the data-source routine in the
// driver library (the "Driver" value) instead of the setup library, and
// what that routine writes with the profile-string calls during a system
// data source lands under HKEY_CURRENT_USER; the engine's call is the same.
#include "native/ActionKinds.h"
#include "native/ActionSupport.h"
#include "native/Executor.h"

#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"
#include "interpreter/VariableStore.h"

#include <odbcinst.h>

#include <optional>

namespace qv::native {

namespace {

constexpr std::wstring_view kDriversKey = L"SOFTWARE\\ODBC\\ODBCINST.INI\\";

std::wstring DriverText(const Fields& fields) { return Field(fields, 1); }
std::wstring DsnText(const Fields& fields) { return Field(fields, 0); }

// The non-empty lines of a multi-line field.
std::vector<std::wstring> Lines(std::wstring_view text) {
  std::vector<std::wstring> lines;
  std::wstring line;
  for (wchar_t c : text) {
    if (c == L'\r' || c == L'\n') {
      if (!line.empty()) lines.push_back(std::move(line));
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

std::optional<DWORD> UsageCount(const std::wstring& key, REGSAM view) {
  UniqueKey opened;
  DWORD count = 0, bytes = sizeof(count), type = 0;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, opened.put()) != ERROR_SUCCESS ||
      RegQueryValueExW(opened.get(), L"UsageCount", nullptr, &type, reinterpret_cast<BYTE*>(&count), &bytes) !=
          ERROR_SUCCESS ||
      type != REG_DWORD)
    return std::nullopt;
  return count;
}

// A nested registry write under HKEY_LOCAL_MACHINE that records no undo.
bool Keep(TNativeThread& thread, const std::wstring& key, const std::wstring& name, const std::wstring& data,
          const wchar_t* type) {
  return thread.RunAction(L"Write Registry", ToCommaText({L"TRUE", L"2|", key, name, data, type}));
}

ActionResult Register(TNativeThread& thread, const Fields& fields, const std::wstring& driver,
                      const std::wstring& setup) {
  const std::wstring& name = Field(fields, 1);
  const std::wstring key = std::wstring(kDriversKey) + name;
  const REGSAM view = RegistryView(thread.bitness());
  const DWORD count = UsageCount(key, view).value_or(0) + 1;
  if (!Keep(thread, key, L"UsageCount", std::to_wstring(count), L"INTEGER")) return ActionResult::kAborted;
  for (const std::wstring& line : Lines(Field(fields, 3))) {
    const size_t equals = line.find(L'=');
    if (equals == std::wstring::npos || equals == 0) continue;
    if (!Keep(thread, key, line.substr(0, equals), line.substr(equals + 1), L"STRING")) return ActionResult::kAborted;
  }
  if (!Keep(thread, key, L"Driver", driver, L"STRING")) return ActionResult::kAborted;
  if (!setup.empty() && !Keep(thread, key, L"Setup", setup, L"STRING")) return ActionResult::kAborted;
  if (!Keep(thread, std::wstring(kDriversKey) + L"ODBC Drivers", name, L"Installed", L"STRING"))
    return ActionResult::kAborted;
  if (UsageCount(key, view) != count) return ActionResult::kFailed;  // the nested write failed and was ignored
  thread.RecordUndo(L"Install ODBC Driver", {name, driver, setup});
  return ActionResult::kDone;
}

ActionResult PerformDriver(TNativeThread& thread, const Fields& fields) {
  const std::wstring folder = WithTrailingSlash(MapPath(Field(fields, 2), thread.bitness()));
  ActionResult outcome = ActionResult::kDone;
  bool first = true;
  for (const DataFile& file : DataFilesOf(thread, Field(fields, 0))) {
    const std::wstring target = folder + FileNameOf(file.source);
    ActionResult result = PlaceActionFile(thread, file.source, target);
    if (first && result == ActionResult::kDone) {
      result = Register(thread, fields, target, file.companion.empty() ? L"" : folder + file.companion);
      if (result == ActionResult::kDone) thread.Log(L"        < " + Field(fields, 1) + L" >");
    }
    first = false;
    if (result == ActionResult::kAborted) return result;
    if (result == ActionResult::kFailed) outcome = result;
  }
  return outcome;
}

using ConfigDataSource = BOOL(WINAPI*)(HWND, WORD, LPCWSTR, LPCWSTR);

// The ODBC installer, loaded from the system folder only, on first use.
ConfigDataSource Installer() {
  static const ConfigDataSource function = [] {
    const HMODULE module = LoadLibraryExW(L"odbccp32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module ? reinterpret_cast<ConfigDataSource>(GetProcAddress(module, "SQLConfigDataSourceW")) : nullptr;
  }();
  return function;
}

ActionResult PerformDsn(TNativeThread& thread, const Fields& fields) {
  const std::wstring& name = Field(fields, 0);
  const std::wstring& driver = Field(fields, 1);
  const bool system = IsTrueFlag(Field(fields, 2));
  std::wstring attributes = L"DSN=" + name + L'\0';
  for (const std::wstring& line : Lines(Field(fields, 3))) attributes += line + L'\0';
  attributes += L'\0';
  const ConfigDataSource configure = Installer();
  if (!configure || !configure(nullptr, system ? ODBC_ADD_SYS_DSN : ODBC_ADD_DSN, driver.c_str(), attributes.c_str()))
    return ActionResult::kDone;
  thread.RecordUndo(L"Create ODBC DSN", {name, driver, Field(fields, 2)});
  thread.Log(L"        < " + name + L" >");
  return ActionResult::kDone;
}

}  // namespace

const ActionKind kInstallOdbcDriverAction = {L"Install ODBC Driver", DriverText, PerformDriver};
const ActionKind kCreateOdbcDsnAction = {L"Create ODBC DSN", DsnText, PerformDsn};

}  // namespace qv::native
