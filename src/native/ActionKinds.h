// The uniform shape of an install action kind: its name, the progress text
// of a record, and the change itself, which records its undo entry before
// touching the machine, runs each system call through the error policy and
// writes its detail line. Adding a kind is adding one file and one row in
// ActionKinds.cpp.
#pragma once

#include <optional>
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
extern const ActionKind kEditIniFileAction;
extern const ActionKind kSetEnvironmentAction;
extern const ActionKind kCreateShortcutAction;
extern const ActionKind kCreateFileTypeAction;

// The undo actions defined beside their kinds: "Remove INI Entry", "Delete
// INI File" and "Delete Environment".
struct UndoEntry;
ActionResult RemoveIniEntry(TNativeThread& thread, const UndoEntry& entry);
ActionResult DeleteIniFile(TNativeThread& thread, const UndoEntry& entry);
ActionResult DeleteEnvironment(TNativeThread& thread, const UndoEntry& entry);

// `list` without the separator-bounded elements that `recorded` names (the
// text an install added, separators at its ends ignored), compared without
// case and ignoring blanks around each element, together with one separator
// next to them. Searches from the end when `fromEnd`. Nothing when no whole
// run of elements matches: a longer element that merely contains the text
// is left alone.
std::optional<std::wstring> RemoveListElements(std::wstring_view list, std::wstring_view recorded, wchar_t separator,
                                               bool fromEnd);

// INI text: whether section `section` (case ignored) is there and holds
// nothing but blank lines (a comment counts as content); whether the whole
// text is blank.
bool IniSectionIsEmpty(std::wstring_view text, std::wstring_view section);
bool IniTextIsBlank(std::wstring_view text);

// "Delete Files" refuses a folder that is empty or the root of a drive or
// share.
bool IsRefusedDeleteFolder(std::wstring_view folder);

// Field i of a record, empty when the record is shorter.
inline const std::wstring& Field(const Fields& fields, size_t i) {
  static const std::wstring empty;
  return i < fields.size() ? fields[i] : empty;
}

}  // namespace qv::native
