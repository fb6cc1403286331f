// Placing one file: our own read/write copy loop (the system copy call gives
// no progress under every platform, and ours reports bytes and honours a
// cancel between chunks), optional hard links, and the replacement of an
// existing target that never loses the old file: the new content is written
// to a fresh name beside the target first and only then moved over it; a
// target in use is moved aside, or, when even that fails, replaced at the
// next restart.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qv::native {

// Called with the bytes written since the previous call; false cancels.
using CopyReport = std::function<bool(uint64_t delta)>;

inline constexpr DWORD kCopyChunk = 1u << 20;

// Copies `source` into the new file `to` (which must not exist). Returns 0
// or the Win32 error code (ERROR_CANCELLED when `report` said stop); a
// partial copy is removed.
DWORD CopyFileContents(std::wstring_view source, std::wstring_view to, const CopyReport& report);

struct Placement {
  DWORD error = 0;            // 0: the new file is in place (or scheduled)
  bool movedAside = false;    // the old file was in use and now lies beside it
  bool atRestart = false;     // the new file replaces the target at the next restart
};

// Places `source` at `target`. With `hardLink` and both on one drive the
// new file is a hard link to the source. On failure the old target (if any)
// is unchanged.
Placement PlaceFile(std::wstring_view source, std::wstring_view target, bool hardLink, const CopyReport& report);

// True when both paths begin with the same drive letter.
bool SameDrive(std::wstring_view a, std::wstring_view b);

}  // namespace qv::native
