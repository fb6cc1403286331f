// The engine's one error currency: an exception carrying a wide message and,
// where there is one, the Win32 error code behind it.
#pragma once

#include <windows.h>

#include <exception>
#include <string>
#include <string_view>

namespace qv {

class Error : public std::exception {
public:
  explicit Error(std::wstring message, DWORD code = 0);

  const std::wstring& message() const noexcept { return message_; }
  DWORD code() const noexcept { return code_; }
  const char* what() const noexcept override { return narrow_.c_str(); }

private:
  std::wstring message_;
  DWORD code_;
  std::string narrow_;
};

// The system's text for a Win32 error code, without the trailing line break.
std::wstring SystemMessage(DWORD code);

// Raises an Error for GetLastError(), prefixed with what was being done.
[[noreturn]] void ThrowLastError(std::wstring_view what);
[[noreturn]] void ThrowWin32(DWORD code, std::wstring_view what);

// One-line check right after a Win32 call that reports failure as FALSE/null.
inline void CheckWin32(bool ok, std::wstring_view what) {
  if (!ok) ThrowLastError(what);
}

}  // namespace qv
