// The uniform shape of an install action kind: its name, the progress text
// of a record, and the change itself, which records its undo entry before
// touching the machine, runs each system call through the error policy and
// writes its detail line. Adding a kind is adding one file and one row in
// ActionKinds.cpp.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qv::native {

class TNativeThread;

enum class ActionResult {
  kDone,     // the change is made
  kFailed,   // the change failed for good; the run goes on, the phase reports 0
  kAborted,  // cancelled or aborted by the error policy; the phase stops
};

using Fields = std::vector<std::wstring>;

struct ActionKind {
  std::wstring_view name;
  std::wstring (*progressText)(const Fields& fields);
  ActionResult (*perform)(TNativeThread& thread, const Fields& fields);
};

// The kind of a statement name, or nullptr when this engine has none.
const ActionKind* FindActionKind(std::wstring_view name);

// One per kind, each defined in its own file.
extern const ActionKind kCreateFolderAction;
extern const ActionKind kWriteRegistryAction;
extern const ActionKind kDeleteFilesAction;
extern const ActionKind kInstallFilesAction;
extern const ActionKind kInstallServiceAction;
extern const ActionKind kControlServiceAction;
extern const ActionKind kConfigureServiceAction;
extern const ActionKind kConfigureServiceFailureAction;
extern const ActionKind kInstallOdbcDriverAction;
extern const ActionKind kCreateOdbcDsnAction;
extern const ActionKind kCopyMoveLocalFilesAction;

// "Delete Files" refuses a folder that is empty or the root of a drive or
// share.
bool IsRefusedDeleteFolder(std::wstring_view folder);

// Field i of a record, empty when the record is shorter.
inline const std::wstring& Field(const Fields& fields, size_t i) {
  static const std::wstring empty;
  return i < fields.size() ? fields[i] : empty;
}

}  // namespace qv::native
