// "Create Folder": record field 0 is the folder. The undo entry lists every
// folder on the path that did not exist yet, deepest first, so an undo
// removes exactly what this action created.
#include "native/ActionKinds.h"
#include "native/Executor.h"

#include "common/Files.h"

namespace qv::native {

namespace {

std::wstring Trimmed(std::wstring path) {
  while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

// The folders of `path` that do not exist, deepest first; the walk stops at
// the first one that exists or where a folder is its own parent.
Fields MissingFolders(const std::wstring& path) {
  Fields missing;
  for (std::wstring folder = Trimmed(path); !folder.empty() && !FolderExists(folder);) {
    missing.push_back(folder);
    const size_t slash = folder.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0) break;
    std::wstring parent = folder.substr(0, slash);
    if (parent.size() == 2 && parent[1] == L':') break;  // the drive itself
    if (parent.ends_with(L"\\") || parent == folder) break;  // "\\server" of a network path
    folder = std::move(parent);
  }
  return missing;
}

std::wstring ProgressText(const Fields& fields) { return Field(fields, 0); }

ActionResult Perform(TNativeThread& thread, const Fields& fields) {
  const std::wstring folder = MapPath(Field(fields, 0), thread.bitness());
  const Fields missing = MissingFolders(folder);
  const bool recorded = !missing.empty() && thread.RecordUndo(L"Create Folder", missing);
  const ActionResult result = thread.Attempt(
      [&] { return CreateFolders(folder) || FolderExists(folder) ? DWORD{0} : GetLastError() ? GetLastError() : ERROR_PATH_NOT_FOUND; },
      folder);
  if (result != ActionResult::kDone) {
    if (recorded) thread.DropLastUndo();
    return result;
  }
  thread.Log(L"        < " + folder + L" >");
  return result;
}

}  // namespace

const ActionKind kCreateFolderAction = {L"Create Folder", ProgressText, Perform};

}  // namespace qv::native
