// The two policies every native action goes through: the error policy (what
// happens when a system call fails) and the overwrite policy (whether an
// existing file is replaced). Scripts steer them with NATIVE_ERROR,
// NATIVE_OVERWRITE and NATIVE_OVERWRITE_OLDER, read at each decision, which
// is what makes silent runs decide without asking; otherwise the user is
// asked through a prompt seam.
#pragma once

#include "interpreter/VariableStore.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qv::native {

// Automatic retries (NATIVE_ERROR = "RETRY") are bounded: a failure that
// persists is retried this many times, kRetryDelayMs apart, then fails.
inline constexpr int kMaxAutomaticRetries = 3;
inline constexpr DWORD kRetryDelayMs = 200;

enum class PromptAnswer { Yes, No, Cancel, NoToAll, YesToAll };

struct PromptRequest {
  bool overwrite = false;  // the overwrite question; otherwise the error question
  std::wstring caption;
  std::wstring text;
};

// How the user is asked. The default shows the Yes / No / Cancel / No to All
// / Yes to All question on the main thread (RunOnMainThread; the worker
// waits for the answer), owned by the dialog on screen.
using PromptSeam = std::function<PromptAnswer(const PromptRequest&)>;
PromptSeam& Prompt();
void ResetPrompt();

struct ErrorAnswer {
  bool retry = false;
  bool abort = false;  // QIVA_IsCancelled is now "TRUE"
};

struct OverwriteAnswer {
  bool proceed = true;
  bool abort = false;
};

// Four-part file version; all zero when the file has no version resource.
struct FileVersion {
  uint16_t part[4] = {};
  bool present() const { return part[0] || part[1] || part[2] || part[3]; }
  std::wstring Text() const;
};
FileVersion ReadFileVersion(std::wstring_view path);

// True when the source should count as newer than the target: by version
// when both have one, by modification time when the target has none, never
// when only the source lacks one.
bool IsNewer(std::wstring_view source, std::wstring_view target);

class Policies {
public:
  Policies(Variables& variables, bool silent, std::function<void(std::wstring_view)> log)
      : variables_(variables), silent_(silent), log_(std::move(log)) {}

  // `retriesSoFar` counts the automatic retries already made for this step.
  ErrorAnswer HandleError(std::wstring_view message, DWORD code, int retriesSoFar);
  // Only asked for a target that exists.
  OverwriteAnswer ConfirmOverwrite(std::wstring_view source, std::wstring_view target);

private:
  void Cancel(std::wstring_view source);

  Variables& variables_;
  bool silent_;
  std::function<void(std::wstring_view)> log_;
};

}  // namespace qv::native
