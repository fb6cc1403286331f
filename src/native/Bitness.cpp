#include "native/Bitness.h"

#include "common/Files.h"
#include "common/Text.h"

namespace qv::native {

std::wstring_view BitnessText(Bitness mode) {
  switch (mode) {
    case Bitness::X64: return L"x64";
    case Bitness::Ia64: return L"ia64";
    case Bitness::Win32: break;
  }
  return L"Win32";
}

Bitness ParseBitness(std::wstring_view text) {
  if (EqualsNoCase(text, L"x64")) return Bitness::X64;
  if (EqualsNoCase(text, L"ia64")) return Bitness::Ia64;
  return Bitness::Win32;
}

namespace {

bool IsWow64Process32() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace

bool IsWindows64() {
  if constexpr (sizeof(void*) == 8) return true;
  static const bool wow64 = IsWow64Process32();
  return wow64;
}

REGSAM RegistryView(Bitness mode) {
  if (!IsWindows64()) return 0;
  return mode == Bitness::Win32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

std::wstring MapPath(std::wstring_view path, Bitness mode) {
  if constexpr (sizeof(void*) == 8) {
    if (mode == Bitness::Win32) {
      wchar_t system[MAX_PATH], system32[MAX_PATH];
      const UINT a = GetSystemDirectoryW(system, MAX_PATH);
      const UINT b = GetSystemWow64DirectoryW(system32, MAX_PATH);
      if (a && a < MAX_PATH && b && b < MAX_PATH) {
        const std::wstring from = WithTrailingSlash(system), to = WithTrailingSlash(system32);
        const std::wstring whole(path);
        if (EqualsNoCase(WithTrailingSlash(whole), from)) return to.substr(0, to.size() - 1);
        if (StartsWithNoCase(whole, from)) return to + whole.substr(from.size());
      }
    }
  }
  return std::wstring(path);
}

BitnessScope::BitnessScope(Bitness mode) {
  if constexpr (sizeof(void*) == 4) {
    if (mode != Bitness::Win32 && IsWindows64()) disabled_ = Wow64DisableWow64FsRedirection(&redirection_);
  } else {
    (void)mode;
  }
}

BitnessScope::~BitnessScope() {
  if (disabled_) Wow64RevertWow64FsRedirection(redirection_);
}

}  // namespace qv::native
