// Self-registration and shared counts: the mechanisms behind the
// "Register Library" statement, the registration and counting steps of
// "Install Files", and their undo actions. A library registers in-process
// through its entry points ("Register Library") or through the system's
// registrar regsvr32.exe (file placement and undo); a program registers by
// running itself with /regserver; a type library through the type library
// calls. A file that can only be placed at the next restart registers from
// a run-once value.
#pragma once

#include "native/Bitness.h"

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <string_view>

namespace qv::native {

// The key under HKEY_LOCAL_MACHINE whose values count the products that
// share a file, one value named by each file's full path.
inline constexpr std::wstring_view kSharedDllsKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
inline constexpr std::wstring_view kRunOnceKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// True when the file is a PE image for another machine than 32-bit x86.
// An unreadable, truncated or non-PE file answers false.
bool IsImage64(std::wstring_view path);

// True for a ".exe" (case ignored): it registers itself by its switches.
bool IsProgramFile(std::wstring_view path);

// Registers (or unregisters) one file at once, in this process: ".tlb"
// through the type library calls, ".exe" by RegisterByProgram, anything
// else through its DllRegisterServer (DllUnregisterServer) entry point.
// True on success; every failure, also an exception, is false.
bool RegisterLibrary(const std::wstring& path, bool doRegister);

// Starts the program with " /regserver" (" /unregserver"); true when it was
// started. `process` receives its handle when given (for a caller that
// wants to wait), otherwise the program runs on its own.
bool RegisterByProgram(const std::wstring& path, bool doRegister, HANDLE* process = nullptr);

// The system registrar as a library of the given bitness sees it: the
// native system folder's regsvr32.exe for "x64" and "ia64", the 32-bit
// system folder's for "Win32" on a 64-bit Windows. A 32-bit engine reaches
// the native one only inside the mode's BitnessScope.
std::wstring RegistrarPath(Bitness mode);

// Runs the registrar for a library (never a program) in the library's own
// bitness, hidden, in the library's folder, with "/s" (or "/u /s"), and
// waits for it, serving the calling thread's messages meanwhile. Its exit
// code says nothing reliable and is ignored: the result is 0, or the Win32
// error code when it could not be started.
DWORD RunRegistrar(const std::wstring& path, bool doRegister);

// Takes back the registration of a placed file before it is removed: a
// library through the registrar, a program through its /unregserver switch.
// The program is waited for (up to kUnregisterWaitMs), as a program still
// running cannot be deleted after it. A missing file has nothing to undo.
inline constexpr DWORD kUnregisterWaitMs = 60000;
void UnregisterPlacedFile(const std::wstring& path);

// Registers at the next logon: a run-once value under HKEY_LOCAL_MACHINE
// (`allUsers`) or HKEY_CURRENT_USER, in the mode's registry view, named by
// characters 2 to 8 of a fresh GUID text. With a registrar the value runs
// it on the quoted file with "/s"; with an empty registrar the quoted
// program with " /regserver". Failures are ignored.
void RegisterAtRestart(const std::wstring& registrar, const std::wstring& path, bool allUsers, Bitness mode);

// The seam of the type library removal: the "UnRegisterTypeLib" entry point
// of the system's OLEAUT32.DLL, or nullptr where the system lacks it. Tests
// may point it elsewhere; RegisterLibrary then reports failure.
using UnRegisterTypeLibFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
extern UnRegisterTypeLibFn (*FindUnRegisterTypeLib)();

}  // namespace qv::native
