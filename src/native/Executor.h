// TNativeThread: the worker that performs native install commands — one
// record at once, the whole delayed-install queue, or an undo pass — while
// the interpreter waits. It runs as the body of a shared WorkerThread and
// publishes progress through the reserved progress variables
// (PublishProgress of interpreter/Progress), writes its trace to the setup log, records undo entries in the
// native logs before each change and sends every failure through the error
// policy.
#pragma once

#include "native/ActionKinds.h"
#include "native/Bitness.h"
#include "native/NativeEngine.h"
#include "native/Policies.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

namespace qv {
struct Script;
}

namespace qv::native {

struct ThreadSetup {
  Variables& variables;
  TNativeEngine& engine;
  const Script* script = nullptr;  // the file table of "Install ..." kinds
  std::wstring dataFolder;         // where the installation data lies
  bool silent = false;
};

class TNativeThread {
public:
  TNativeThread(ThreadSetup setup, std::wstring command, std::wstring record, size_t index, Bitness mode);

  // The thread body: performs the command and stores the native result and
  // error text in the engine. Never throws. A cancel reaches it through
  // `stop` (the wait around the worker requests the stop).
  void Execute(std::stop_token stop = {});
  bool TerminateRequested() const { return stop_.stop_requested(); }

  // Performs one record (also nested ones: a missing folder before a file).
  // False means the action was aborted and the caller must stop.
  bool RunAction(std::wstring_view name, std::wstring_view record);

  // Adds delta to NATIVE_PROGRESS and publishes it; "$IGNORE$" keeps the
  // text. False once the thread has been asked to terminate.
  bool ReportProgress(std::wstring_view text, uint64_t delta);

  // One line of the setup log.
  void Log(std::wstring_view line);

  // Runs a change (returning a Win32 error code, 0 for success) until it
  // succeeds or the error policy gives up; `object` names what was changed.
  ActionResult Attempt(const std::function<DWORD()>& change, std::wstring_view object);

  bool RecordUndo(std::wstring_view forwardChange, const Fields& data);
  void DropLastUndo();

  // The progress range of a phase (the undo pass sums its weights).
  uint64_t phaseMaximum() const { return phaseMax_; }
  void setPhaseMaximum(uint64_t maximum) { phaseMax_ = maximum; }

  Policies& policies() { return policies_; }
  Variables& variables() { return setup_.variables; }
  TNativeEngine& engine() { return setup_.engine; }
  const ThreadSetup& setup() const { return setup_; }
  Bitness bitness() const { return bitness_; }
  bool delayed() const { return delayed_; }
  bool byteProgress() const { return byteProgress_; }

private:
  void RunQueue();
  void RunSingle();

  ThreadSetup setup_;
  Policies policies_;
  std::wstring command_;
  std::wstring record_;
  size_t index_;
  Bitness bitness_;
  bool delayed_ = false;
  bool byteProgress_ = false;
  bool anyFailed_ = false;
  uint64_t phaseMax_ = 0;
  std::stop_token stop_;
};

}  // namespace qv::native
