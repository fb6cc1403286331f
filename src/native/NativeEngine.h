// The native engine's run-wide state: the delayed-install queue, the pending
// log entries, the bitness mode, and the outcome of the last command that
// "Apply Changes" reports. One per process, as there is one run per process.
#pragma once

#include "native/Bitness.h"
#include "native/NativeLogs.h"
#include "native/Queue.h"

#include <cstdint>
#include <functional>
#include <string>

namespace qv {
class Session;
class Variables;
}  // namespace qv

namespace qv::native {

class TNativeThread;

// Native result of a command: 1 success, 0 an action failed, -1 an exception
// escaped.
enum NativeResult : int { kNativeException = -1, kNativeFailed = 0, kNativeSuccess = 1 };

struct TNativeEngine {
  TNativeQueue queue;
  NativeLogs logs;
  Bitness bitness = Bitness::Win32;

  int result = kNativeSuccess;
  std::wstring errorText;
  bool rebootPending = false;  // a file waits for the next restart to be replaced
  bool committed = false;      // after a successful "Apply Changes": no more rollback
  // The data folder the user pointed to in a maintenance run; empty: the
  // session's own data folder.
  std::wstring dataFolder;

  // The undo pass over the logs ("ROLLBACK", "UNINSTALL"). The undo module
  // installs itself here; until then the phases change nothing and succeed.
  std::function<int(TNativeThread& thread, bool uninstall)> undoPass;

  // The session of the run, for paths and the silent flag.
  const Session* session = nullptr;
};

TNativeEngine& Engine();

// The prefix of the four log files: NATIVE_LOGGING when it names a complete
// log set, else the default below.
std::wstring LogPrefix(const Variables& variables);
// The product's engine cache folder for the current scope (ENGINECACHE, or
// the application data folder of the scope plus the revision code) and the
// setup's base name.
std::wstring DefaultLogPrefix(const Variables& variables);

// What "Set Variable" does with a new NATIVE_LOGGING value: a log set that
// exists or can be created takes the pending entries; "FALSE" switches
// logging off; the empty value flushes to the default prefix. Returns the
// value to store.
std::wstring AcceptLoggingValue(Variables& variables, std::wstring_view value);

}  // namespace qv::native
