// "Install Files": record fields 0 header, 1 target folder, then the flags
// 2 read-only, 3 hidden, 4 system, 5 stop-on-failure, 6 self-register,
// 7 shared, 8 permanent, 9 only-if-absent. The files are the header's block
// of the file table, read from the installation data folder and placed in
// the target folder plus each file's subfolder. Success is what the copy
// itself reports: a target that merely exists afterwards (an older file the
// copy failed to replace) is a failure.
#include "native/ActionKinds.h"
#include "native/Executor.h"
#include "native/FileCopy.h"
#include "native/Security.h"
#include "native/FileTable.h"

#include "common/Files.h"
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

// One file; kFailed and kAborted as for the action.
ActionResult PlaceOne(TNativeThread& thread, const Fields& fields, const std::wstring& source, const std::wstring& target) {
  const bool shared = IsTrueFlag(Field(fields, 7));
  const bool permanent = IsTrueFlag(Field(fields, 8));
  const std::wstring folder = FolderOf(target);
  if (!FolderExists(folder) && !thread.RunAction(L"Create Folder", ToCommaText({folder})))
    return ActionResult::kAborted;

  const bool exists = FileExists(target);
  if (exists) {
    if (IsTrueFlag(Field(fields, 9))) return ActionResult::kDone;  // only when absent
    const OverwriteAnswer answer = thread.policies().ConfirmOverwrite(source, target);
    if (answer.abort) return ActionResult::kAborted;
    if (!answer.proceed) return ActionResult::kDone;
  }

  const bool recorded = !shared && !permanent && thread.RecordUndo(L"Create File", {target});
  const bool hardLink = EqualsNoCase(thread.variables().Get(L"NATIVE_HARDLINK"), L"TRUE");
  const std::wstring backup = thread.variables().Get(L"NATIVE_PROGRESS");
  thread.variables().Set(L"NATIVE_PROGRESS_BACKUP", backup, L"Native Engine");
  if (!thread.ReportProgress(target, 0)) {
    if (recorded) thread.DropLastUndo();
    return ActionResult::kAborted;
  }
  SavedSecurity saved = OverrideSecurity(SecurityPolicy::From(thread.variables()), target);
  Placement placement;
  const ActionResult result = thread.Attempt(
      [&] {
        thread.variables().Set(L"NATIVE_PROGRESS", backup, L"Native Engine");
        placement = PlaceFile(source, target, hardLink, [&](uint64_t delta) {
          if (!thread.delayed() && !thread.byteProgress()) return !thread.TerminateRequested();
          return thread.ReportProgress(L"$IGNORE$", delta);
        });
        return placement.error;
      },
      source + L"\r->\r" + target);
  // The placed file gets the old file's owner and access list; a target
  // left in place (failure, or replaced only at the next restart) gets its
  // own back.
  RestoreSecurity(saved, result == ActionResult::kDone && !placement.atRestart);
  if (result != ActionResult::kDone) {
    if (recorded) thread.DropLastUndo();
    return result;
  }
  if (placement.atRestart) thread.engine().rebootPending = true;

  if (const DWORD attributes = Attributes(fields)) {
    const ActionResult set = thread.Attempt(
        [&] { return SetFileAttributesW(target.c_str(), attributes) ? DWORD{0} : GetLastError(); }, target);
    if (set == ActionResult::kAborted) return set;
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
  for (const DataFile& file : FilesOf(setup.script->fileTable, Field(fields, 0))) {
    std::wstring target = targetFolder;
    if (!file.companion.empty()) target += WithTrailingSlash(file.companion);
    target += FileNameOf(file.source);
    const ActionResult result = PlaceOne(thread, fields, setup.dataFolder + file.source, target);
    if (result == ActionResult::kAborted) return result;
    if (result == ActionResult::kFailed) {
      if (stopOnFailure) return ActionResult::kAborted;
      outcome = ActionResult::kFailed;
    }
  }
  return outcome;
}

}  // namespace

const ActionKind kInstallFilesAction = {L"Install Files", ProgressText, Perform};

}  // namespace qv::native
