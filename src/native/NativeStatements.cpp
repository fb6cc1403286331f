#include "native/NativeStatements.h"

#include "bootstrap/Session.h"
#include "cache/EngineCache.h"
#include "common/Error.h"
#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"
#include "interpreter/Expansion.h"
#include "interpreter/Progress.h"
#include "interpreter/Statements.h"
#include "native/ActionRecord.h"
#include "native/Executor.h"
#include "native/FileTable.h"
#include "native/NativeEngine.h"
#include "native/NativeLogs.h"
#include "native/SelfRegistration.h"
#include "native/SourceAcquisition.h"

#include <memory>
#include <optional>
#include <vector>

namespace qv::native {

namespace {

constexpr std::wstring_view kSpoolerSource = L"Native Spooler";

bool VariableIsTrue(const Variables& v, std::wstring_view name) { return EqualsNoCase(v.Get(name), L"TRUE"); }

bool LoggingOff(const Variables& v) { return EqualsNoCase(v.Get(L"NATIVE_LOGGING"), L"FALSE"); }

bool RollbackEnabled(const Variables& v) {
  return !Engine().committed && !EqualsNoCase(v.Get(L"NATIVE_ROLLBACK"), L"FALSE");
}

RecordSource SourceOf(const StatementContext& c, std::wstring header) {
  RecordSource s;
  s.raw = [&c](size_t k) { return c.Parameter(k); };
  s.expand = [&c](std::wstring_view text) { return c.variables.Expand(text); };
  s.expandPath = [&c](std::wstring_view text) { return ExpandPath(c.variables, text); };
  s.allUsers = IsTrueFlag(c.variables.Get(L"ALLUSERS"));
  s.header = std::move(header);
  return s;
}

void Attach(const Session& session) { Engine().session = &session; }

std::wstring DataFolder(const Session& session) {
  const std::wstring& chosen = Engine().dataFolder;
  return chosen.empty() ? session.paths.dataFolder : chosen;
}

// The automatic rollback of an abort, wherever the abort comes from (this
// engine's own statements, or another worker's cancellation checkpoint):
// only when the native engine is in use and its rollback is enabled.
void AbortRollback() {
  const Session* session = Engine().session;
  Variables& variables = GlobalVariables();
  if (!session || !VariableIsTrue(variables, L"NATIVE_ENGINE") || !RollbackEnabled(variables)) return;
  QueueOrRun(*session, variables, L"ROLLBACK", L"", 0, false);
}

const bool kAbortRollbackInstalled = (SetAbortRollback(AbortRollback), true);

}  // namespace

bool QueueOrRun(const Session& session, Variables& variables, std::wstring_view command, std::wstring record, size_t index,
                bool delay) {
  TNativeEngine& engine = Engine();
  Attach(session);
  if (delay) {
    engine.queue.Append({std::wstring(command), index, std::move(record), engine.bitness});
    return true;
  }
  engine.errorText.clear();
  // A cancel that came before this command is not this command's: it is
  // hidden while the worker runs and put back afterwards. A rollback runs
  // with the cancel request still visible.
  const bool rollback = command == L"ROLLBACK";
  bool clearedCancel = false;
  if (!rollback && IsCancelled(variables)) {
    variables.Set(kVarIsCancelled, L"FALSE", kSpoolerSource);
    clearedCancel = true;
  }
  // NATIVE_LOGGING "FALSE" records nothing, however it got its value (an
  // assignment, the command line, the saved state of a maintenance run).
  engine.logs.SetEnabled(!LoggingOff(variables));
  ThreadSetup setup{variables, engine, session.script.get(), DataFolder(session), session.silent};
  auto native = std::make_shared<TNativeThread>(setup, std::wstring(command), std::move(record), index, engine.bitness);
  WorkerThread worker;
  try {
    worker.Start([native](std::stop_token stop) { native->Execute(std::move(stop)); });
  } catch (const std::exception&) {
    engine.result = kNativeException;
    engine.errorText = L"Cannot start the native engine worker";
  }
  // The worker is never abandoned: a rollback may follow, and it must not run
  // beside a worker that still changes the machine.
  WaitOptions options;
  options.silent = session.silent;
  options.primeWatchdog = true;
  options.windDown = true;
  WaitForWorker(worker, variables, options);
  const CheckpointOutcome outcome =
      CancellationCheckpoint(session, variables, checkpoint::kNativeEngine, /*announce=*/!rollback);
  if (clearedCancel) variables.Set(kVarIsCancelled, L"TRUE", kSpoolerSource);
  return outcome != CheckpointOutcome::kAbort;
}

void InstallStatement(StatementContext& c) {
  if (!VariableIsTrue(c.variables, L"NATIVE_ENGINE")) return;  // the Windows Installer mode has no record
  Attach(c.session);
  const std::wstring name = c.Name();
  const std::wstring header = IsFileBearing(name) ? HeaderOf(c.session.script->headers, c.row) : L"";
  std::wstring record = BuildRecord(name, SourceOf(c, header));
  const bool delay = VariableIsTrue(c.variables, L"DELAYUNTIL_APPLYCHANGES");
  if (!delay && !header.empty()) {
    const std::optional<std::wstring> found = AcquireSources(c.session, c.variables, DataFolder(c.session), header);
    if (!found) {
      c.variables.Set(L"LASTERROR", kSourcesNotFound, kSourceAcquisitionSource);
      if (VariableIsTrue(c.variables, L"ABORTONERROR")) throw Error(std::wstring(kSourcesNotFound));
      return;
    }
    if (*found != c.session.paths.dataFolder) Engine().dataFolder = *found;
  }
  if (QueueOrRun(c.session, c.variables, name, std::move(record), c.row, delay)) return;
  AbortRun(c);  // rolls back when the native rollback is enabled
}

void ApplyPatchStatement(StatementContext& c) {
  // Patches are a Windows Installer matter; the native engine has none to apply.
  if (!VariableIsTrue(c.variables, L"NATIVE_ENGINE")) return;
  const std::wstring resultName = ReadVariableName(c.Parameter(1));
  if (!resultName.empty()) c.SetResult(resultName, L"ERROR");
}

namespace {

// After an uninstall: the product's logs go; when they lay in the engine
// cache, the whole cache folder goes (what is in use goes at the next restart).
void RemoveUninstalledLogs(const Variables& variables) {
  const std::wstring prefix = LogPrefix(variables);
  const std::wstring folder = FolderOf(prefix);
  const std::wstring oldLog = variables.Get(L"NATIVE_OLDLOG");
  if (oldLog.empty() || !EqualsNoCase(folder, FolderOf(oldLog))) {
    for (size_t i = 0; i < 4; ++i) DeleteFileW(LogFile(prefix, i).c_str());
    return;
  }
  RemoveTree(folder);
  if (!FolderExists(folder)) return;
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW((folder + L"*").c_str(), &data));
  if (find) {
    do {
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      MoveFileExW((folder + data.cFileName).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    } while (FindNextFileW(find.get(), &data));
  }
  MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

void ApplyChangesStatement(StatementContext& c) {
  TNativeEngine& engine = Engine();
  Attach(c.session);
  const std::wstring resultName = ReadVariableName(c.Parameter(2));
  const bool install = IsTrueFlag(c.Parameter(3));
  const bool uninstall = IsTrueFlag(c.Parameter(4));
  int outcome = kNativeSuccess;
  bool ok = true;
  // An uninstall may load the installed product's policies; they are put back afterwards.
  static constexpr const wchar_t* kPolicyVariables[] = {L"NATIVE_ERROR", L"NATIVE_OVERWRITE", L"NATIVE_OVERWRITE_OLDER",
                                                        L"NATIVE_OVERRIDE_PERMISSIONS",
                                                        L"NATIVE_OVERRIDE_NON_RESTORABLE_PERMISSIONS"};
  std::vector<std::wstring> policies;
  for (const wchar_t* name : kPolicyVariables) policies.push_back(c.variables.Get(name));
  if (uninstall) {
    ok = QueueOrRun(c.session, c.variables, L"UNINSTALL", L"", c.row, false);
    outcome = ok ? engine.result : kNativeFailed;
  }
  if (ok && install && VariableIsTrue(c.variables, L"DELAYUNTIL_APPLYCHANGES")) {
    ok = QueueOrRun(c.session, c.variables, L"DELAYEDINSTALL", L"", c.row, false);
    outcome = ok ? engine.result : kNativeFailed;
    if (!ok && RollbackEnabled(c.variables)) QueueOrRun(c.session, c.variables, L"ROLLBACK", L"", c.row, false);
  }
  std::wstring error = engine.errorText;
  if (error.empty() && outcome == kNativeFailed) error = L"Setup cancelled";
  if (outcome == kNativeSuccess && engine.rebootPending) outcome = 2;
  const wchar_t* text = outcome == kNativeException ? L"ERROR"
                        : outcome == kNativeFailed  ? L"CANCEL"
                        : outcome == 2              ? L"REBOOT"
                                                    : L"COMPLETE";
  if (!resultName.empty()) c.SetResult(resultName, text);
  if (outcome == 2) c.variables.Set(L"REBOOTCOMPUTER", L"TRUE", c.Source());
  if (!error.empty()) c.variables.Set(L"LASTERROR", error, c.Source());
  if (ok && uninstall && outcome >= kNativeSuccess) {
    if (!LoggingOff(c.variables)) RemoveUninstalledLogs(c.variables);
    RemoveRegistration(c.session, c.variables);
    for (size_t i = 0; i < policies.size(); ++i)
      c.variables.Set(kPolicyVariables[i], policies[i], L"Native Foreign Log Processor");
  }
  if (outcome >= kNativeSuccess && install) {
    // The changes are in: the setup is cached for maintenance, their undo
    // entries go to the logs beside it, and rollback no longer applies.
    try {
      CacheSetupForMaintenance(c.session, c.variables, c.components);
    } catch (const qv::Error& error) {
      c.variables.Set(L"LASTERROR", error.message(), c.Source());
    }
    engine.logs.FlushLogs(LogPrefix(c.variables));
    engine.committed = true;
  }
  if (!ok) c.endRun = true;
}

void Set64BitModeStatement(StatementContext& c) {
  TNativeEngine& engine = Engine();
  if (IsTrueFlag(c.Parameter(1))) engine.bitness = Bitness::Win32;
  if (IsTrueFlag(c.Parameter(2))) engine.bitness = Bitness::Ia64;
  if (IsTrueFlag(c.Parameter(3))) engine.bitness = Bitness::X64;
}

void RegisterLibraryStatement(StatementContext& c) {
  const Bitness mode = Engine().bitness;
  const std::wstring path = MapPath(c.PathParameter(1), mode);
  bool registered = false;
  {
    const BitnessScope scope(mode);
    registered = RegisterLibrary(path, IsTrueFlag(c.Parameter(2)));
  }
  const std::wstring resultName = ReadVariableName(c.Parameter(3));
  if (!resultName.empty()) c.SetResult(resultName, registered ? L"TRUE" : L"FALSE");
}

void IsNativeSetupInstalledStatement(StatementContext& c) {
  const std::wstring code = c.ValueParameter(1);
  const std::wstring resultName = ReadVariableName(c.Parameter(2));
  // The product's cache registration names its instance folder; the product
  // is installed when a complete log set lies there.
  bool installed = false;
  UniqueKey key;
  const std::wstring path = L"SOFTWARE\\Velmora\\Quorvane\\Ident.Cache\\" + code;
  if (!code.empty() && RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
    wchar_t buffer[32768];
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t), type = 0;
    if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
      buffer[bytes / sizeof(wchar_t)] = L'\0';
      const std::wstring folder = WithTrailingSlash(buffer);
      WIN32_FIND_DATAW data;
      if (UniqueFind find(FindFirstFileW((folder + L"*" + std::wstring(kLogSuffixes[0])).c_str(), &data)); find) {
        const std::wstring name = data.cFileName;
        installed = LogsPresent(folder + name.substr(0, name.size() - kLogSuffixes[0].size()), false);
      }
    }
  }
  if (!resultName.empty()) {
    c.CreateResult(resultName);
    c.variables.ProtectedSet(UpperCase(resultName), installed ? L"TRUE" : L"FALSE", L"NativeQueryProductState");
  }
}

}  // namespace qv::native
