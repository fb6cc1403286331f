// The service, ODBC and local-file actions end to end: real setups whose
// installation data holds a real service program and a real ODBC driver
// setup library (tests/fixtures/service), run silently under Wine; the
// machine is inspected afterwards through the service manager, the
// registry, the files and the native logs.
#include "SetupSandbox.h"

#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"
#include "interpreter/Statements.h"
#include "native/ActionSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>

namespace qv::test {
namespace {

constexpr wchar_t kServiceProgram[] = L"qv_test_service.exe";
constexpr wchar_t kOdbcSetup[] = L"qv_test_odbc_setup.dll";

std::wstring Unique(const std::wstring& prefix) {
  static std::atomic<int> counter{0};
  // Wine reuses process ids from run to run; the clock keeps names apart.
  return prefix + std::to_wstring(GetCurrentProcessId()) + L"x" + std::to_wstring(++counter) + L"t" +
         std::to_wstring(GetTickCount64() % 1000000);
}

// The setup statements these tests use must be in the statement table.
bool Wired(std::initializer_list<const wchar_t*> names) {
  for (const wchar_t* name : names)
    if (!FindStatementHandler(name)) return false;
  return true;
}
#define REQUIRE_STATEMENTS(...)                                                      \
  if (!Wired({__VA_ARGS__})) GTEST_SKIP() << "install statements not in the statement table"

Stmt Var(const std::wstring& name, const std::wstring& value) { return {L"Set Variable", {name, value}}; }
Stmt Mode64(bool x64) { return {L"Set 64 Bit Mode", {x64 ? L"FALSE" : L"TRUE", L"FALSE", x64 ? L"TRUE" : L"FALSE"}}; }
Stmt Apply() { return {L"Apply Changes", {L"", L"RESULT", L"TRUE", L"FALSE"}}; }

struct ServiceDefinition {
  std::wstring target, name, display, description, share = L"0", interactive = L"FALSE", dependencies,
      start = L"1", error = L"1", arguments;
};
// Install Service: source, target, -, name, display name, description, share-process, interactive, -,
// dependencies, start, error control, account, password, arguments.
Stmt InstallService(const ServiceDefinition& s) {
  return {L"Install Service", {kServiceProgram, s.target, L"", s.name, s.display, s.description, s.share,
                               s.interactive, L"", s.dependencies, s.start, s.error, L"", L"", s.arguments}};
}
// Control Service: name, arguments, operation, start type, wait.
Stmt Control(const std::wstring& name, const std::wstring& operation, const std::wstring& startType, bool wait,
             const std::wstring& arguments = L"") {
  return {L"Control Service", {name, arguments, operation, startType, wait ? L"TRUE" : L"FALSE"}};
}

// One setup with its installation data, logs, trace and report file.
struct Product {
  SetupSandbox sandbox;
  std::wstring target = sandbox.Root() + L"Program\\";
  std::wstring trace = sandbox.Root() + L"trace.log";
  std::wstring logs = sandbox.Root() + L"logs\\product";
  std::wstring out = sandbox.Root() + L"out.txt";

  // Runs the statements after the engine settings every test shares; the
  // data folder receives `data` (relative path -> file to copy).
  void Run(std::vector<Stmt> statements, const std::vector<std::wstring>& headers = {},
           const std::vector<std::wstring>& fileTable = {},
           const std::vector<std::pair<std::wstring, std::wstring>>& data = {}) {
    std::vector<Stmt> all = {Var(L"NATIVE_ENGINE", L"TRUE"),          Var(L"NATIVE_LOGGING", logs),
                             Var(L"NATIVE_ERROR", L"IGNORE"),         Var(L"NATIVE_OVERWRITE", L"ALWAYS"),
                             Var(L"NATIVE_OVERWRITE_OLDER", L"TRUE"), Var(L"NATIVE_HARDLINK", L"FALSE")};
    all.insert(all.end(), statements.begin(), statements.end());
    all.push_back(Apply());
    all.push_back({L"Write to Text File", {out, L"$RESULT$|$NATIVE_PROGRESS$", L"FALSE"}});
    Script script = MakeScript(all);
    // Header keys are rows of `statements`; shift them past the settings above.
    for (size_t i = 0; i + 1 < headers.size(); i += 2)
      script.headers.insert(script.headers.end(), {std::to_wstring(std::stoul(headers[i]) + 6), headers[i + 1]});
    script.fileTable = fileTable;
    const std::wstring exe = sandbox.Build(script);
    for (const auto& [relative, from] : data) {
      const std::wstring to = sandbox.Root() + L"setup\\data\\" + relative;
      CreateFolders(FolderOf(to));
      ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)) << WideToUtf8(from);
    }
    const RunResult run = sandbox.Run(exe, L"/s /l=" + trace, 120000);
    ASSERT_FALSE(run.timedOut);
    ASSERT_EQ(run.exitCode, 0u);
  }
  std::vector<std::wstring> Report() const { return FileExists(out) ? ReadUtf8Lines(out) : std::vector<std::wstring>{}; }
  std::vector<std::wstring> Log(int which) const {
    static const wchar_t* suffixes[] = {L".native.elements.log", L".native.data.log"};
    const std::wstring path = logs + suffixes[which];
    return FileExists(path) ? ReadUtf8Lines(path) : std::vector<std::wstring>{};
  }
  // Each action block of the setup log named `action`: whether an error went
  // to the error policy inside it.
  std::vector<bool> ErrorsIn(const std::wstring& action) const {
    std::vector<bool> errors;
    bool inside = false;
    for (const std::wstring& line : ReadTraceLog(trace)) {
      if (line == L"        <" + action + L">") inside = true, errors.push_back(false);
      if (line == L"        </" + action + L">") inside = false;
      if (inside && line == L"        <NATIVE ERROR>") errors.back() = true;
    }
    return errors;
  }
};

// The undo entries of the logs whose action is `action`, as field lists.
std::vector<std::vector<std::wstring>> Entries(const Product& p, const std::wstring& action) {
  const auto elements = p.Log(0), data = p.Log(1);
  std::vector<std::vector<std::wstring>> found;
  for (size_t i = 0; i < elements.size() && i < data.size(); ++i)
    if (elements[i] == action) found.push_back(FromCommaText(data[i]));
  return found;
}

// --- Services ---------------------------------------------------------------

struct ServiceState {
  bool exists = false;
  DWORD type = 0, start = 0, error = 0, state = 0;
  std::wstring path, display;
  std::vector<std::wstring> dependencies;
};

ServiceState QueryService(const std::wstring& name) {
  ServiceState s;
  native::UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  native::UniqueService service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
  if (!service) return s;
  s.exists = true;
  DWORD needed = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (QueryServiceConfigW(service.get(), config, needed, &needed)) {
    s.type = config->dwServiceType;
    s.start = config->dwStartType;
    s.error = config->dwErrorControl;
    s.path = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
    s.display = config->lpDisplayName ? config->lpDisplayName : L"";
  }
  // The service manager keeps the dependencies in the service's key (Wine
  // does not report them through QueryServiceConfigW).
  wchar_t dependencies[1024] = {};
  DWORD bytes = sizeof(dependencies) - 2 * sizeof(wchar_t);
  if (!RegGetValueW(HKEY_LOCAL_MACHINE, (L"SYSTEM\\CurrentControlSet\\Services\\" + name).c_str(), L"DependOnService",
                    RRF_RT_REG_MULTI_SZ, nullptr, dependencies, &bytes))
    for (const wchar_t* d = dependencies; *d; d += wcslen(d) + 1) s.dependencies.emplace_back(d);
  SERVICE_STATUS status{};
  if (QueryServiceStatus(service.get(), &status)) s.state = status.dwCurrentState;
  return s;
}

// Raw bytes of one QueryServiceConfig2W level, or the error code.
std::pair<DWORD, std::vector<BYTE>> QueryConfig2(const std::wstring& name, DWORD level) {
  native::UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  native::UniqueService service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG));
  DWORD needed = 0;
  if (!QueryServiceConfig2W(service.get(), level, nullptr, 0, &needed) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return {GetLastError(), {}};
  std::vector<BYTE> buffer(needed + 16);
  if (!QueryServiceConfig2W(service.get(), level, buffer.data(), static_cast<DWORD>(buffer.size()), &needed))
    return {GetLastError(), {}};
  return {0, buffer};
}

// Services created by a test, stopped and deleted when it ends.
struct ServiceCleanup {
  std::vector<std::wstring> names;
  ~ServiceCleanup() {
    native::UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    for (const std::wstring& name : names) {
      native::UniqueService service(OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
      if (!service) continue;
      // A service still starting cannot take the stop yet: ask until it stops.
      SERVICE_STATUS status;
      for (int i = 0; i < 100 && QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED;
           ++i) {
        if (status.dwCurrentState == SERVICE_RUNNING) ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        Sleep(100);
      }
      DeleteService(service.get());
    }
  }
};

std::wstring FixtureProgram() { return std::wstring(QV_OUTPUT_DIR) + kServiceProgram; }

struct InstallCase {
  const char* row;
  ServiceDefinition service;
  std::wstring companion;
  DWORD type, start, error;
  std::vector<std::wstring> dependencies;
};

TEST(NativeServices, InstallServiceCreatesTheServiceFromItsPlacedProgram) {
  REQUIRE_STATEMENTS(L"Install Service", L"Apply Changes");
  Product p;
  ServiceCleanup cleanup;
  const InstallCase cases[] = {
      {"automatic, ignore, own process, dependencies",
       {p.target, Unique(L"QvA"), L"Quorvane test A", L"Described service", L"0", L"FALSE", L"RpcSs~PlugPlay~~",
        L"0", L"0", L"--slow x"},
       L"one", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_IGNORE, {L"RpcSs", L"PlugPlay"}},
      {"on demand, normal, shared and interactive",
       {p.target, Unique(L"QvB"), L"Quorvane test B", L"Second", L"1", L"TRUE", L"", L"1", L"1", L""},
       L"two", SERVICE_WIN32_SHARE_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_DEMAND_START,
       SERVICE_ERROR_NORMAL, {}},
      {"other codes: disabled, severe; no description",
       {p.target, Unique(L"QvC"), L"Quorvane test C", L"", L"0", L"FALSE", L"", L"7", L"5", L""},
       L"", SERVICE_WIN32_OWN_PROCESS, SERVICE_DISABLED, SERVICE_ERROR_SEVERE, {}},
  };
  std::vector<Stmt> statements;
  std::vector<std::wstring> headers, table;
  for (size_t i = 0; i < std::size(cases); ++i) {
    cleanup.names.push_back(cases[i].service.name);
    statements.push_back(InstallService(cases[i].service));
    const std::wstring header = L"S" + std::to_wstring(i);
    headers.insert(headers.end(), {std::to_wstring(i), header});
    table.insert(table.end(), {header, L"NEWHEADER", L"svc\\" + std::wstring(kServiceProgram), cases[i].companion});
  }
  // The first service once more: it exists, so creating it fails and must
  // leave no undo entry that would delete it.
  statements.push_back(InstallService(cases[0].service));
  headers.insert(headers.end(), {L"3", L"S0"});
  p.Run(statements, headers, table, {{L"svc\\" + std::wstring(kServiceProgram), FixtureProgram()}});
  EXPECT_EQ(p.Report().at(0).substr(0, 9), L"COMPLETE|");

  for (const InstallCase& c : cases) {
    SCOPED_TRACE(c.row);
    const std::wstring program =
        p.target + (c.companion.empty() ? L"" : c.companion + L"\\") + kServiceProgram;
    EXPECT_TRUE(FileExists(program));
    const ServiceState s = QueryService(c.service.name);
    ASSERT_TRUE(s.exists);
    EXPECT_EQ(s.path, L"\"" + program + L"\"" + (c.service.arguments.empty() ? L"" : L" " + c.service.arguments));
    EXPECT_EQ(s.display, c.service.display);
    EXPECT_EQ(s.type, c.type);
    EXPECT_EQ(s.start, c.start);
    EXPECT_EQ(s.error, c.error);
    EXPECT_EQ(s.dependencies, c.dependencies);
    wchar_t description[256] = L"";
    DWORD bytes = sizeof(description);
    const LONG read = RegGetValueW(HKEY_LOCAL_MACHINE, (L"SYSTEM\\CurrentControlSet\\Services\\" + c.service.name).c_str(),
                                   L"Description", RRF_RT_REG_SZ, nullptr, description, &bytes);
    if (c.service.description.empty()) {
      EXPECT_EQ(read, ERROR_FILE_NOT_FOUND);
    } else {
      EXPECT_EQ(std::wstring(description), c.service.description);
    }
  }

  // One "Delete Service" per created service, none for the refused one; the
  // description is undone as a registry value of its own.
  EXPECT_EQ(Entries(p, L"Delete Service"),
            (std::vector<std::vector<std::wstring>>{{cases[0].service.name}, {cases[1].service.name}, {cases[2].service.name}}));
  EXPECT_EQ(Entries(p, L"Delete Registry").size(), 2u);
  EXPECT_EQ(p.ErrorsIn(L"Install Service"), (std::vector<bool>{false, false, false, true}));
}

TEST(NativeServices, ControlServiceStartsWaitsStopsAndDeletes) {
  REQUIRE_STATEMENTS(L"Install Service", L"Control Service", L"Apply Changes");
  Product installer;  // holds the service's program for the whole test
  ServiceCleanup cleanup;
  const std::wstring name = Unique(L"QvCtl");
  cleanup.names.push_back(name);
  const std::wstring program = installer.target + kServiceProgram;
  {
    // Installed disabled; one statement enables it (start type 20) and
    // starts it, waiting while the slow service is start-pending. A second
    // start finds it running, which is no error.
    Product& p = installer;
    ServiceDefinition service{p.target, name, L"Controlled", L"", L"0", L"FALSE", L"", L"2", L"1", L"--slow"};
    p.Run({InstallService(service), Control(name, L"0", L"20", true, L"hello world"), Control(name, L"0", L"0", false)},
          {L"0", L"S"}, {L"S", L"NEWHEADER", kServiceProgram, L""}, {{kServiceProgram, FixtureProgram()}});
    const ServiceState s = QueryService(name);
    EXPECT_EQ(s.state, DWORD{SERVICE_RUNNING});
    EXPECT_EQ(s.start, DWORD{SERVICE_DEMAND_START});
    EXPECT_EQ(p.ErrorsIn(L"Control Service"), (std::vector<bool>{false, false}));
    const auto seen = ReadUtf8Lines(program + L".log");
    EXPECT_NE(std::find(seen.begin(), seen.end(), L"start: hello world"), seen.end());
    EXPECT_TRUE(Entries(p, L"Delete Service").size() == 1u) << "control actions record no undo";
  }
  {
    // Stop with waiting and disable: stopped (not stop-pending) when the setup ends.
    Product p;
    p.Run({Control(name, L"1", L"30", true)});
    const ServiceState s = QueryService(name);
    EXPECT_EQ(s.state, DWORD{SERVICE_STOPPED});
    EXPECT_EQ(s.start, DWORD{SERVICE_DISABLED});
    EXPECT_EQ(ReadUtf8Lines(program + L".log").back(), L"stopped");
    EXPECT_TRUE(p.Log(0).empty());
  }
  {
    // Operation 5 is 2 modulo 3: stop and delete, from a running (slow)
    // service and without the wait flag.
    Product p;
    p.Run({Control(name, L"0", L"20", true), Control(name, L"5", L"0", false)});
    EXPECT_FALSE(QueryService(name).exists);
    EXPECT_EQ(p.ErrorsIn(L"Control Service"), (std::vector<bool>{false, false}));
  }
}

struct ConfigureCase {
  const char* row;
  std::wstring operation, first, second, text;
  DWORD level;
  std::vector<BYTE> expected;  // the setting's bytes as the service manager reports them
};

std::vector<BYTE> Bytes(DWORD value) {
  const auto* p = reinterpret_cast<const BYTE*>(&value);
  return {p, p + sizeof(value)};
}

TEST(NativeServices, ConfigureServiceSetsEachSettingOrReportsThePlatformsRefusal) {
  REQUIRE_STATEMENTS(L"Install Service", L"Configure Service", L"Configure Service Failure", L"Apply Changes");
  Product p;
  ServiceCleanup cleanup;
  const std::wstring name = Unique(L"QvCfg");
  cleanup.names.push_back(name);
  const ConfigureCase cases[] = {
      {"delayed automatic start", L"0", L"1", L"0", L"", SERVICE_CONFIG_DELAYED_AUTO_START_INFO, Bytes(1)},
      {"failure actions on non-crash failures", L"1", L"1", L"0", L"", SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, Bytes(1)},
      {"SID type 2 is restricted", L"2", L"2", L"0", L"", SERVICE_CONFIG_SERVICE_SID_INFO,
       Bytes(SERVICE_SID_TYPE_RESTRICTED)},
      {"required privileges", L"3", L"0", L"0", L"SeChangeNotifyPrivilege[~]SeShutdownPrivilege",
       SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, {}},
      {"pre-shutdown timeout from the second number", L"4", L"99", L"15000", L"", SERVICE_CONFIG_PRESHUTDOWN_INFO,
       Bytes(15000)},
  };
  std::vector<Stmt> statements = {
      InstallService({p.target, name, L"Configured", L"", L"0", L"FALSE", L"", L"1", L"1", L""})};
  for (const ConfigureCase& c : cases)
    statements.push_back({L"Configure Service", {name, L"", L"", L"", c.operation, c.first, c.second, c.text}});
  // Configure Service Failure: name, -, -, -, reset period, actions, -, -, message, program, arguments.
  statements.push_back({L"Configure Service Failure",
                        {name, L"", L"", L"", L"86400",
                         ToCommaText({L"first", L"Restart the service", L"60000", L"second", L"Run a program", L"1000"}),
                         L"", L"", L"[~]", L"C:\\fix.exe", L"/now"}});
  p.Run(statements, {L"0", L"S"}, {L"S", L"NEWHEADER", kServiceProgram, L""}, {{kServiceProgram, FixtureProgram()}});

  const std::vector<bool> errors = p.ErrorsIn(L"Configure Service");
  ASSERT_EQ(errors.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const ConfigureCase& c = cases[i];
    SCOPED_TRACE(c.row);
    const auto [error, bytes] = QueryConfig2(name, c.level);
    if (error == ERROR_INVALID_LEVEL) {
      // The platform lacks the setting (Wine): the action's failure went to
      // the error policy.
      EXPECT_TRUE(errors[i]);
      continue;
    }
    ASSERT_EQ(error, 0u);
    EXPECT_FALSE(errors[i]);
    if (c.level == SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO) {
      const auto* info = reinterpret_cast<const SERVICE_REQUIRED_PRIVILEGES_INFOW*>(bytes.data());
      std::vector<std::wstring> names;
      for (const wchar_t* n = info->pmszRequiredPrivileges; n && *n; n += wcslen(n) + 1) names.emplace_back(n);
      EXPECT_EQ(names, (std::vector<std::wstring>{L"SeChangeNotifyPrivilege", L"SeShutdownPrivilege"}));
    } else {
      EXPECT_EQ(std::vector<BYTE>(bytes.begin(), bytes.begin() + 4), c.expected);
    }
  }
  // The service manager takes the failure actions (Wine accepts them without
  // storing them); where it stores them, they read back as given.
  EXPECT_EQ(p.ErrorsIn(L"Configure Service Failure"), std::vector<bool>{false});
  const auto [error, bytes] = QueryConfig2(name, SERVICE_CONFIG_FAILURE_ACTIONS);
  if (error == 0) {
    const auto* actions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(bytes.data());
    if (actions->cActions) {
      EXPECT_EQ(actions->dwResetPeriod, 86400u);
      ASSERT_EQ(actions->cActions, 2u);
      EXPECT_EQ(actions->lpsaActions[0].Type, SC_ACTION_RESTART);
      EXPECT_EQ(actions->lpsaActions[1].Delay, 1000u);
      EXPECT_EQ(std::wstring(actions->lpCommand), L"\"C:\\fix.exe\" /now");
    }
  }
}

struct FailureCase {
  const char* row;
  std::vector<std::wstring> fields;  // name, message, command, reset period, actions
  native::FailureSettings expected;
};

// Wine accepts failure actions without storing them, so what the service
// manager is handed is checked here.
TEST(NativeServices, FailureSettingsFromTheRecord) {
  const FailureCase cases[] = {
      {"action names without case, delays, unknown name is no action",
       {L"s", L"", L"", L"60",
        ToCommaText({L"a", L"RESTART THE SERVICE", L"500", L"b", L"Restart the computer", L"0", L"c", L"Run a program",
                     L"7", L"d", L"dance", L"9"})},
       {60, false, L"", false, L"", {{SC_ACTION_RESTART, 500}, {SC_ACTION_REBOOT, 0}, {SC_ACTION_RUN_COMMAND, 7},
                                     {SC_ACTION_NONE, 9}}}},
      {"[~] clears the texts", {L"s", L"[~]", L"[~]", L"", L""}, {0, true, L"", true, L"", {}}},
      {"texts are set; an incomplete group is dropped",
       {L"s", L"Rebooting", L"\"x.exe\" /y", L"0",
        ToCommaText({L"a", L"Take no action", L"100", L"b", L"Restart the service"})},
       {0, true, L"Rebooting", true, L"\"x.exe\" /y", {{SC_ACTION_NONE, 100}}}},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.row);
    const native::FailureSettings s = native::FailureSettingsOf(c.fields);
    EXPECT_EQ(s.resetPeriod, c.expected.resetPeriod);
    EXPECT_EQ(s.changeMessage, c.expected.changeMessage);
    EXPECT_EQ(s.message, c.expected.message);
    EXPECT_EQ(s.changeCommand, c.expected.changeCommand);
    EXPECT_EQ(s.command, c.expected.command);
    ASSERT_EQ(s.actions.size(), c.expected.actions.size());
    for (size_t i = 0; i < s.actions.size(); ++i) {
      EXPECT_EQ(s.actions[i].Type, c.expected.actions[i].Type) << i;
      EXPECT_EQ(s.actions[i].Delay, c.expected.actions[i].Delay) << i;
    }
  }
}

// --- ODBC -------------------------------------------------------------------

constexpr wchar_t kInstKey[] = L"SOFTWARE\\ODBC\\ODBCINST.INI\\";

std::optional<std::wstring> RegText(HKEY root, REGSAM view, const std::wstring& key, const std::wstring& name) {
  UniqueKey k;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, k.put())) return std::nullopt;
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, nullptr, &bytes)) return std::nullopt;
  std::vector<BYTE> data(bytes + 4, 0);
  RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, data.data(), &bytes);
  if (type == REG_DWORD) return std::to_wstring(*reinterpret_cast<DWORD*>(data.data()));
  return std::wstring(reinterpret_cast<wchar_t*>(data.data()));
}

// Driver registrations and data sources of a test, removed in both views.
struct OdbcCleanup {
  std::vector<std::wstring> drivers, sources;
  ~OdbcCleanup() {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      for (const std::wstring& driver : drivers) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kInstKey) + driver).c_str());
        UniqueKey list;
        if (!RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kInstKey) + L"ODBC Drivers").c_str(), 0,
                           KEY_SET_VALUE | view, list.put()))
          RegDeleteValueW(list.get(), driver.c_str());
        UniqueKey inst;
        if (!RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ODBC\\ODBCINST.INI", 0, KEY_ALL_ACCESS | view, inst.put()))
          RegDeleteTreeW(inst.get(), driver.c_str());
      }
      for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        for (const std::wstring& source : sources) {
          UniqueKey ini;
          if (RegOpenKeyExW(root, L"SOFTWARE\\ODBC\\ODBC.INI", 0, KEY_ALL_ACCESS | view, ini.put())) continue;
          RegDeleteTreeW(ini.get(), source.c_str());
          UniqueKey list;
          if (!RegOpenKeyExW(ini.get(), L"ODBC Data Sources", 0, KEY_SET_VALUE, list.put()))
            RegDeleteValueW(list.get(), source.c_str());
        }
    }
  }
};

// Install ODBC Driver: driver, source, setup library, target, -, attributes.
Stmt Driver(const std::wstring& name, const std::wstring& target, const std::wstring& attributes) {
  return {L"Install ODBC Driver", {name, L"qvdrv.dll", kOdbcSetup, target, L"", attributes}};
}
// Create ODBC DSN: name, driver, system, attributes.
Stmt Dsn(const std::wstring& name, const std::wstring& driver, bool system, const std::wstring& attributes) {
  return {L"Create ODBC DSN", {name, driver, system ? L"TRUE" : L"FALSE", attributes}};
}

TEST(NativeServices, OdbcDriverIsRegisteredAndCountedAndItsSetupLibraryMakesDataSources) {
  REQUIRE_STATEMENTS(L"Install ODBC Driver", L"Create ODBC DSN", L"Set 64 Bit Mode", L"Apply Changes");
  Product p;
  OdbcCleanup cleanup;
  const std::wstring driver = Unique(L"Quorvane Test Driver "), driver32 = Unique(L"Quorvane Test Driver32 ");
  const std::wstring system = Unique(L"QvSystem"), user = Unique(L"QvUser"), refused = Unique(L"QvRefused");
  cleanup.drivers = {driver, driver32};
  cleanup.sources = {system, user, refused};
  const std::wstring target32 = p.sandbox.Root() + L"Odbc32\\";
  p.Run({Mode64(true),
         Driver(driver, p.target, L"APILevel=1$NEWLINE$ConnectFunctions=YYN$NEWLINE$not a pair"),
         Driver(driver, p.target, L""),
         Dsn(system, driver, true, L"Server=here$NEWLINE$Database=db"),
         Dsn(user, driver, false, L""),
         Dsn(refused, driver, false, L"REFUSE=1"),
         Mode64(false),
         Driver(driver32, target32, L"")},
        {L"1", L"D", L"2", L"D", L"7", L"D"},
        {L"D", L"NEWHEADER", L"odbc\\qvdrv.dll", kOdbcSetup, L"odbc\\" + std::wstring(kOdbcSetup), L""},
        {{L"odbc\\qvdrv.dll", std::wstring(QV_OUTPUT_DIR) + kOdbcSetup},
         {L"odbc\\" + std::wstring(kOdbcSetup), std::wstring(QV_OUTPUT_DIR) + kOdbcSetup}});
  EXPECT_EQ(p.Report().at(0).substr(0, 9), L"COMPLETE|");

  // The registration: counted twice, attributes, files, and the driver list.
  const std::wstring key = kInstKey + driver;
  const std::wstring setup = p.target + kOdbcSetup;
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, key, L"UsageCount"), L"2");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, key, L"APILevel"), L"1");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, key, L"ConnectFunctions"), L"YYN");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, key, L"Driver"), p.target + L"qvdrv.dll");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, key, L"Setup"), setup);
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, std::wstring(kInstKey) + L"ODBC Drivers", driver),
            L"Installed");
  EXPECT_TRUE(FileExists(p.target + L"qvdrv.dll"));
  EXPECT_TRUE(FileExists(setup));
  // The 32-bit mode registers in the 32-bit view only.
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kInstKey + driver32, L"UsageCount"), L"1");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kInstKey + driver32, L"UsageCount"), std::nullopt);

  // The setup library saw each request with the installer in the right mode
  // (1 user, 2 system) and the attributes as a NUL-separated list.
  // Windows asks the setup library; Wine 8 asks the driver library itself.
  std::vector<std::wstring> calls;
  for (const std::wstring& library : {setup, p.target + L"qvdrv.dll"})
    if (FileExists(library + L".calls.txt")) calls = ReadUtf8Lines(library + L".calls.txt");
  EXPECT_EQ(calls,
            (std::vector<std::wstring>{
                L"request=1", L"mode=2", L"driver=" + driver, L"attribute=DSN=" + system, L"attribute=Server=here",
                L"attribute=Database=db",                                                          //
                L"request=1", L"mode=1", L"driver=" + driver, L"attribute=DSN=" + user,            //
                L"request=1", L"mode=1", L"driver=" + driver, L"attribute=DSN=" + refused, L"attribute=REFUSE=1"}));

  // Undo entries: one count-down per registration; a data source only when
  // the setup library accepted it; the refusal is no error.
  const std::wstring driverFile = p.target + L"qvdrv.dll";
  EXPECT_EQ(Entries(p, L"Delete ODBC Driver"),
            (std::vector<std::vector<std::wstring>>{{driver, driverFile, setup},
                                                    {driver, driverFile, setup},
                                                    {driver32, target32 + L"qvdrv.dll", target32 + kOdbcSetup}}));
  EXPECT_EQ(Entries(p, L"Remove ODBC DSN"),
            (std::vector<std::vector<std::wstring>>{{system, driver, L"TRUE"}, {user, driver, L"FALSE"}}));
  EXPECT_EQ(p.ErrorsIn(L"Create ODBC DSN"), (std::vector<bool>{false, false, false}));
}

// --- Copy/Move Local Files --------------------------------------------------

struct CopyCase {
  const char* row;
  bool copy;
  bool recurse;
  std::wstring mask, newName;
  bool delayed = false;
  bool neverOverwrite = false;  // with an older "a.txt" already in the target
  std::vector<std::pair<std::wstring, std::string>> expected;  // target files and contents
  std::vector<std::wstring> gone;                               // source files that must be gone
};

TEST(NativeServices, CopyMoveLocalFilesPlacesTheMatchingFiles) {
  REQUIRE_STATEMENTS(L"Copy/Move Local Files", L"Apply Changes");
  const CopyCase cases[] = {
      {"copy from the folder itself", true, false, L"*.txt", L"", false, false,
       {{L"a.txt", "A"}, {L"b.txt", "BB"}}, {}},
      {"move with subfolders", false, true, L"*.txt", L"", false, false,
       {{L"a.txt", "A"}, {L"b.txt", "BB"}, {L"sub\\c.txt", "CCC"}}, {L"a.txt", L"b.txt", L"sub\\c.txt"}},
      {"new name for one file", true, false, L"a.txt", L"renamed.txt", false, false, {{L"renamed.txt", "A"}}, {}},
      {"new name dropped with a wildcard", true, false, L"a.*", L"renamed.txt", false, false, {{L"a.txt", "A"}}, {}},
      {"delayed copy reports the bytes", true, true, L"*.txt", L"", true, false,
       {{L"a.txt", "A"}, {L"b.txt", "BB"}, {L"sub\\c.txt", "CCC"}}, {}},
      {"existing target kept when never overwriting", true, false, L"*.txt", L"", false, true,
       {{L"a.txt", "old"}, {L"b.txt", "BB"}}, {}},
  };
  for (const CopyCase& c : cases) {
    SCOPED_TRACE(c.row);
    Product p;
    const std::wstring source = p.sandbox.Root() + L"src\\";
    CreateFolders(source + L"sub");
    WriteWholeFile(source + L"a.txt", "A");
    WriteWholeFile(source + L"b.txt", "BB");
    WriteWholeFile(source + L"d.log", "D");
    WriteWholeFile(source + L"sub\\c.txt", "CCC");
    if (c.neverOverwrite) {
      CreateFolders(p.target);
      WriteWholeFile(p.target + L"a.txt", "old");
    }
    // Copy/Move Local Files: source, mask, target, new name, copy, - with "|recurse".
    p.Run({Var(L"DELAYUNTIL_APPLYCHANGES", c.delayed ? L"TRUE" : L"FALSE"),
           Var(L"NATIVE_OVERWRITE", c.neverOverwrite ? L"NEVER" : L"ALWAYS"),
           {L"Copy/Move Local Files", {source, c.mask, p.target, c.newName, c.copy ? L"TRUE" : L"FALSE",
                                       c.recurse ? L"|TRUE" : L""}}});
    ASSERT_EQ(p.Report().size(), 1u);
    EXPECT_EQ(p.Report()[0].substr(0, 9), L"COMPLETE|");

    std::vector<std::vector<std::wstring>> placed;
    for (const auto& [name, content] : c.expected) {
      EXPECT_EQ(FileExists(p.target + name) ? ReadWholeFile(p.target + name) : "<missing>", content) << WideToUtf8(name);
      if (!(c.neverOverwrite && name == L"a.txt")) placed.push_back({p.target + name});
    }
    for (const std::wstring& name : c.gone) EXPECT_FALSE(FileExists(source + name)) << WideToUtf8(name);
    if (c.gone.empty()) {
      EXPECT_TRUE(FileExists(source + L"a.txt"));
    }
    EXPECT_TRUE(FileExists(source + L"d.log"));
    EXPECT_FALSE(FileExists(p.target + L"d.log"));
    // Each placed file, and only those, is undone as a created file.
    EXPECT_EQ(Entries(p, L"Delete File"), placed);
    if (c.delayed) {
      // The bar fills with the bytes the queue counted, plus one step per
      // folder created on the way (the target and "sub").
      EXPECT_EQ(p.Report()[0], L"COMPLETE|" + std::to_wstring(1 + 2 + 3 + 2 * 1024));
    }
  }
}

}  // namespace
}  // namespace qv::test
