// "Copy/Move Local Files": record fields 0 source folder, 1 mask, 2 target
// folder, 3 copy flag (true copies, otherwise the files move), 4 recurse
// flag, 5 new name. Every matching file (in subfolders too when recursing)
// is placed into the target folder plus its path below the source folder,
// under the new name when one is given; a new name is dropped when it or
// the mask holds a wildcard, as it could not name several files. The list
// of files is taken before the first one is placed, so a target inside the
// source never feeds the walk.
//
// Progress: in the delayed phase the queue counted the files' bytes, and
// the copies report them; an immediate action moves the bar by one fixed
// step instead.
#include "native/ActionKinds.h"
#include "native/ActionSupport.h"
#include "native/Executor.h"

#include "common/Files.h"
#include "common/Handles.h"
#include "interpreter/VariableStore.h"

#include <vector>

namespace qv::native {

namespace {

constexpr uint64_t kImmediateWeight = 1048576;

struct Match {
  std::wstring subfolder;  // below the source folder, with a trailing backslash, or empty
  std::wstring name;
};

bool HasWildcard(std::wstring_view text) { return text.find_first_of(L"?*") != std::wstring_view::npos; }

void Collect(const std::wstring& root, const std::wstring& subfolder, const std::wstring& mask, bool recurse,
             std::vector<Match>& matches) {
  WIN32_FIND_DATAW data;
  if (UniqueFind find(FindFirstFileW((root + subfolder + mask).c_str(), &data)); find) {
    do
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) matches.push_back({subfolder, data.cFileName});
    while (FindNextFileW(find.get(), &data));
  }
  if (!recurse) return;
  if (UniqueFind find(FindFirstFileW((root + subfolder + L"*").c_str(), &data)); find) {
    do {
      const std::wstring name = data.cFileName;
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
          name != L"." && name != L"..")
        Collect(root, subfolder + name + L"\\", mask, true, matches);
    } while (FindNextFileW(find.get(), &data));
  }
}

std::wstring ProgressText(const Fields& fields) {
  return WithTrailingSlash(Field(fields, 0)) + Field(fields, 1) + L" -> " + Field(fields, 2);
}

ActionResult Perform(TNativeThread& thread, const Fields& fields) {
  const std::wstring source = WithTrailingSlash(MapPath(Field(fields, 0), thread.bitness()));
  const std::wstring& mask = Field(fields, 1);
  const std::wstring target = WithTrailingSlash(MapPath(Field(fields, 2), thread.bitness()));
  const bool move = !IsTrueFlag(Field(fields, 3));
  std::wstring newName = Field(fields, 5);
  if (HasWildcard(mask) || HasWildcard(newName)) newName.clear();
  if (!thread.delayed() && !thread.ReportProgress(L"$IGNORE$", kImmediateWeight)) return ActionResult::kAborted;

  std::vector<Match> matches;
  if (!mask.empty()) Collect(source, L"", mask, IsTrueFlag(Field(fields, 4)), matches);
  ActionResult outcome = ActionResult::kDone;
  for (const Match& match : matches) {
    const std::wstring from = source + match.subfolder + match.name;
    const std::wstring to = target + match.subfolder + (newName.empty() ? match.name : newName);
    const ActionResult result = PlaceActionFile(thread, from, to, {move, from + L" -> " + to});
    if (result == ActionResult::kAborted) return result;
    if (result == ActionResult::kFailed) outcome = result;
  }
  return outcome;
}

}  // namespace

const ActionKind kCopyMoveLocalFilesAction = {L"Copy/Move Local Files", ProgressText, Perform};

}  // namespace qv::native
