#include "common/Files.h"

#include "common/Error.h"
#include "common/Handles.h"

#include <algorithm>
#include <vector>

namespace qv {

std::wstring ModulePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) ThrowLastError(L"GetModuleFileName");
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring FolderOf(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, slash + 1));
}

std::wstring FileNameOf(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"\\/:");
  return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

std::wstring BaseNameOf(std::wstring_view path) {
  std::wstring name = FileNameOf(path);
  const size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.resize(dot);
  return name;
}

std::wstring WithTrailingSlash(std::wstring_view folder) {
  std::wstring result(folder);
  if (result.empty() || result.back() != L'\\') result += L'\\';
  return result;
}

std::wstring LongPathForm(std::wstring_view path) {
  if (path.starts_with(L"\\\\?\\")) return std::wstring(path);
  if (path.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + std::wstring(path.substr(2));
  if (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) {
    std::wstring result = L"\\\\?\\" + std::wstring(path);
    for (auto& c : result)
      if (c == L'/') c = L'\\';
    return result;
  }
  return std::wstring(path);
}

std::wstring TemporaryFolder() {
  wchar_t shortPath[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, shortPath);
  if (length == 0 || length > MAX_PATH) ThrowLastError(L"GetTempPath");
  CreateFolders(shortPath);
  std::wstring longPath(32768, L'\0');
  const DWORD longLength = GetLongPathNameW(shortPath, longPath.data(), static_cast<DWORD>(longPath.size()));
  if (longLength == 0 || longLength >= longPath.size()) return WithTrailingSlash(shortPath);
  longPath.resize(longLength);
  return WithTrailingSlash(longPath);
}

bool FileExists(std::wstring_view path) {
  const DWORD attributes = GetFileAttributesW(std::wstring(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(std::wstring_view path) {
  const DWORD attributes = GetFileAttributesW(std::wstring(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

uint64_t FileSize(std::wstring_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(std::wstring(path).c_str(), GetFileExInfoStandard, &data))
    ThrowLastError(L"Cannot read the size of " + std::wstring(path));
  return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

std::string ReadWholeFile(std::wstring_view path) {
  UniqueFile file(CreateFileW(std::wstring(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) ThrowLastError(L"Cannot open " + std::wstring(path));
  LARGE_INTEGER size;
  CheckWin32(GetFileSizeEx(file.get(), &size), L"Cannot read the size of " + std::wstring(path));
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
    CheckWin32(ReadFile(file.get(), bytes.data() + done, chunk, &read, nullptr), L"Cannot read " + std::wstring(path));
    if (read == 0) break;
    done += read;
  }
  bytes.resize(done);
  return bytes;
}

void WriteWholeFile(std::wstring_view path, std::string_view bytes) {
  UniqueFile file(CreateFileW(std::wstring(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) ThrowLastError(L"Cannot create " + std::wstring(path));
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
    CheckWin32(WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr),
               L"Cannot write " + std::wstring(path));
    done += written;
  }
}

namespace {

void DeleteContents(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + name;
    const bool isFolder = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    const bool isLink = data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
      SetFileAttributesW(path.c_str(), data.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
    if (isFolder && !isLink) {
      DeleteContents(path + L"\\");
      RemoveDirectoryW(path.c_str());
    } else if (isFolder) {
      RemoveDirectoryW(path.c_str());  // a junction or folder link: remove the link only
    } else {
      DeleteFileW(path.c_str());
    }
  } while (FindNextFileW(find.get(), &data));
}

}  // namespace

void RemoveTree(std::wstring_view folder, int passes) {
  const std::wstring root = WithTrailingSlash(LongPathForm(folder));
  const DWORD attributes = GetFileAttributesW(root.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    for (int pass = 0; pass < passes; ++pass) DeleteContents(root);
  RemoveDirectoryW(root.c_str());
}

bool CreateFolders(std::wstring_view folder) {
  std::wstring path(folder);
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  if (path.empty() || FolderExists(path)) return true;
  const size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos && slash > 0 && path[slash - 1] != L':' && !CreateFolders(path.substr(0, slash)))
    return false;
  // A file of that name is not the folder asked for.
  return CreateDirectoryW(path.c_str(), nullptr) || FolderExists(path);
}

}  // namespace qv
