// The exported functions of zel.lib: argument checks, the per-thread error
// code, listing handles, and the translation of internal failures into
// GetLastArchiveError codes. No exception crosses this boundary.
#include "zel/zel.h"

#include "Extract.h"
#include "ItemPath.h"
#include "SevenZip.h"
#include "Update.h"

#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace zel {
namespace {

// The last code is kept per thread (operations may run on workers) and
// process-wide (for a caller asking from another thread than the one that
// failed). A thread that has run an operation gets its own code.
thread_local bool t_hasError = false;
thread_local uint32_t t_error = ZEL_OK;
std::atomic<uint32_t> g_error{ZEL_OK};

void SetError(uint32_t code) {
  t_hasError = true;
  t_error = code;
  g_error = code;
}

template <typename F>
BOOL Run(F&& body) {
  SetError(ZEL_OK);
  try {
    body();
    return TRUE;
  } catch (const Failure& f) {
    SetError(f.code);
  } catch (const std::bad_alloc&) {
    SetError(ZEL_E_OUT_OF_MEMORY);
  } catch (...) {
    SetError(ZEL_E_INTERNAL);
  }
  return FALSE;
}

std::vector<std::wstring> ReadSet(const TSZW_TARGETFILES* set) {
  std::vector<std::wstring> out;
  if (!set || set->Count == 0) return out;
  if (!set->Files) Fail(ZEL_E_INVALID_ARGUMENT);
  out.reserve(set->Count);
  for (uint32_t i = 0; i < set->Count; ++i) {
    if (!set->Files[i]) Fail(ZEL_E_INVALID_ARGUMENT);
    if (set->Files[i][0] != L'\0') out.emplace_back(set->Files[i]);
  }
  return out;
}

std::wstring RequiredPath(const wchar_t* path) {
  if (!path || !*path) Fail(ZEL_E_INVALID_ARGUMENT);
  std::wstring full = FullPath(path);
  if (full.empty()) Fail(ZEL_E_INVALID_ARGUMENT);
  return full;
}

// A listing: the items array and the strings its items point to.
struct Listing {
  std::vector<std::wstring> paths;
  std::vector<ZEL_LIST_ITEM> items;
};

std::mutex g_listingsLock;
std::unordered_set<Listing*> g_listings;

std::unique_ptr<Listing> MakeListing(const std::wstring& archive, PasswordSource& password) {
  OpenedArchive opened = OpenExisting(archive, password);
  auto listing = std::make_unique<Listing>();
  listing->paths.reserve(opened.count);
  listing->items.reserve(opened.count);
  for (UInt32 i = 0; i < opened.count; ++i) {
    const ItemInfo info = ReadItem(opened.archive.get(), i);
    listing->paths.push_back(NormalizeItemPath(info.path));
    ZEL_LIST_ITEM item{};
    item.Size = info.size;
    item.PackedSize = info.packedSize;
    item.Crc = info.crc;
    item.Flags = (info.isDir ? ZEL_ITEM_DIRECTORY : 0u) | (info.encrypted ? ZEL_ITEM_ENCRYPTED : 0u);
    if (info.hasModified) item.Modified = info.modified;
    item.Attributes = info.hasAttributes ? info.attributes : (info.isDir ? FILE_ATTRIBUTE_DIRECTORY : 0u);
    listing->items.push_back(item);
  }
  // Pointers only once the strings no longer move.
  for (size_t i = 0; i < listing->items.size(); ++i) listing->items[i].Path = listing->paths[i].c_str();
  return listing;
}

}  // namespace
}  // namespace zel

using namespace zel;

extern "C" {

// Unloading zel.lib at run time (not at process exit) also unloads the
// 7z.dll it loaded, so that a caller can remove both files afterwards. No
// archive object can be alive then: every operation releases its objects
// before returning.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) ReleaseSevenZip();
  return TRUE;
}

BOOL WINAPI Set7zipDllDirectory(const wchar_t* folder) {
  return Run([&] {
    if (!folder || !*folder) Fail(ZEL_E_INVALID_ARGUMENT);
    std::wstring full = FullPath(folder);
    // Only an absolute folder is accepted: a relative one would depend on the
    // current folder, which is exactly what loading by full path avoids.
    const std::wstring given(folder);
    const bool absolute = (given.size() >= 3 && given[1] == L':' && (given[2] == L'\\' || given[2] == L'/')) ||
                          given.rfind(L"\\\\", 0) == 0;
    if (full.empty() || !absolute) Fail(ZEL_E_INVALID_ARGUMENT);
    SetSevenZipFolder(std::move(full));
  });
}

BOOL WINAPI CreateArchive(const wchar_t* archive, uint32_t kind, const TSZW_TARGETFILES* files,
                          const TSZW_TARGETFILES* contentFiles, uint32_t mode, const wchar_t* switches,
                          const wchar_t* password, ZEL_FILE_CALLBACK fileCallback,
                          ZEL_PROGRESS_CALLBACK progressCallback, uintptr_t) {
  return Run([&] {
    CreateRequest request;
    request.archive = RequiredPath(archive);
    request.kind = kind;
    request.mode = mode;
    request.files = ReadSet(files);
    request.contentFiles = ReadSet(contentFiles);
    request.switches = switches ? switches : L"";
    PasswordSource source(password, nullptr);
    Reporter reporter(fileCallback, progressCallback);
    Create(request, source, reporter);
  });
}

BOOL WINAPI ExtractArchive(const wchar_t* archive, uint32_t, const wchar_t* destination,
                           const TSZW_TARGETFILES* items, uint32_t option, const wchar_t* password,
                           ZEL_PASSWORD_CALLBACK passwordCallback, ZEL_FILE_CALLBACK fileCallback,
                           ZEL_PROGRESS_CALLBACK progressCallback, ZEL_OVERWRITE_CALLBACK overwriteCallback) {
  return Run([&] {
    if (option > ZEL_EXTRACT_FLAT) Fail(ZEL_E_INVALID_ARGUMENT);
    ExtractRequest request;
    request.archive = RequiredPath(archive);
    request.destination = RequiredPath(destination);
    request.items = ReadSet(items);
    request.flat = option == ZEL_EXTRACT_FLAT;
    request.overwrite = overwriteCallback;
    PasswordSource source(password, passwordCallback);
    Reporter reporter(fileCallback, progressCallback);
    Extract(request, source, reporter);
  });
}

BOOL WINAPI TestArchive(const wchar_t* archive, uint32_t, const wchar_t*, const TSZW_TARGETFILES* items, uint32_t,
                        const wchar_t* password, ZEL_PASSWORD_CALLBACK passwordCallback,
                        ZEL_FILE_CALLBACK fileCallback) {
  return Run([&] {
    ExtractRequest request;
    request.archive = RequiredPath(archive);
    request.items = ReadSet(items);
    request.test = true;
    PasswordSource source(password, passwordCallback);
    Reporter reporter(fileCallback, nullptr);
    Extract(request, source, reporter);
  });
}

BOOL WINAPI DeleteFromArchive(const wchar_t* archive, uint32_t, const TSZW_TARGETFILES* items, uintptr_t, uintptr_t,
                              uintptr_t, const wchar_t* password, ZEL_PASSWORD_CALLBACK passwordCallback,
                              ZEL_FILE_CALLBACK fileCallback, ZEL_PROGRESS_CALLBACK progressCallback) {
  return Run([&] {
    DeleteRequest request;
    request.archive = RequiredPath(archive);
    request.items = ReadSet(items);
    PasswordSource source(password, passwordCallback);
    Reporter reporter(fileCallback, progressCallback);
    Delete(request, source, reporter);
  });
}

ZEL_LIST_HANDLE WINAPI OpenListArchive(const wchar_t* archive, uint32_t, ZEL_PASSWORD_CALLBACK passwordCallback,
                                       uintptr_t, uintptr_t, uintptr_t, const wchar_t* password,
                                       ZEL_LIST_ITEM** items, uint32_t* count) {
  Listing* result = nullptr;
  Run([&] {
    if (!items || !count) Fail(ZEL_E_INVALID_ARGUMENT);
    *items = nullptr;
    *count = 0;
    PasswordSource source(password, passwordCallback);
    std::unique_ptr<Listing> listing = MakeListing(RequiredPath(archive), source);
    {
      std::lock_guard lock(g_listingsLock);
      g_listings.insert(listing.get());
    }
    *items = listing->items.data();
    *count = static_cast<uint32_t>(listing->items.size());
    result = listing.release();
  });
  return result;
}

BOOL WINAPI CloseListArchive(ZEL_LIST_HANDLE handle) {
  return Run([&] {
    auto* listing = static_cast<Listing*>(handle);
    {
      std::lock_guard lock(g_listingsLock);
      if (!listing || g_listings.erase(listing) == 0) Fail(ZEL_E_INVALID_HANDLE);
    }
    delete listing;
  });
}

uint32_t WINAPI GetLastArchiveError(void) { return t_hasError ? t_error : g_error.load(); }

}  // extern "C"
