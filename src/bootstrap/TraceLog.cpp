#include "bootstrap/TraceLog.h"

#include "common/Handles.h"

namespace qv {

void TraceLog::SetPath(std::wstring path) {
  std::lock_guard guard(lock_);
  path_ = std::move(path);
}

void TraceLog::Write(std::wstring_view line) {
  std::lock_guard guard(lock_);
  if (path_.empty()) return;
  const DWORD disposition = started_ ? OPEN_ALWAYS : CREATE_ALWAYS;
  UniqueFile file(CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  started_ = true;
  std::wstring text(line);
  text += L"\r\n";
  DWORD written = 0;
  WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
}

TraceLog& Trace() {
  static TraceLog log;
  return log;
}

}  // namespace qv
