#include "native/FileCopy.h"

#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"

#include <cwctype>
#include <vector>

namespace qv::native {

namespace {

// The first free name of the form base + n + suffix.
std::wstring FreeName(const std::wstring& base, const wchar_t* suffix) {
  for (unsigned n = 0;; ++n) {
    std::wstring name = base + std::to_wstring(n) + suffix;
    if (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES) return name;
  }
}

}  // namespace

bool SameDrive(std::wstring_view a, std::wstring_view b) {
  return a.size() >= 2 && b.size() >= 2 && a[1] == L':' && b[1] == L':' && std::towupper(a[0]) == std::towupper(b[0]);
}

DWORD CopyFileContents(std::wstring_view source, std::wstring_view to, const CopyReport& report) {
  UniqueFile in(CreateFileW(std::wstring(source).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!in) return GetLastError();
  const std::wstring target(to);
  UniqueFile out(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return GetLastError();
  DWORD error = 0;
  std::vector<char> buffer(kCopyChunk);
  for (;;) {
    DWORD read = 0, written = 0;
    if (!ReadFile(in.get(), buffer.data(), kCopyChunk, &read, nullptr)) {
      error = GetLastError();
      break;
    }
    if (read == 0) break;
    if (!WriteFile(out.get(), buffer.data(), read, &written, nullptr) || written != read) {
      error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
      break;
    }
    if (report && !report(read)) {
      error = ERROR_CANCELLED;
      break;
    }
  }
  if (!error) {
    // The copy keeps the source's modification time, so later overwrite
    // decisions compare the product's dates, not the install time.
    FILETIME created, accessed, modified;
    if (GetFileTime(in.get(), &created, &accessed, &modified)) SetFileTime(out.get(), &created, &accessed, &modified);
  }
  out.reset();
  if (error) DeleteFileW(target.c_str());
  return error;
}

Placement PlaceFile(std::wstring_view source, std::wstring_view target, bool hardLink, const CopyReport& report) {
  const std::wstring to(target);
  Placement placement;
  // The new content goes to a fresh name beside the target first: nothing
  // of the old file is touched until the new one is complete.
  const std::wstring fresh = FreeName(FolderOf(to) + L"~qv", L".new");
  if (hardLink && SameDrive(source, to) && CreateHardLinkW(fresh.c_str(), std::wstring(source).c_str(), nullptr)) {
    if (report && !report(FileSize(fresh))) {
      DeleteFileW(fresh.c_str());
      placement.error = ERROR_CANCELLED;
      return placement;
    }
  } else if (DWORD error = CopyFileContents(source, fresh, report)) {
    placement.error = error;
    return placement;
  }
  SetFileAttributesW(fresh.c_str(), FILE_ATTRIBUTE_NORMAL);

  const DWORD oldAttributes = GetFileAttributesW(to.c_str());
  const bool existed = oldAttributes != INVALID_FILE_ATTRIBUTES;
  if (existed) SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (MoveFileExW(fresh.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return placement;
  DWORD error = GetLastError();

  if (existed) {
    // In use: move the old file aside, put the new one in its place, and
    // let the next restart remove the old one.
    const std::wstring aside = FreeName(to + L".", L"");
    if (MoveFileExW(to.c_str(), aside.c_str(), 0)) {
      if (MoveFileExW(fresh.c_str(), to.c_str(), 0)) {
        MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        placement.movedAside = true;
        return placement;
      }
      error = GetLastError();
      MoveFileExW(aside.c_str(), to.c_str(), 0);
    }
    // Not even movable: the fresh file replaces it at the next restart.
    if (MoveFileExW(fresh.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
      SetFileAttributesW(to.c_str(), oldAttributes);
      placement.atRestart = true;
      return placement;
    }
    error = GetLastError();
    SetFileAttributesW(to.c_str(), oldAttributes);
  }
  DeleteFileW(fresh.c_str());
  placement.error = error ? error : ERROR_GEN_FAILURE;
  return placement;
}

}  // namespace qv::native
