// "Install Files": record fields 0 header, 1 target folder, then the flags
// 2 read-only, 3 hidden, 4 system, 5 stop-on-failure, 6 self-register,
// 7 shared, 8 permanent, 9 only-if-absent. The files are the header's block
// of the file table, read from the installation data folder and placed in
// the target folder plus each file's subfolder. Success is what the copy
// itself reports: a target that merely exists afterwards (an older file the
// copy failed to replace) is a failure.
//
// A self-registering file is registered once placed (by the registrar in
// the file's own bitness, a program by its /regserver switch, or from a
// run-once value when it waits for the restart). A shared file counts one
// more user under SharedDlls; its removal follows that count, so it gets no
// "Create File" entry. The count goes up also when an existing shared file
// is kept (overwrite refused, or only-if-absent): this product uses it too,
// and another product's uninstall must not take it away.
#include "native/ActionKinds.h"
#include "native/ActionSupport.h"
#include "native/Executor.h"
#include "native/FileCopy.h"
#include "native/FileTable.h"
#include "native/SelfRegistration.h"

#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"
#include "interpreter/VariableStore.h"
#include "script/Script.h"

namespace qv::native {

namespace {

std::wstring ProgressText(const Fields& fields) { return Field(fields, 1); }

DWORD Attributes(const Fields& f) {
  DWORD attributes = 0;
  if (IsTrueFlag(Field(f, 2))) attributes |= FILE_ATTRIBUTE_READONLY;
  if (IsTrueFlag(Field(f, 3))) attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (IsTrueFlag(Field(f, 4))) attributes |= FILE_ATTRIBUTE_SYSTEM;
  return attributes;
}

// Registers a placed file; `source` holds the same content when the target
// still waits for the restart.
ActionResult SelfRegister(TNativeThread& thread, const Fields& fields, const std::wstring& source,
                          const std::wstring& target, bool atRestart) {
  if (!thread.ReportProgress(L"regsvr32 " + target, 0)) return ActionResult::kAborted;
  const bool recorded = !IsTrueFlag(Field(fields, 7)) && !IsTrueFlag(Field(fields, 8)) &&
                        thread.RecordUndo(L"Register File", {target});
  const bool program = IsProgramFile(target);
  ActionResult result = ActionResult::kDone;
  if (atRestart) {
    const bool allUsers = IsTrueFlag(thread.variables().Get(L"ALLUSERS"));
    const std::wstring registrar =
        program ? L"" : RegistrarPath(IsImage64(source) ? Bitness::X64 : Bitness::Win32);
    RegisterAtRestart(registrar, target, allUsers, thread.bitness());
  } else {
    result = thread.Attempt(
        [&]() -> DWORD {
          if (!program) return RunRegistrar(target, true);
          return RegisterByProgram(target, true) ? DWORD{0} : GetLastError();
        },
        target);
  }
  if (result != ActionResult::kDone) {
    if (recorded) thread.DropLastUndo();
    return result;
  }
  thread.Log(L"          < regsvr32 " + target + L" >");
  return ActionResult::kDone;
}

// One more user of a shared file: the old count plus one, or without a
// count 2 when the file was there before (someone else placed it) and 1
// otherwise.
ActionResult CountShare(TNativeThread& thread, const Fields& fields, const std::wstring& target, bool existed) {
  const std::wstring valuePath = L"HKEY_LOCAL_MACHINE\\" + std::wstring(kSharedDllsKey) + L"\\" + target;
  if (!thread.ReportProgress(valuePath, 0)) return ActionResult::kAborted;
  const bool selfRegistering = IsTrueFlag(Field(fields, 6));
  const bool recorded = !IsTrueFlag(Field(fields, 8)) &&
                        thread.RecordUndo(selfRegistering ? L"Share Self Registering File" : L"Share File", {target});
  const REGSAM view = RegistryView(thread.bitness());
  const ActionResult result = thread.Attempt(
      [&]() -> DWORD {
        UniqueKey key;
        if (const LONG opened = RegCreateKeyExW(HKEY_LOCAL_MACHINE, std::wstring(kSharedDllsKey).c_str(), 0, nullptr, 0,
                                                KEY_QUERY_VALUE | KEY_SET_VALUE | view, nullptr, key.put(), nullptr))
          return static_cast<DWORD>(opened);
        DWORD count = 0, type = 0, size = sizeof(count);
        const LONG read =
            RegQueryValueExW(key.get(), target.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&count), &size);
        if (read == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(count))
          ++count;
        else
          count = existed ? 2 : 1;
        return static_cast<DWORD>(
            RegSetValueExW(key.get(), target.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof(count)));
      },
      valuePath);
  if (result != ActionResult::kDone) {
    if (recorded) thread.DropLastUndo();
    return result;
  }
  thread.Log(L"          < share " + target + L" >");
  return ActionResult::kDone;
}

// One file; kFailed (the file is not in place) and kAborted as for the
// action. A later step that failed for good (registration, count,
// attributes) sets `stepFailed`: the file is there, the action counts as
// failed, but stop-on-failure does not apply.
ActionResult PlaceOne(TNativeThread& thread, const Fields& fields, const std::wstring& source, const std::wstring& target,
                      bool& stepFailed) {
  const bool selfRegistering = IsTrueFlag(Field(fields, 6));
  const bool shared = IsTrueFlag(Field(fields, 7));
  const bool permanent = IsTrueFlag(Field(fields, 8));
  if (!EnsureFolder(thread, FolderOf(target))) return ActionResult::kAborted;

  const bool exists = FileExists(target);
  if (exists) {
    bool keep = IsTrueFlag(Field(fields, 9));  // only when absent
    if (!keep) {
      const OverwriteAnswer answer = thread.policies().ConfirmOverwrite(source, target);
      if (answer.abort) return ActionResult::kAborted;
      keep = !answer.proceed;
    }
    if (keep) {
      if (!shared) return ActionResult::kDone;
      const ActionResult counted = CountShare(thread, fields, target, true);
      stepFailed = stepFailed || counted == ActionResult::kFailed;
      return counted == ActionResult::kAborted ? counted : ActionResult::kDone;
    }
  }

  Placement placement;
  const ActionResult result = CopyIntoPlace(thread, source, target, false, !shared && !permanent, placement);
  if (result != ActionResult::kDone) return result;

  // A shared file has no "Create File" entry: its count takes it away. A
  // file this action created whose count never got written (the count
  // failed, or the action stopped before it) would stay for good, so it is
  // undone as an unshared file then.
  ActionResult registered = ActionResult::kFailed, counted = ActionResult::kFailed;
  ScopeGuard uncounted([&] {
    if (!shared || permanent || exists || counted == ActionResult::kDone) return;
    thread.RecordUndo(L"Create File", {target});
    if (registered == ActionResult::kDone) thread.RecordUndo(L"Register File", {target});
  });
  if (selfRegistering) {
    registered = SelfRegister(thread, fields, source, target, placement.atRestart);
    if (registered == ActionResult::kAborted) return registered;
    stepFailed = stepFailed || registered == ActionResult::kFailed;
  }
  if (shared) {
    counted = CountShare(thread, fields, target, exists);
    if (counted == ActionResult::kAborted) return counted;
    stepFailed = stepFailed || counted == ActionResult::kFailed;
  }

  if (const DWORD attributes = Attributes(fields)) {
    const ActionResult set = thread.Attempt(
        [&] { return SetFileAttributesW(target.c_str(), attributes) ? DWORD{0} : GetLastError(); }, target);
    if (set == ActionResult::kAborted) return set;
    if (set == ActionResult::kFailed)
      stepFailed = true;
    else
      thread.Log(L"          < attributes " + target + L" >");
  }
  thread.Log(L"        < " + target + L" >");
  return ActionResult::kDone;
}

ActionResult Perform(TNativeThread& thread, const Fields& fields) {
  const ThreadSetup& setup = thread.setup();
  if (!setup.script) return ActionResult::kFailed;
  const std::wstring targetFolder = WithTrailingSlash(MapPath(Field(fields, 1), thread.bitness()));
  const bool stopOnFailure = IsTrueFlag(Field(fields, 5));
  ActionResult outcome = ActionResult::kDone;
  bool stepFailed = false;
  for (const DataFile& file : FilesOf(setup.script->fileTable, Field(fields, 0))) {
    std::wstring target = targetFolder;
    if (!file.companion.empty()) target += WithTrailingSlash(file.companion);
    target += FileNameOf(file.source);
    const ActionResult result = PlaceOne(thread, fields, setup.dataFolder + file.source, target, stepFailed);
    if (result == ActionResult::kAborted) return result;
    if (result == ActionResult::kFailed) {
      if (stopOnFailure) return ActionResult::kAborted;
      outcome = ActionResult::kFailed;
    }
  }
  return stepFailed ? ActionResult::kFailed : outcome;
}

}  // namespace

const ActionKind kInstallFilesAction = {L"Install Files", ProgressText, Perform};

}  // namespace qv::native
