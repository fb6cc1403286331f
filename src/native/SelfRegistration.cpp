#include "native/SelfRegistration.h"

#include "common/Files.h"
#include "common/Handles.h"
#include "common/Text.h"

#include <objbase.h>
#include <ole2.h>

#include <cstring>
#include <memory>

namespace qv::native {

namespace {

bool HasExtension(std::wstring_view path, std::wstring_view extension) {
  const std::wstring name = FileNameOf(path);
  return name.size() >= extension.size() && EqualsNoCase(std::wstring_view(name).substr(name.size() - extension.size()), extension);
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (written == 0 || written >= needed) return path;
  full.resize(written);
  return full;
}

std::wstring CurrentFolder() {
  const DWORD needed = GetCurrentDirectoryW(0, nullptr);
  std::wstring folder(needed, L'\0');
  folder.resize(GetCurrentDirectoryW(needed, folder.data()));
  return folder;
}

UnRegisterTypeLibFn SystemUnRegisterTypeLib() {
  // The engine links OLEAUT32.DLL, so it is loaded; only the entry point may be missing.
  const HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll");
  return oleaut ? reinterpret_cast<UnRegisterTypeLibFn>(GetProcAddress(oleaut, "UnRegisterTypeLib")) : nullptr;
}

struct ComRelease {
  void operator()(IUnknown* object) const { object->Release(); }
};

bool RegisterTypeLibrary(const std::wstring& path, bool doRegister) {
  if (!FileExists(path)) return false;
  ITypeLib* loaded = nullptr;
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &loaded)) || !loaded) return false;
  const std::unique_ptr<ITypeLib, ComRelease> library(loaded);
  if (doRegister) {
    std::wstring helpFolder;
    BSTR helpFile = nullptr;
    if (SUCCEEDED(library->GetDocumentation(-1, nullptr, nullptr, nullptr, &helpFile)) && helpFile) {
      if (*helpFile) helpFolder = FolderOf(helpFile);
      SysFreeString(helpFile);
    }
    std::wstring fullPath = path;
    return SUCCEEDED(RegisterTypeLib(library.get(), fullPath.data(), helpFolder.empty() ? nullptr : helpFolder.data()));
  }
  TLIBATTR* attributes = nullptr;
  if (FAILED(library->GetLibAttr(&attributes)) || !attributes) return false;
  const TLIBATTR a = *attributes;
  library->ReleaseTLibAttr(attributes);
  const UnRegisterTypeLibFn unregister = FindUnRegisterTypeLib();
  return unregister && SUCCEEDED(unregister(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind));
}

bool CallEntryPoint(const std::wstring& path, bool doRegister) {
  // The library's own folder first for its dependencies, then the safe defaults.
  UniqueModule module(
      LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
  if (!module) return false;
  using EntryPoint = HRESULT(STDAPICALLTYPE*)();
  const auto entry = reinterpret_cast<EntryPoint>(
      GetProcAddress(module.get(), doRegister ? "DllRegisterServer" : "DllUnregisterServer"));
  return entry && entry() == S_OK;
}

// Waits for a process while serving the calling thread's messages, so that a
// thread with windows stays responsive.
void WaitServingMessages(HANDLE process) {
  for (;;) {
    const DWORD wait = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
    if (wait != WAIT_OBJECT_0 + 1) return;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

}  // namespace

UnRegisterTypeLibFn (*FindUnRegisterTypeLib)() = SystemUnRegisterTypeLib;

bool IsImage64(std::wstring_view path) {
  UniqueFile file(CreateFileW(std::wstring(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  unsigned char dos[64];
  DWORD got = 0;
  if (!ReadFile(file.get(), dos, sizeof(dos), &got, nullptr) || got != sizeof(dos) || dos[0] != 'M' || dos[1] != 'Z')
    return false;
  uint32_t offset = 0;
  std::memcpy(&offset, dos + 60, sizeof(offset));
  LARGE_INTEGER at;
  at.QuadPart = offset;
  unsigned char headers[248];
  if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
      !ReadFile(file.get(), headers, sizeof(headers), &got, nullptr) || got != sizeof(headers))
    return false;
  if (std::memcmp(headers, "PE\0\0", 4) != 0) return false;
  const unsigned machine = headers[4] | (headers[5] << 8);
  return machine != IMAGE_FILE_MACHINE_I386;
}

bool IsProgramFile(std::wstring_view path) { return HasExtension(path, L".exe"); }

bool RegisterLibrary(const std::wstring& path, bool doRegister) {
  try {
    const std::wstring full = FullPath(path);
    const HRESULT ole = OleInitialize(nullptr);
    ScopeGuard uninitialize([ole] {
      if (SUCCEEDED(ole)) OleUninitialize();
    });
    // Libraries that find their companions through the current folder find them.
    const std::wstring saved = CurrentFolder();
    SetCurrentDirectoryW(FolderOf(full).c_str());
    ScopeGuard restore([&saved] { SetCurrentDirectoryW(saved.c_str()); });
    if (HasExtension(full, L".tlb")) return RegisterTypeLibrary(full, doRegister);
    if (IsProgramFile(full)) return RegisterByProgram(full, doRegister);
    return CallEntryPoint(full, doRegister);
  } catch (...) {
    return false;
  }
}

bool RegisterByProgram(const std::wstring& path, bool doRegister, HANDLE* process) {
  // The program is named on its own and quoted on its command line, so that
  // a path with spaces can neither split nor start another program.
  std::wstring command = L"\"" + path + L"\" " + (doRegister ? L"/regserver" : L"/unregserver");
  const std::wstring folder = FolderOf(path);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &started))
    return false;
  CloseHandle(started.hThread);
  if (process)
    *process = started.hProcess;
  else
    CloseHandle(started.hProcess);
  return true;
}

std::wstring RegistrarPath(Bitness mode) {
  wchar_t folder[MAX_PATH] = {};
  UINT length = 0;
  if (mode == Bitness::Win32 && IsWindows64()) length = GetSystemWow64DirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return L"regsvr32.exe";
  return WithTrailingSlash(folder) + L"regsvr32.exe";
}

DWORD RunRegistrar(const std::wstring& path, bool doRegister) {
  // The library's own bitness picks the registrar, whatever the run's mode:
  // a 64-bit library placed by a "Win32" run still needs the 64-bit one.
  const Bitness mode = IsImage64(path) ? Bitness::X64 : Bitness::Win32;
  const BitnessScope scope(mode);
  const std::wstring registrar = RegistrarPath(mode);
  std::wstring command = L"\"" + registrar + L"\" \"" + path + L"\" " + (doRegister ? L"/s" : L"/u /s");
  const std::wstring folder = FolderOf(path);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(registrar.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &started))
    return GetLastError();
  UniqueHandle thread(started.hThread), process(started.hProcess);
  WaitServingMessages(process.get());
  return 0;
}

void UnregisterPlacedFile(const std::wstring& path) {
  if (!FileExists(path)) return;
  if (!IsProgramFile(path)) {
    RunRegistrar(path, false);
    return;
  }
  HANDLE started = nullptr;
  if (!RegisterByProgram(path, false, &started)) return;
  UniqueHandle process(started);
  WaitForSingleObject(process.get(), kUnregisterWaitMs);
}

void RegisterAtRestart(const std::wstring& registrar, const std::wstring& path, bool allUsers, Bitness mode) {
  GUID guid;
  wchar_t text[64] = {};
  if (FAILED(CoCreateGuid(&guid)) || StringFromGUID2(guid, text, 64) < 9) return;
  const std::wstring name = std::wstring(text).substr(1, 7);
  const std::wstring value =
      registrar.empty() ? L"\"" + path + L"\" /regserver" : registrar + L" \"" + path + L"\" /s";
  UniqueKey key;
  if (RegCreateKeyExW(allUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, std::wstring(kRunOnceKey).c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE | RegistryView(mode), nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace qv::native
