#include "ArchiveTestSupport.h"

#include <atomic>
#include <stdexcept>

namespace qvtest {

namespace {

std::wstring Extended(const std::wstring& path) { return L"\\\\?\\" + path; }

}  // namespace

Sandbox::Sandbox() {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0) throw std::runtime_error("GetTempPathW failed");
  std::wstring base(temp, n);
  if (base.back() != L'\\') base += L'\\';
  root_ = base + L"qv-archive-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + L"-" +
          std::to_wstring(GetTickCount64());
  MakeFolders(root_);
}

Sandbox::~Sandbox() { RemoveTree(root_); }

std::wstring Sandbox::Path(const std::wstring& relative) const { return root_ + L"\\" + relative; }

void RemoveTree(const std::wstring& path) {
  const std::wstring ext = Extended(path);
  const DWORD attributes = GetFileAttributesW(ext.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(ext.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileW(ext.c_str());
    return;
  }
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((ext + L"\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  RemoveDirectoryW(ext.c_str());
}

void MakeFolders(const std::wstring& path) {
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == L'\\') CreateDirectoryW(Extended(path.substr(0, i)).c_str(), nullptr);
  }
}

void WriteBytes(const std::wstring& path, const std::string& data) {
  MakeFolders(path.substr(0, path.find_last_of(L'\\')));
  HANDLE file = CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create a test file");
  DWORD written = 0;
  const BOOL ok = data.empty() || WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok || written != data.size()) throw std::runtime_error("cannot write a test file");
}

std::string ReadBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(Extended(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  LARGE_INTEGER size;
  GetFileSizeEx(file, &size);
  std::string data(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!data.empty()) ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &read, nullptr);
  CloseHandle(file);
  data.resize(read);
  return data;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(Extended(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string RandomBytes(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return out;
}

namespace {

void SnapshotInto(const std::wstring& folder, const std::wstring& prefix, Tree& tree) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((Extended(folder) + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring relative = prefix + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      tree[relative] = "<dir>";
      SnapshotInto(folder + L"\\" + name, relative + L"\\", tree);
    } else {
      tree[relative] = ReadBytes(folder + L"\\" + name);
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

}  // namespace

Tree Snapshot(const std::wstring& folder) {
  Tree tree;
  SnapshotInto(folder, L"", tree);
  return tree;
}

std::wstring OutputFolder() {
  std::wstring folder = QV_OUTPUT_DIR;
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return folder;
}

qv::ArchiveModule& Module() {
  static qv::ArchiveModule module = qv::ArchiveModule::Load(OutputFolder());
  return module;
}

}  // namespace qvtest
