#include "native/Policies.h"

#include "common/Handles.h"
#include "common/Text.h"
#include "dialogs/MessageBoxes.h"
#include "interpreter/Progress.h"

#include <vector>

namespace qv::native {

namespace {

constexpr std::wstring_view kErrorSource = L"Native Error Processor";
constexpr std::wstring_view kOverwriteSource = L"Native Overwrite Processor";

// The question goes up on the main thread (the worker waits for the answer
// there), owned by the dialog on screen.
PromptAnswer MessageBoxPrompt(const PromptRequest& request) {
  ToAllAnswer answer = ToAllAnswer::kCancel;
  RunOnMainThread([&] {
    answer = AskWithToAll(ProgressWindow(), request.caption, request.text,
                          request.overwrite ? MessageIcon::kQuestion : MessageIcon::kError);
  });
  switch (answer) {
    case ToAllAnswer::kYes: return PromptAnswer::Yes;
    case ToAllAnswer::kNo: return PromptAnswer::No;
    case ToAllAnswer::kNoToAll: return PromptAnswer::NoToAll;
    case ToAllAnswer::kYesToAll: return PromptAnswer::YesToAll;
    case ToAllAnswer::kCancel: break;
  }
  return PromptAnswer::Cancel;
}

std::wstring FileDate(std::wstring_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  SYSTEMTIME utc, local;
  if (!GetFileAttributesExW(std::wstring(path).c_str(), GetFileExInfoStandard, &data) ||
      !FileTimeToSystemTime(&data.ftLastWriteTime, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
    return L"<unknown date>";
  wchar_t date[128], time[128];
  if (!GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, date, 128) ||
      !GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &local, nullptr, time, 128))
    return L"<unknown date>";
  return std::wstring(date) + L" " + time;
}

bool LastWrite(std::wstring_view path, ULARGE_INTEGER& out) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(std::wstring(path).c_str(), GetFileExInfoStandard, &data)) return false;
  out.LowPart = data.ftLastWriteTime.dwLowDateTime;
  out.HighPart = data.ftLastWriteTime.dwHighDateTime;
  return true;
}

}  // namespace

PromptSeam& Prompt() {
  static PromptSeam prompt = MessageBoxPrompt;
  return prompt;
}

void ResetPrompt() { Prompt() = MessageBoxPrompt; }

std::wstring FileVersion::Text() const {
  if (!present()) return L"<no version information>";
  return std::to_wstring(part[0]) + L"." + std::to_wstring(part[1]) + L"." + std::to_wstring(part[2]) + L"." +
         std::to_wstring(part[3]);
}

FileVersion ReadFileVersion(std::wstring_view path) {
  // version.dll from the system folder only, loaded on first use.
  using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  static const HMODULE module = LoadLibraryExW(L"version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  FileVersion version;
  if (!module) return version;
  const auto size = reinterpret_cast<SizeFn>(GetProcAddress(module, "GetFileVersionInfoSizeW"));
  const auto info = reinterpret_cast<InfoFn>(GetProcAddress(module, "GetFileVersionInfoW"));
  const auto query = reinterpret_cast<QueryFn>(GetProcAddress(module, "VerQueryValueW"));
  if (!size || !info || !query) return version;
  const std::wstring file(path);
  DWORD ignored = 0;
  const DWORD bytes = size(file.c_str(), &ignored);
  if (!bytes) return version;
  std::vector<char> buffer(bytes);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!info(file.c_str(), 0, bytes, buffer.data()) ||
      !query(buffer.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed || length < sizeof(*fixed))
    return version;
  version.part[0] = HIWORD(fixed->dwFileVersionMS);
  version.part[1] = LOWORD(fixed->dwFileVersionMS);
  version.part[2] = HIWORD(fixed->dwFileVersionLS);
  version.part[3] = LOWORD(fixed->dwFileVersionLS);
  return version;
}

bool IsNewer(std::wstring_view source, std::wstring_view target) {
  const FileVersion from = ReadFileVersion(source), to = ReadFileVersion(target);
  if (!to.present()) {
    ULARGE_INTEGER a{}, b{};
    return LastWrite(source, a) && LastWrite(target, b) && b.QuadPart < a.QuadPart;
  }
  if (!from.present()) return false;
  for (int i = 0; i < 4; ++i)
    if (from.part[i] != to.part[i]) return from.part[i] > to.part[i];
  return false;
}

void Policies::Cancel(std::wstring_view source) { variables_.Set(L"QIVA_IsCancelled", L"TRUE", source); }

ErrorAnswer Policies::HandleError(std::wstring_view message, DWORD code, int retriesSoFar) {
  if (code == 0) return {};
  log_(L"        <NATIVE ERROR>");
  log_(L"          < " + std::wstring(message) + L" >");
  log_(L"        </NATIVE ERROR>");
  const std::wstring policy = variables_.Get(L"NATIVE_ERROR");
  if (EqualsNoCase(policy, L"RETRY")) {
    // A failure that does not go away on its own must not hold the run
    // forever: a few spaced retries, then the step fails.
    if (retriesSoFar >= kMaxAutomaticRetries) return {};
    Sleep(kRetryDelayMs);
    return {true, false};
  }
  if (EqualsNoCase(policy, L"IGNORE")) return {};
  if (EqualsNoCase(policy, L"ABORT")) {
    Cancel(kErrorSource);
    return {false, true};
  }
  if (silent_ || IsTrueFlag(variables_.Get(L"ABORTEDONERROR"))) return {};
  const PromptAnswer answer =
      Prompt()({false, L"Error", std::wstring(message) + L"\r\rWould you like to try again?"});
  switch (answer) {
    case PromptAnswer::YesToAll: variables_.Set(L"NATIVE_ERROR", L"RETRY", kErrorSource); [[fallthrough]];
    case PromptAnswer::Yes: return {true, false};
    case PromptAnswer::NoToAll: variables_.Set(L"NATIVE_ERROR", L"IGNORE", kErrorSource); [[fallthrough]];
    case PromptAnswer::No: return {};
    case PromptAnswer::Cancel: break;
  }
  Cancel(kErrorSource);
  return {false, true};
}

OverwriteAnswer Policies::ConfirmOverwrite(std::wstring_view source, std::wstring_view target) {
  const std::wstring mode = variables_.Get(L"NATIVE_OVERWRITE");
  const bool older = EqualsNoCase(variables_.Get(L"NATIVE_OVERWRITE_OLDER"), L"TRUE");
  if (EqualsNoCase(mode, L"NEVER")) return {false, false};
  if (EqualsNoCase(mode, L"ALWAYS") && older) return {true, false};
  const bool newer = IsNewer(source, target);
  if (EqualsNoCase(mode, L"ALWAYS")) return {newer, false};
  if (!newer && !older) return {false, false};
  if (silent_) return {newer, false};
  const std::wstring text = std::wstring(target) + L"\r\rOld file version: " + ReadFileVersion(target).Text() +
                            L"\rOld file date: " + FileDate(target) + L"\r\rNew file version: " +
                            ReadFileVersion(source).Text() + L"\rNew file date: " + FileDate(source) +
                            L"\r\rWould you like to overwrite this file?";
  switch (Prompt()({true, L"Overwrite", text})) {
    case PromptAnswer::YesToAll: variables_.Set(L"NATIVE_OVERWRITE", L"ALWAYS", kOverwriteSource); [[fallthrough]];
    case PromptAnswer::Yes: return {true, false};
    case PromptAnswer::NoToAll: variables_.Set(L"NATIVE_OVERWRITE", L"NEVER", kOverwriteSource); [[fallthrough]];
    case PromptAnswer::No: return {false, false};
    case PromptAnswer::Cancel: break;
  }
  variables_.Set(L"QIVA_IsCancelled", L"TRUE", kErrorSource);
  return {false, true};
}

}  // namespace qv::native
