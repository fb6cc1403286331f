#include "commands/VariableSeams.h"

#include "common/Text.h"

#include <algorithm>

namespace qv {

void RememberedVariables::Add(std::wstring_view name) {
  if (name.empty() || Contains(name)) return;
  names_.push_back(UpperCase(name));
}

bool RememberedVariables::Contains(std::wstring_view name) const {
  return std::any_of(names_.begin(), names_.end(), [&](const std::wstring& known) { return EqualsNoCase(known, name); });
}

RememberedVariables& Remembered() {
  static RememberedVariables remembered;
  return remembered;
}

namespace {

std::atomic<int> downloadTimeout{kDefaultDownloadTimeout};

VariableSeams DefaultSeams() {
  VariableSeams seams;
  seams.translate = [](std::wstring_view text, std::wstring_view, int) { return std::wstring(text); };
  seams.nativeLogging = [](std::wstring_view value) { return std::wstring(value); };
  seams.showProgress = [](int, std::wstring_view) {};
  return seams;
}

}  // namespace

int DownloadTimeoutSeconds() { return downloadTimeout.load(); }
void SetDownloadTimeoutSeconds(int seconds) { downloadTimeout.store(seconds); }

VariableSeams& Seams() {
  static VariableSeams seams = DefaultSeams();
  return seams;
}

void ResetVariableSeams() { Seams() = DefaultSeams(); }

}  // namespace qv
