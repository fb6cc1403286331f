#include "common/Error.h"

#include "common/Text.h"

namespace qv {

Error::Error(std::wstring message, DWORD code)
    : message_(std::move(message)), code_(code), narrow_(WideToUtf8(message_)) {}

std::wstring SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length ? std::wstring(buffer, length) : L"error " + std::to_wstring(code);
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
    text.pop_back();
  return text;
}

void ThrowWin32(DWORD code, std::wstring_view what) {
  throw Error(std::wstring(what) + L": " + SystemMessage(code), code);
}

void ThrowLastError(std::wstring_view what) { ThrowWin32(GetLastError(), what); }

}  // namespace qv
