// "Delete Files": record fields 0 folder, 1 mask. Deletes the matching files
// of the folder itself (no subfolders), last match first. It records no undo
// entry and asks nothing; a folder that expanded to nothing or to the root
// of a drive or share is refused, so that an unset variable can never turn
// the statement against a whole drive.
#include "native/ActionKinds.h"
#include "native/Executor.h"

#include "common/Files.h"
#include "common/Handles.h"

#include <vector>

namespace qv::native {

namespace {

std::wstring ProgressText(const Fields& fields) { return WithTrailingSlash(Field(fields, 0)) + Field(fields, 1); }

}  // namespace

bool IsRefusedDeleteFolder(std::wstring_view folder) {
  std::wstring path(folder);
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/' || path.back() == L' ')) path.pop_back();
  if (path.empty()) return true;
  if (path.size() == 2 && path[1] == L':') return true;  // "C:" or "C:\"
  if (path.starts_with(L"\\\\")) {                       // "\\server" or "\\server\share"
    const size_t server = path.find(L'\\', 2);
    return server == std::wstring::npos || path.find(L'\\', server + 1) == std::wstring::npos;
  }
  return false;
}

namespace {

ActionResult Perform(TNativeThread& thread, const Fields& fields) {
  const std::wstring folder = MapPath(Field(fields, 0), thread.bitness());
  const std::wstring& mask = Field(fields, 1);
  if (IsRefusedDeleteFolder(folder) || mask.empty()) {
    thread.Log(L"        <NATIVE ERROR>");
    thread.Log(L"          < Refused to delete \"" + mask + L"\" in \"" + folder + L"\" >");
    thread.Log(L"        </NATIVE ERROR>");
    return ActionResult::kFailed;
  }
  const std::wstring base = WithTrailingSlash(folder);
  std::vector<std::wstring> matches;
  WIN32_FIND_DATAW data;
  if (UniqueFind find(FindFirstFileW((base + mask).c_str(), &data)); find) {
    do
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) matches.push_back(base + data.cFileName);
    while (FindNextFileW(find.get(), &data));
  }
  for (auto it = matches.rbegin(); it != matches.rend(); ++it) {
    SetFileAttributesW(it->c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(it->c_str());
  }
  thread.Log(L"        < " + base + mask + L" >");
  return ActionResult::kDone;
}

}  // namespace

const ActionKind kDeleteFilesAction = {L"Delete Files", ProgressText, Perform};

}  // namespace qv::native
