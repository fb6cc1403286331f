// Client of zel.lib. The module is loaded by full path only, with the DLL
// search limited to its own folder and System32, so that no other zel.lib or
// 7z.dll can be slipped in through the current folder or PATH.
#include "media/ArchiveModule.h"

#include <atomic>
#include <mutex>

#include "common/Error.h"

namespace qv {
namespace {

// The module's callbacks are plain functions; the one operation at a time
// that reports progress publishes its handler here.
std::mutex g_progressLock;
std::atomic<const ArchiveModule::Progress*> g_progress{nullptr};

BOOL WINAPI OnFile(const wchar_t* item, uint64_t done, uint64_t total) {
  const ArchiveModule::Progress* progress = g_progress.load();
  if (!progress) return TRUE;
  try {
    return (*progress)(item ? item : L"", done, total) ? TRUE : FALSE;
  } catch (...) {
    return FALSE;  // an exception must not unwind through the module
  }
}

uint32_t WINAPI ReplaceExisting(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                uint32_t, uint32_t) {
  return ZEL_OVERWRITE_REPLACE_ALL;
}

uint32_t WINAPI KeepExisting(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                             uint32_t, uint32_t) {
  return ZEL_OVERWRITE_SKIP;
}

// Publishes a progress handler for the duration of one call.
class ProgressScope {
public:
  explicit ProgressScope(const ArchiveModule::Progress& progress) {
    if (!progress) return;
    lock_ = std::unique_lock(g_progressLock);
    g_progress = &progress;
  }
  ~ProgressScope() {
    if (lock_.owns_lock()) g_progress = nullptr;
  }
  ZEL_FILE_CALLBACK callback() const { return lock_.owns_lock() ? &OnFile : nullptr; }

private:
  std::unique_lock<std::mutex> lock_;
};

// A file set viewing the caller's strings for the duration of one call.
class FileSet {
public:
  explicit FileSet(const std::vector<std::wstring>& paths) {
    pointers_.reserve(paths.size());
    for (const auto& p : paths) pointers_.push_back(const_cast<wchar_t*>(p.c_str()));
    set_.Files = pointers_.data();
    set_.Count = static_cast<uint32_t>(pointers_.size());
  }
  const TSZW_TARGETFILES* get() const { return set_.Count ? &set_ : nullptr; }

private:
  std::vector<wchar_t*> pointers_;
  TSZW_TARGETFILES set_{};
};

template <typename T>
void Resolve(HMODULE module, const char* name, T& out, const std::wstring& path) {
  out = reinterpret_cast<T>(GetProcAddress(module, name));
  if (!out) {
    throw Error(L"The archive module " + path + L" lacks the function " + std::wstring(name, name + strlen(name)),
                ERROR_PROC_NOT_FOUND);
  }
}

const wchar_t* OrNull(const std::wstring& s) { return s.empty() ? nullptr : s.c_str(); }

}  // namespace

ArchiveModule ArchiveModule::Load(const std::wstring& folder) {
  std::wstring base = folder;
  while (!base.empty() && (base.back() == L'\\' || base.back() == L'/')) base.pop_back();
  const std::wstring path = base + L"\\zel.lib";

  ArchiveModule m;
  m.module_.reset(LoadLibraryExW(path.c_str(), nullptr,
                                 LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!m.module_ && GetLastError() == ERROR_INVALID_PARAMETER) {
    // Windows 7 without the safe-search update: the full path still pins the module.
    m.module_.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  }
  if (!m.module_) ThrowLastError(L"Cannot load the archive module " + path);

  HMODULE h = m.module_.get();
  Resolve(h, "Set7zipDllDirectory", m.api_.set7zipDllDirectory, path);
  Resolve(h, "CreateArchive", m.api_.createArchive, path);
  Resolve(h, "ExtractArchive", m.api_.extractArchive, path);
  Resolve(h, "TestArchive", m.api_.testArchive, path);
  Resolve(h, "DeleteFromArchive", m.api_.deleteFromArchive, path);
  Resolve(h, "OpenListArchive", m.api_.openListArchive, path);
  Resolve(h, "CloseListArchive", m.api_.closeListArchive, path);
  Resolve(h, "GetLastArchiveError", m.api_.getLastArchiveError, path);

  if (!m.api_.set7zipDllDirectory((base.size() == 2 ? base + L"\\" : base).c_str())) {
    throw Error(L"The archive module rejected the folder " + base, m.api_.getLastArchiveError());
  }
  return m;
}

bool ArchiveModule::Finish(BOOL ok) {
  lastError_ = ok ? 0 : api_.getLastArchiveError();
  if (!ok && lastError_ == 0) lastError_ = ZEL_E_INTERNAL;
  return ok != FALSE;
}

bool ArchiveModule::ExtractAll(const std::wstring& archive, const std::wstring& destination,
                               const std::wstring& password, bool overwrite, const Progress& progress) {
  return Extract(archive, destination, {}, password, overwrite, false, progress);
}

bool ArchiveModule::Extract(const std::wstring& archive, const std::wstring& destination,
                            const std::vector<std::wstring>& items, const std::wstring& password, bool overwrite,
                            bool flat, const Progress& progress) {
  ProgressScope scope(progress);
  FileSet set(items);
  return Finish(api_.extractArchive(archive.c_str(), 1, destination.c_str(), set.get(),
                                    flat ? ZEL_EXTRACT_FLAT : ZEL_EXTRACT_FULL_PATHS, OrNull(password), nullptr,
                                    scope.callback(), nullptr, overwrite ? &ReplaceExisting : &KeepExisting));
}

bool ArchiveModule::CreateFromFolder(const std::wstring& archive, const std::wstring& folder,
                                     const std::wstring& password, bool encryptHeaders, const std::wstring& switches,
                                     const Progress& progress) {
  std::wstring base = folder;
  while (base.size() > 3 && (base.back() == L'\\' || base.back() == L'/')) base.pop_back();
  if (!base.empty() && base.back() != L'\\') base += L'\\';
  std::wstring text = switches;
  if (encryptHeaders && !password.empty()) text = L"-mhe=on " + text;
  return Create(archive, {}, {base + L"*"}, ZEL_KIND_7Z, ZEL_MODE_NEW, text, password, progress);
}

bool ArchiveModule::Create(const std::wstring& archive, const std::vector<std::wstring>& files,
                           const std::vector<std::wstring>& contentFiles, uint32_t kind, uint32_t mode,
                           const std::wstring& switches, const std::wstring& password, const Progress& progress) {
  ProgressScope scope(progress);
  FileSet first(files);
  FileSet second(contentFiles);
  return Finish(api_.createArchive(archive.c_str(), kind, first.get(), second.get(), mode, switches.c_str(),
                                   OrNull(password), scope.callback(), nullptr, 0));
}

bool ArchiveModule::Test(const std::wstring& archive, const std::wstring& password, const Progress& progress) {
  ProgressScope scope(progress);
  return Finish(api_.testArchive(archive.c_str(), 0, nullptr, nullptr, 0, OrNull(password), nullptr,
                                 scope.callback()));
}

bool ArchiveModule::Delete(const std::wstring& archive, const std::vector<std::wstring>& items,
                           const std::wstring& password, const Progress& progress) {
  ProgressScope scope(progress);
  FileSet set(items);
  return Finish(api_.deleteFromArchive(archive.c_str(), 1, set.get(), 0, 0, 0, OrNull(password), nullptr,
                                       scope.callback(), nullptr));
}

std::optional<std::vector<ArchiveEntry>> ArchiveModule::List(const std::wstring& archive,
                                                             const std::wstring& password) {
  ZEL_LIST_ITEM* items = nullptr;
  uint32_t count = 0;
  ZEL_LIST_HANDLE handle =
      api_.openListArchive(archive.c_str(), 0, nullptr, 0, 0, 0, OrNull(password), &items, &count);
  if (!Finish(handle != nullptr)) return std::nullopt;
  std::vector<ArchiveEntry> entries;
  try {
    entries.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
      const ZEL_LIST_ITEM& item = items[i];
      ArchiveEntry e;
      e.path = item.Path ? item.Path : L"";
      e.size = item.Size;
      e.packedSize = item.PackedSize;
      e.modified = item.Modified;
      e.attributes = item.Attributes;
      e.crc = item.Crc;
      e.isDirectory = (item.Flags & ZEL_ITEM_DIRECTORY) != 0;
      e.encrypted = (item.Flags & ZEL_ITEM_ENCRYPTED) != 0;
      entries.push_back(std::move(e));
    }
  } catch (...) {
    api_.closeListArchive(handle);
    throw;
  }
  api_.closeListArchive(handle);
  return entries;
}

}  // namespace qv
