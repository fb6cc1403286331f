// Loading 7z.dll and the small pieces of COM plumbing the module needs.
//
// 7z.dll is loaded by full path only, never through the DLL search path: a
// planted 7z.dll in the current or a user-writable folder must not run.

// The interface IDs of 7-Zip are defined (not just declared) in this file.
#include <windows.h>
#define INITGUID
#include "SevenZip.h"

#include <mutex>
#include <vector>

namespace zel {

template <> const IID& IidOf<ISequentialInStream>() { return IID_ISequentialInStream; }
template <> const IID& IidOf<IInStream>() { return IID_IInStream; }
template <> const IID& IidOf<IStreamGetSize>() { return IID_IStreamGetSize; }
template <> const IID& IidOf<ISequentialOutStream>() { return IID_ISequentialOutStream; }
template <> const IID& IidOf<IOutStream>() { return IID_IOutStream; }
template <> const IID& IidOf<IProgress>() { return IID_IProgress; }
template <> const IID& IidOf<IArchiveOpenCallback>() { return IID_IArchiveOpenCallback; }
template <> const IID& IidOf<IArchiveExtractCallback>() { return IID_IArchiveExtractCallback; }
template <> const IID& IidOf<IArchiveUpdateCallback>() { return IID_IArchiveUpdateCallback; }
template <> const IID& IidOf<ICryptoGetTextPassword>() { return IID_ICryptoGetTextPassword; }
template <> const IID& IidOf<ICryptoGetTextPassword2>() { return IID_ICryptoGetTextPassword2; }
template <> const IID& IidOf<IInArchive>() { return IID_IInArchive; }
template <> const IID& IidOf<IOutArchive>() { return IID_IOutArchive; }
template <> const IID& IidOf<ISetProperties>() { return IID_ISetProperties; }

namespace {

// {23170F69-40C1-278A-1000-000110070000}: the 7z format handler.
const GUID kClsid7z = {0x23170F69, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x10, 0x07, 0x00, 0x00}};

using CreateObjectFn = HRESULT(WINAPI*)(const GUID* clsid, const GUID* iid, void** out);

std::mutex g_lock;
std::wstring g_folder;          // empty: zel.lib's own folder
std::vector<HMODULE> g_modules; // every 7z.dll loaded, released when zel.lib is unloaded
std::wstring g_moduleFolder;    // the folder it was loaded from
CreateObjectFn g_createObject = nullptr;

std::wstring OwnFolder() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&OwnFolder), &self)) {
    return {};
  }
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool IsAbsolute(const std::wstring& path) {
  return (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) ||
         (path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/'));
}

HMODULE LoadByFullPath(const std::wstring& file) {
  // Our 7z.dll imports only system DLLs; restricting the search keeps any
  // dependency out of the current folder and PATH as well.
  HMODULE module = LoadLibraryExW(file.c_str(), nullptr,
                                  LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {
    // Windows 7 without KB2533623 lacks the flags; a full path still pins the DLL itself.
    module = LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  return module;
}

CreateObjectFn CreateObjectLocked() {
  std::wstring folder = g_folder.empty() ? OwnFolder() : g_folder;
  if (g_createObject && folder == g_moduleFolder) return g_createObject;
  if (folder.empty() || !IsAbsolute(folder)) Fail(ZEL_E_NO_7ZIP);
  if (folder.back() == L'\\' || folder.back() == L'/') folder.pop_back();
  HMODULE module = LoadByFullPath(folder + L"\\7z.dll");
  if (!module) Fail(ZEL_E_NO_7ZIP);
  auto create = reinterpret_cast<CreateObjectFn>(GetProcAddress(module, "CreateObject"));
  if (!create) {
    FreeLibrary(module);
    Fail(ZEL_E_NO_7ZIP);
  }
  // An earlier 7z.dll from another folder stays loaded: objects made from it
  // may still be alive on other threads.
  g_modules.push_back(module);
  g_moduleFolder = folder;
  g_createObject = create;
  return create;
}

template <typename I>
ComPtr<I> NewHandlerObject() {
  CreateObjectFn create;
  {
    std::lock_guard lock(g_lock);
    create = CreateObjectLocked();
  }
  ComPtr<I> object;
  const HRESULT hr = create(&kClsid7z, &IidOf<I>(), object.putVoid());
  if (hr == E_OUTOFMEMORY) Fail(ZEL_E_OUT_OF_MEMORY);
  if (hr != S_OK || !object) Fail(ZEL_E_NO_7ZIP);
  return object;
}

}  // namespace

void SetSevenZipFolder(std::wstring folder) {
  std::lock_guard lock(g_lock);
  while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  g_folder = std::move(folder);
}

std::wstring SevenZipFolder() {
  std::lock_guard lock(g_lock);
  return g_folder.empty() ? OwnFolder() : g_folder;
}

void ReleaseSevenZip() {
  std::lock_guard lock(g_lock);
  for (HMODULE m : g_modules) FreeLibrary(m);
  g_modules.clear();
  g_createObject = nullptr;
  g_moduleFolder.clear();
}

ComPtr<IInArchive> NewInArchive() { return NewHandlerObject<IInArchive>(); }
ComPtr<IOutArchive> NewOutArchive() { return NewHandlerObject<IOutArchive>(); }

uint32_t CodeFromHresult(HRESULT hr, uint32_t otherwise) {
  switch (hr) {
    case S_OK: return ZEL_OK;
    case E_OUTOFMEMORY: return ZEL_E_OUT_OF_MEMORY;
    case E_ABORT: return ZEL_E_CANCELLED;
    case E_NOTIMPL: return ZEL_E_UNSUPPORTED_METHOD;
    default: break;
  }
  if (HRESULT_FACILITY(hr) == FACILITY_WIN32) {
    const DWORD win32 = HRESULT_CODE(hr);
    if (win32 == ERROR_NOT_ENOUGH_MEMORY || win32 == ERROR_OUTOFMEMORY) return ZEL_E_OUT_OF_MEMORY;
    if (win32 == ERROR_DISK_FULL || win32 == ERROR_HANDLE_DISK_FULL) return ZEL_E_WRITE_FILE;
  }
  return otherwise;
}

void PropVariant::Clear() {
  // VT_BSTR and the plain scalars are all 7-Zip hands out; VariantClear
  // frees a BSTR and resets the rest.
  VariantClear(reinterpret_cast<VARIANTARG*>(&v_));
  v_.vt = VT_EMPTY;
}

std::optional<std::wstring> PropVariant::String() const {
  if (v_.vt != VT_BSTR || !v_.bstrVal) return std::nullopt;
  return std::wstring(v_.bstrVal, SysStringLen(v_.bstrVal));
}

std::optional<uint64_t> PropVariant::Unsigned() const {
  switch (v_.vt) {
    case VT_UI1: return v_.bVal;
    case VT_UI2: return v_.uiVal;
    case VT_UI4: return v_.ulVal;
    case VT_UI8: return v_.uhVal.QuadPart;
    case VT_I4: return v_.lVal < 0 ? std::nullopt : std::optional<uint64_t>(static_cast<uint64_t>(v_.lVal));
    case VT_I8:
      return v_.hVal.QuadPart < 0 ? std::nullopt : std::optional<uint64_t>(static_cast<uint64_t>(v_.hVal.QuadPart));
    default: return std::nullopt;
  }
}

std::optional<bool> PropVariant::Bool() const {
  if (v_.vt != VT_BOOL) return std::nullopt;
  return v_.boolVal != VARIANT_FALSE;
}

std::optional<FILETIME> PropVariant::Time() const {
  if (v_.vt != VT_FILETIME) return std::nullopt;
  return v_.filetime;
}

HRESULT StringToBstr(std::wstring_view text, BSTR* out) {
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetString(PROPVARIANT* value, std::wstring_view text) {
  BSTR b = nullptr;
  const HRESULT hr = StringToBstr(text, &b);
  if (hr != S_OK) return hr;
  value->vt = VT_BSTR;
  value->bstrVal = b;
  return S_OK;
}

void SetBool(PROPVARIANT* value, bool b) {
  value->vt = VT_BOOL;
  value->boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
}

void SetUInt32(PROPVARIANT* value, uint32_t n) {
  value->vt = VT_UI4;
  value->ulVal = n;
}

void SetUInt64(PROPVARIANT* value, uint64_t n) {
  value->vt = VT_UI8;
  value->uhVal.QuadPart = n;
}

void SetTime(PROPVARIANT* value, const FILETIME& t) {
  value->vt = VT_FILETIME;
  value->filetime = t;
}

}  // namespace zel
