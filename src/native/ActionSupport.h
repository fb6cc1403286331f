// Pieces shared by several action kinds: the nested "Create Folder" that
// makes a missing folder, placing one file the way every file-placing kind
// does it ("Install Service", "Install ODBC Driver", "Copy/Move Local
// Files"), the files of a statement's block in the file table, and an owner
// for service manager handles.
#pragma once

#include "native/ActionKinds.h"
#include "native/FileCopy.h"
#include "native/FileTable.h"

#include "common/Handles.h"

#include <windows.h>

#include <string>
#include <vector>

namespace qv::native {

class TNativeThread;

struct ServiceHandleTraits {
  using Type = SC_HANDLE;
  static Type Empty() { return nullptr; }
  static void Close(Type h) { CloseServiceHandle(h); }
};
using UniqueService = Unique<ServiceHandleTraits>;

// Opens the service manager with full access through the error policy.
ActionResult OpenServiceManager(TNativeThread& thread, UniqueService& manager);
// Opens the service manager, then the service, each through the error
// policy. kDone leaves `service` open with `access`.
ActionResult OpenServiceForAction(TNativeThread& thread, const std::wstring& name, DWORD access, UniqueService& manager,
                                  UniqueService& service);

// Makes a missing folder through a nested "Create Folder" action (its own
// undo entry, progress step and log lines), so an undo removes exactly the
// folders it made. `folder` is read in the thread's bitness mode. False when
// the nested action was aborted; a folder that exists is left alone.
bool EnsureFolder(TNativeThread& thread, const std::wstring& folder);

// The copy (or move) of one file into place, shared by every kind that
// places files: the "Create File" undo entry when `recordCreate`, the
// progress step, the permission override, the copy through the error
// policy (byte progress while the delayed or byte-progress flag is set) and
// the reboot flag for a replacement at the next restart. The undo entry is
// dropped again when the copy does not get through.
ActionResult CopyIntoPlace(TNativeThread& thread, const std::wstring& source, const std::wstring& target, bool move,
                           bool recordCreate, Placement& placement);

struct PlaceOptions {
  bool move = false;   // a move: the source goes away once the target is in place
  std::wstring detail;  // the detail line's text; the target when empty
};

// Places one file: creates the target's folder by a nested "Create Folder",
// asks the overwrite policy about an existing target (a refusal keeps it
// and counts as done), records the "Create File" undo entry, copies (or
// moves) with byte progress while the delayed or byte-progress flag is set,
// and sends failures through the error policy. Writes the detail line.
ActionResult PlaceActionFile(TNativeThread& thread, const std::wstring& source, const std::wstring& target,
                             const PlaceOptions& options = {});

// What "Configure Service Failure" hands the service manager: the record's
// reset period, reboot message and command (each "[~]" clears the text, an
// empty field leaves it unchanged) and its action list, read as comma text
// in groups of label (ignored), action name and delay in milliseconds.
struct FailureSettings {
  DWORD resetPeriod = 0;
  bool changeMessage = false;
  std::wstring message;
  bool changeCommand = false;
  std::wstring command;
  std::vector<SC_ACTION> actions;
};
FailureSettings FailureSettingsOf(const Fields& fields);

// The statement's files from the installation data: source paths under the
// data folder, with their companion items, in table order.
std::vector<DataFile> DataFilesOf(const TNativeThread& thread, const std::wstring& header);

}  // namespace qv::native
