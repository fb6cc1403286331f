#include "builder/InstallData.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"

#include <windows.h>

namespace qv::build {

namespace {

// Files matching `mask` in folder + below (relative, with trailing "\" or
// empty), recursing into subfolders when asked.
void Collect(const std::wstring& folder, const std::wstring& below, const std::wstring& mask, bool recurse,
             std::vector<std::wstring>& found) {
  WIN32_FIND_DATAW data;
  if (UniqueFind find(FindFirstFileW((folder + below + mask).c_str(), &data)); find) {
    do
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) found.push_back(below + data.cFileName);
    while (FindNextFileW(find.get(), &data));
  }
  if (!recurse) return;
  if (UniqueFind find(FindFirstFileW((folder + below + L"*").c_str(), &data)); find) {
    do {
      const std::wstring name = data.cFileName;
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
          name != L"." && name != L"..")
        Collect(folder, below + name + L"\\", mask, true, found);
    } while (FindNextFileW(find.get(), &data));
  }
}

bool IsAbsolute(const std::wstring& path) {
  return (path.size() >= 2 && path[1] == L':') || path.starts_with(L"\\\\");
}

}  // namespace

InstallData PlanInstallData(Script& script, const std::wstring& sourceFolder, std::vector<SourceError>& errors) {
  InstallData plan;
  for (size_t row = 0; row < script.StatementCount(); ++row) {
    if (script.names[row] != L"Install Files" || script.IsCommentedOut(row)) continue;
    std::wstring source = script.Parameter(row, 1);
    for (wchar_t& c : source)
      if (c == L'/') c = L'\\';
    if (!IsAbsolute(source)) source = WithTrailingSlash(sourceFolder) + source;
    const std::wstring flag = script.Parameter(row, 2);
    const bool recurse = EqualsNoCase(flag, L"TRUE") || flag == L"-1";
    std::wstring folder = WithTrailingSlash(source), mask = L"*";
    if (!FolderExists(source)) {
      folder = FolderOf(source);
      mask = FileNameOf(source);
    }
    std::vector<std::wstring> files;
    Collect(folder, L"", mask, recurse, files);
    if (files.empty()) {
      errors.push_back({L"", 0, L"\"Install Files\" in row " + std::to_wstring(row + 1) + L": no files match " + source});
      continue;
    }
    const std::wstring header = L"F" + std::to_wstring(row);
    script.headers.push_back(std::to_wstring(row));
    script.headers.push_back(header);
    script.fileTable.push_back(header);
    script.fileTable.push_back(L"NEWHEADER");
    for (const std::wstring& relative : files) {
      const std::wstring stored = header + L"\\" + relative;
      std::wstring companion = FolderOf(relative);
      if (!companion.empty()) companion.pop_back();
      script.fileTable.push_back(stored);
      script.fileTable.push_back(companion);
      plan.copies.emplace_back(folder + relative, stored);
      plan.bytes += FileSize(folder + relative);
    }
  }
  script.nativeProgressMax = static_cast<int64_t>(plan.bytes);
  return plan;
}

void WriteInstallData(const InstallData& data, const std::wstring& outputFolder) {
  const std::wstring root = WithTrailingSlash(outputFolder) + L"data\\";
  RemoveTree(root);  // no files of an earlier build stay behind
  for (const auto& [from, stored] : data.copies) {
    const std::wstring to = root + stored;
    if (!CreateFolders(FolderOf(to))) ThrowLastError(L"Creating " + FolderOf(to));
    CheckWin32(CopyFileW(from.c_str(), to.c_str(), FALSE), L"Copying " + from);
  }
}

}  // namespace qv::build
