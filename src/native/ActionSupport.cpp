#include "native/ActionSupport.h"

#include "native/Executor.h"
#include "native/FileCopy.h"
#include "native/Security.h"

#include "common/Files.h"
#include "common/Text.h"
#include "interpreter/VariableStore.h"
#include "script/Script.h"

namespace qv::native {

namespace {

constexpr std::wstring_view kSource = L"Native Engine";

DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = GetLastError();
  return error ? error : fallback;
}

// A move within one volume is a rename; across volumes, or over a target in
// use, it is a placement (copy, with the in-use handling) followed by the
// removal of the source.
Placement MoveOne(const std::wstring& source, const std::wstring& target, const CopyReport& report) {
  Placement placement;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &data);
  if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    if (report && !report((uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow)) placement.error = ERROR_CANCELLED;
    return placement;
  }
  placement = PlaceFile(source, target, false, report);
  if (placement.error == 0) {
    SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(source.c_str());
  }
  return placement;
}

}  // namespace

ActionResult OpenServiceManager(TNativeThread& thread, UniqueService& manager) {
  return thread.Attempt(
      [&]() -> DWORD {
        manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        return manager ? 0 : LastErrorOr(ERROR_ACCESS_DENIED);
      },
      L"Service Control Manager");
}

ActionResult OpenServiceForAction(TNativeThread& thread, const std::wstring& name, DWORD access,
                                  UniqueService& manager, UniqueService& service) {
  if (const ActionResult result = OpenServiceManager(thread, manager); result != ActionResult::kDone) return result;
  return thread.Attempt(
      [&]() -> DWORD {
        service.reset(OpenServiceW(manager.get(), name.c_str(), access));
        return service ? 0 : LastErrorOr(ERROR_SERVICE_DOES_NOT_EXIST);
      },
      name);
}

bool EnsureFolder(TNativeThread& thread, const std::wstring& folder) {
  if (FolderExists(MapPath(folder, thread.bitness()))) return true;
  return thread.RunAction(L"Create Folder", ToCommaText({folder}));
}

ActionResult CopyIntoPlace(TNativeThread& thread, const std::wstring& source, const std::wstring& target, bool move,
                           bool recordCreate, Placement& placement) {
  const bool recorded = recordCreate && thread.RecordUndo(L"Create File", {target});
  Variables& variables = thread.variables();
  const bool hardLink = !move && EqualsNoCase(variables.Get(L"NATIVE_HARDLINK"), L"TRUE");
  const std::wstring backup = variables.Get(L"NATIVE_PROGRESS");
  variables.Set(L"NATIVE_PROGRESS_BACKUP", backup, kSource);
  if (!thread.ReportProgress(target, 0)) {
    if (recorded) thread.DropLastUndo();
    return ActionResult::kAborted;
  }
  // Bytes move the bar only where the phase counted them: in the delayed
  // phase and for the file-bearing kinds.
  const CopyReport report = [&](uint64_t delta) {
    if (!thread.delayed() && !thread.byteProgress()) return !thread.TerminateRequested();
    return thread.ReportProgress(L"$IGNORE$", delta);
  };
  SavedSecurity saved = OverrideSecurity(SecurityPolicy::From(variables), target);
  const ActionResult result = thread.Attempt(
      [&] {
        variables.Set(L"NATIVE_PROGRESS", backup, kSource);
        placement = move ? MoveOne(source, target, report) : PlaceFile(source, target, hardLink, report);
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
  return ActionResult::kDone;
}

ActionResult PlaceActionFile(TNativeThread& thread, const std::wstring& source, const std::wstring& target,
                             const PlaceOptions& options) {
  if (!EnsureFolder(thread, FolderOf(target))) return ActionResult::kAborted;

  if (FileExists(target)) {
    const OverwriteAnswer answer = thread.policies().ConfirmOverwrite(source, target);
    if (answer.abort) return ActionResult::kAborted;
    if (!answer.proceed) return ActionResult::kDone;
  }

  Placement placement;
  const ActionResult result = CopyIntoPlace(thread, source, target, options.move, true, placement);
  if (result != ActionResult::kDone) return result;
  if (!placement.atRestart) SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  thread.Log(L"        < " + (options.detail.empty() ? target : options.detail) + L" >");
  return ActionResult::kDone;
}

std::vector<DataFile> DataFilesOf(const TNativeThread& thread, const std::wstring& header) {
  const ThreadSetup& setup = thread.setup();
  if (!setup.script) return {};
  std::vector<DataFile> files = FilesOf(setup.script->fileTable, header);
  for (DataFile& file : files) file.source = setup.dataFolder + file.source;
  return files;
}

}  // namespace qv::native
