// The three kinds that act on an existing service; none records an undo
// entry.
//
// "Control Service": record fields 0 service name, 1 arguments, 2 operation
// (taken modulo 3: 0 start, 1 stop, 2 stop and delete), 3 wait flag (poll
// every second while the service is start- or stop-pending; a deletion
// always waits for the stop), 4 start-type
// code (10 automatic, 20 on demand, 30 disabled; 9 and below keep it). The
// start type changes before the operation, so that a disabled service can
// be enabled and started by one statement.
//
// "Configure Service": fields 0 name, 1 operation, 2 first number, 3 second
// number, 4 text. 0 delayed automatic start, 1 failure actions also on
// non-crash failures, 2 service SID type (2 is "restricted"), 3 required
// privileges ("[~]" between the names), 4 pre-shutdown timeout (second
// number). Only Windows Vista and later have these settings; earlier
// versions do nothing.
//
// "Configure Service Failure": fields 0 name, 1 reboot message, 2 command,
// 3 reset period in seconds, 4 action list (see FailureSettingsOf).
//
// Under Wine the service manager accepts the pre-shutdown timeout and the
// failure actions but does not store the failure actions, and refuses the
// other "Configure Service" settings with error 124 (invalid level), which
// then goes to the error policy like any other failure.
#include "native/ActionKinds.h"
#include "native/ActionSupport.h"
#include "native/Executor.h"

#include "common/Text.h"
#include "interpreter/VariableStore.h"

#include <versionhelpers.h>

#include <optional>

namespace qv::native {

namespace {

constexpr std::wstring_view kClear = L"[~]";

std::wstring NameText(const Fields& fields) { return Field(fields, 0); }

int Number(std::wstring_view text) { return ParseInt32(text).value_or(0); }

// Polls once a second while the service stays in `pending`; a cancel ends
// the wait as an abort.
ActionResult WaitWhile(TNativeThread& thread, SC_HANDLE service, DWORD pending) {
  for (;;) {
    SERVICE_STATUS status;
    if (!QueryServiceStatus(service, &status) || status.dwCurrentState != pending) return ActionResult::kDone;
    if (!thread.ReportProgress(L"$IGNORE$", 0)) return ActionResult::kAborted;
    Sleep(1000);
  }
}

DWORD StartTypeOf(int code) {
  switch (code) {
    case 10: return SERVICE_AUTO_START;
    case 20: return SERVICE_DEMAND_START;
    case 30: return SERVICE_DISABLED;
    default: return SERVICE_NO_CHANGE;
  }
}

DWORD Stop(SC_HANDLE service) {
  SERVICE_STATUS status;
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) return 0;
  const DWORD error = GetLastError();
  return error == ERROR_SERVICE_NOT_ACTIVE ? 0 : error;
}

ActionResult PerformControl(TNativeThread& thread, const Fields& fields) {
  const std::wstring& name = Field(fields, 0);
  const std::wstring& arguments = Field(fields, 1);
  const int operation = ((Number(Field(fields, 2)) % 3) + 3) % 3;
  const bool wait = IsTrueFlag(Field(fields, 3));
  const DWORD startType = StartTypeOf(Number(Field(fields, 4)));

  UniqueService manager, service;
  ActionResult result = OpenServiceForAction(thread, name, SERVICE_ALL_ACCESS, manager, service);
  if (result != ActionResult::kDone) return result;
  const SC_HANDLE handle = service.get();

  if (startType != SERVICE_NO_CHANGE && operation != 2) {
    result = thread.Attempt(
        [&]() -> DWORD {
          return ChangeServiceConfigW(handle, SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, nullptr, nullptr)
                     ? 0
                     : GetLastError();
        },
        name);
    if (result == ActionResult::kAborted) return result;
  }
  ActionResult outcome = result;

  if (operation == 0) {
    result = thread.Attempt(
        [&]() -> DWORD {
          const wchar_t* argv[] = {arguments.c_str()};
          if (StartServiceW(handle, arguments.empty() ? 0 : 1, arguments.empty() ? nullptr : argv)) return 0;
          const DWORD error = GetLastError();
          return error == ERROR_SERVICE_ALREADY_RUNNING ? 0 : error;
        },
        name);
    if (result == ActionResult::kDone && wait) result = WaitWhile(thread, handle, SERVICE_START_PENDING);
  } else {
    result = thread.Attempt([&] { return Stop(handle); }, name);
    // Deleting waits for the stop in any case: Wine refuses to delete a
    // service that is still stopping.
    if (result == ActionResult::kDone && (wait || operation == 2))
      result = WaitWhile(thread, handle, SERVICE_STOP_PENDING);
    if (result == ActionResult::kDone && operation == 2) {
      result = thread.Attempt(
          [&]() -> DWORD {
            if (DeleteService(handle)) return 0;
            const DWORD error = GetLastError();
            return error == ERROR_SERVICE_MARKED_FOR_DELETE ? 0 : error;
          },
          name);
    }
  }
  if (result != ActionResult::kDone) return result;
  thread.Log(L"        < " + name + L", " + arguments + L" >");
  return outcome;
}

// The names between "[~]" as a list of NUL-terminated names plus the final
// NUL.
std::wstring PrivilegeList(std::wstring_view text) {
  std::wstring list;
  for (size_t start = 0;;) {
    const size_t end = text.find(kClear, start);
    const std::wstring_view name = text.substr(start, end == std::wstring_view::npos ? end : end - start);
    if (!name.empty()) list.append(name).push_back(L'\0');
    if (end == std::wstring_view::npos) break;
    start = end + kClear.size();
  }
  list.push_back(L'\0');
  return list;
}

ActionResult PerformConfigure(TNativeThread& thread, const Fields& fields) {
  const std::wstring& name = Field(fields, 0);
  const std::wstring detail = name + L", " + Field(fields, 1) + L", " + Field(fields, 2) + L", " + Field(fields, 3) +
                              L", " + Field(fields, 4);
  if (!IsWindowsVistaOrGreater()) return ActionResult::kDone;
  const int operation = Number(Field(fields, 1));
  const int first = Number(Field(fields, 2));
  const int second = Number(Field(fields, 3));

  SERVICE_DELAYED_AUTO_START_INFO delayed{first != 0};
  SERVICE_FAILURE_ACTIONS_FLAG nonCrash{first != 0};
  SERVICE_SID_INFO sid{first == 2 ? DWORD{SERVICE_SID_TYPE_RESTRICTED} : static_cast<DWORD>(first)};
  std::wstring privileges = PrivilegeList(Field(fields, 4));
  SERVICE_REQUIRED_PRIVILEGES_INFOW required{privileges.data()};
  SERVICE_PRESHUTDOWN_INFO preshutdown{static_cast<DWORD>(second)};
  DWORD level = 0;
  void* info = nullptr;
  switch (operation) {
    case 0: level = SERVICE_CONFIG_DELAYED_AUTO_START_INFO, info = &delayed; break;
    case 1: level = SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, info = &nonCrash; break;
    case 2: level = SERVICE_CONFIG_SERVICE_SID_INFO, info = &sid; break;
    case 3: level = SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, info = &required; break;
    case 4: level = SERVICE_CONFIG_PRESHUTDOWN_INFO, info = &preshutdown; break;
    default: return ActionResult::kDone;  // no such setting: nothing to change
  }

  UniqueService manager, service;
  ActionResult result = OpenServiceForAction(thread, name, SERVICE_ALL_ACCESS, manager, service);
  if (result != ActionResult::kDone) return result;
  result = thread.Attempt(
      [&]() -> DWORD { return ChangeServiceConfig2W(service.get(), level, info) ? 0 : GetLastError(); }, name);
  if (result != ActionResult::kDone) return result;
  thread.Log(L"        < " + detail + L" >");
  return result;
}

// Setting a reboot among the failure actions needs the shutdown privilege
// enabled in the caller's token; it is enabled for the call and put back.
class ShutdownPrivilege {
public:
  ShutdownPrivilege() {
    TOKEN_PRIVILEGES wanted{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token_.put()) ||
        !LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &wanted.Privileges[0].Luid))
      return;
    DWORD size = sizeof(previous_);
    adjusted_ = AdjustTokenPrivileges(token_.get(), FALSE, &wanted, sizeof(previous_), &previous_, &size) &&
                GetLastError() == ERROR_SUCCESS;
  }
  ~ShutdownPrivilege() {
    if (adjusted_) AdjustTokenPrivileges(token_.get(), FALSE, &previous_, 0, nullptr, nullptr);
  }
  ShutdownPrivilege(const ShutdownPrivilege&) = delete;
  ShutdownPrivilege& operator=(const ShutdownPrivilege&) = delete;

private:
  UniqueHandle token_;
  TOKEN_PRIVILEGES previous_{};
  bool adjusted_ = false;
};

ActionResult PerformFailure(TNativeThread& thread, const Fields& fields) {
  const std::wstring& name = Field(fields, 0);
  if (!IsWindowsVistaOrGreater()) return ActionResult::kDone;
  FailureSettings settings = FailureSettingsOf(fields);
  SERVICE_FAILURE_ACTIONSW config{};
  config.dwResetPeriod = settings.resetPeriod;
  config.lpRebootMsg = settings.changeMessage ? settings.message.data() : nullptr;
  config.lpCommand = settings.changeCommand ? settings.command.data() : nullptr;
  config.cActions = static_cast<DWORD>(settings.actions.size());
  config.lpsaActions = settings.actions.empty() ? nullptr : settings.actions.data();
  bool reboot = false;
  for (const SC_ACTION& action : settings.actions) reboot = reboot || action.Type == SC_ACTION_REBOOT;

  UniqueService manager, service;
  ActionResult result = OpenServiceForAction(thread, name, SERVICE_ALL_ACCESS, manager, service);
  if (result != ActionResult::kDone) return result;
  result = thread.Attempt(
      [&]() -> DWORD {
        std::optional<ShutdownPrivilege> privilege;
        if (reboot) privilege.emplace();
        return ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &config) ? 0 : GetLastError();
      },
      name);
  if (result != ActionResult::kDone) return result;
  thread.Log(L"        < " + name + L", " + Field(fields, 4) + L", " + Field(fields, 1) + L", " + Field(fields, 2) +
             L", " + Field(fields, 3) + L" >");
  return result;
}

struct ActionName {
  std::wstring_view name;
  SC_ACTION_TYPE type;
};
constexpr ActionName kActionNames[] = {
    {L"Take no action", SC_ACTION_NONE},
    {L"Restart the service", SC_ACTION_RESTART},
    {L"Restart the computer", SC_ACTION_REBOOT},
    {L"Run a program", SC_ACTION_RUN_COMMAND},
};

}  // namespace

FailureSettings FailureSettingsOf(const Fields& fields) {
  FailureSettings settings;
  settings.resetPeriod = static_cast<DWORD>(ParseInt64(Field(fields, 3)).value_or(0));
  const auto text = [](const std::wstring& field, bool& change, std::wstring& value) {
    change = !field.empty();
    value = field.find(kClear) == std::wstring::npos ? field : L"";
  };
  text(Field(fields, 1), settings.changeMessage, settings.message);
  text(Field(fields, 2), settings.changeCommand, settings.command);
  const Fields list = FromCommaText(Field(fields, 4));
  for (size_t i = 0; i + 2 < list.size(); i += 3) {
    SC_ACTION action{SC_ACTION_NONE, static_cast<DWORD>(ParseInt64(list[i + 2]).value_or(0))};
    for (const ActionName& known : kActionNames)
      if (EqualsNoCase(list[i + 1], known.name)) action.Type = known.type;
    settings.actions.push_back(action);
  }
  return settings;
}

const ActionKind kControlServiceAction = {L"Control Service", NameText, PerformControl};
const ActionKind kConfigureServiceAction = {L"Configure Service", NameText, PerformConfigure};
const ActionKind kConfigureServiceFailureAction = {L"Configure Service Failure", NameText, PerformFailure};

}  // namespace qv::native
