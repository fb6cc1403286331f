// The bitness mode of install actions: "Win32", "x64" or "ia64", chosen by
// "Set 64 Bit Mode", stored with every queued record and log entry, and put
// in force around each action. "Win32" works as a 32-bit installer would on
// a 64-bit Windows: the 32-bit registry view and the 32-bit system folder;
// the other modes use the native views.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace qv::native {

enum class Bitness { Win32, X64, Ia64 };

std::wstring_view BitnessText(Bitness mode);
// Unknown texts read as "Win32", the mode a run starts in.
Bitness ParseBitness(std::wstring_view text);

// True when Windows itself is 64-bit (also when this process is 32-bit).
bool IsWindows64();

// Registry access flag for the mode: KEY_WOW64_32KEY or KEY_WOW64_64KEY on a
// 64-bit Windows, 0 on a 32-bit one.
REGSAM RegistryView(Bitness mode);

// A path as the mode sees it. A 64-bit engine in "Win32" mode maps the
// system folder to the 32-bit system folder, as the file-system redirection
// does for a 32-bit installer; everything else is left as it is.
std::wstring MapPath(std::wstring_view path, Bitness mode);

// Puts the mode's file-system view in force on the calling thread for its
// lifetime: a 32-bit engine on a 64-bit Windows switches the redirection
// off for the 64-bit modes and back on at the end.
class BitnessScope {
public:
  explicit BitnessScope(Bitness mode);
  ~BitnessScope();
  BitnessScope(const BitnessScope&) = delete;
  BitnessScope& operator=(const BitnessScope&) = delete;

private:
  void* redirection_ = nullptr;
  bool disabled_ = false;
};

}  // namespace qv::native
