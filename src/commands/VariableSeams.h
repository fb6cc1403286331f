// What "Set Variable" and "Localization Variable" hand to the rest of the
// engine: the run's list of remembered variables (saved by the engine cache
// at the end of the run), the download timeout, and narrow seams for the
// subsystems those statements notify — translation, the native engine's log
// management and the progress display. Each seam defaults to the behaviour
// of a run without that subsystem; the subsystem installs its own callable.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Names marked by "Set Variable" with the remember flag, upper case, each
// once, in the order they were first marked. Read and extended on the
// interpreter thread only.
class RememberedVariables {
public:
  void Add(std::wstring_view name);
  bool Contains(std::wstring_view name) const;
  const std::vector<std::wstring>& Names() const { return names_; }
  void Clear() { names_.clear(); }

private:
  std::vector<std::wstring> names_;
};

RememberedVariables& Remembered();

// Receive timeout of web downloads in seconds, set through QIVA_TIMEOUT and
// read by the download workers.
inline constexpr int kDefaultDownloadTimeout = 10;
int DownloadTimeoutSeconds();
void SetDownloadTimeoutSeconds(int seconds);

struct VariableSeams {
  // A statement text in the active language: (text, statement identifier,
  // ordinal of the text within the statement). Default: the text itself.
  std::function<std::wstring(std::wstring_view text, std::wstring_view identifier, int ordinal)> translate;
  // A new NATIVE_LOGGING value: the native engine flushes its pending
  // entries to it and returns what to store (empty when the log set can be
  // neither found nor created there). Default: the value as given.
  std::function<std::wstring(std::wstring_view value)> nativeLogging;
  // PROGRESS or PROGRESSTEXT was assigned: show them now (percent 0 … 100).
  // Default: nothing; the dialog host shows them on its next refresh.
  std::function<void(int percent, std::wstring_view text)> showProgress;
};

// The process's seams. ResetVariableSeams puts back the defaults.
VariableSeams& Seams();
void ResetVariableSeams();

}  // namespace qv
