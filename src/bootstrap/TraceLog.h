// The trace log named by "/l=" or LOGGED: UTF-16LE lines ending in CR LF,
// appended; the first line a process writes empties the file first.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace qv {

class TraceLog {
public:
  void SetPath(std::wstring path);
  const std::wstring& Path() const { return path_; }
  // Writes one line; silently does nothing without a path or when the file
  // cannot be written (a trace must never break a run).
  void Write(std::wstring_view line);

private:
  std::mutex lock_;
  std::wstring path_;
  bool started_ = false;
};

TraceLog& Trace();

}  // namespace qv
