// Progress, cancel and abort: the contract between the interpreter on the
// main thread and the worker threads that long statements run on.
//
// Workers touch no window. They publish progress only through the reserved
// QIVA_th* variables (one store lock per assignment) and learn of a cancel
// through their stop token or QIVA_IsCancelled. The interpreter waits for a
// worker in WaitForWorker, handling one window message per turn, and then
// passes the statement's cancellation checkpoint.
//
// Stopping an unresponsive worker: a worker is never killed. After a cancel
// the wait asks it to stop (its stop token); when it then stops publishing
// for a watchdog interval, the wait abandons it: its completion flag is set,
// the thread is detached and left to end by itself. TerminateThread could
// kill it while it holds the variable store's lock (or the heap's), which
// would leave the whole engine stuck; an abandoned thread only costs the
// resources it still holds. Hence the rule for worker bodies: own everything
// you use (capture by value or shared_ptr, never the statement's locals by
// reference), because the statement may return while you still run.
#pragma once

#include "bootstrap/Session.h"
#include "interpreter/VariableStore.h"

#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

namespace qv {

struct StatementContext;

// The reserved variables (declared at run start by DeclareProgressVariables).
inline constexpr std::wstring_view kVarProgress = L"QIVA_thProgress";
inline constexpr std::wstring_view kVarMax = L"QIVA_thMax";
inline constexpr std::wstring_view kVarMin = L"QIVA_thMin";
inline constexpr std::wstring_view kVarProgressText = L"QIVA_thProgressText";
inline constexpr std::wstring_view kVarFinished = L"QIVA_thFinished";
inline constexpr std::wstring_view kVarCancelled = L"QIVA_thCancelled";
inline constexpr std::wstring_view kVarIsCancelled = L"QIVA_IsCancelled";
inline constexpr std::wstring_view kVarLastDelegateTick = L"QIVA_LastDelegateTick";
inline constexpr std::wstring_view kVarLastActiveTick = L"QIVA_LastActiveTick";

// A millisecond tick source; GetTickCount64 unless a test passes its own.
using TickSource = uint64_t (*)();
uint64_t SystemTick();

// ---------------------------------------------------------------------------
// Publishing (any thread)

// Stamps QIVA_LastDelegateTick, then stores the numbers (unless `position`
// is -1) and the text (unless it is "$IGNORE$"). The text "$QIVA$"
// republishes the stored values, which refreshes only the stamp.
void PublishProgress(Variables& variables, std::wstring_view text, int64_t minimum, int64_t maximum, int64_t position,
                     TickSource clock = SystemTick);

// The script's own progress (PROGRESSTEXT, 0 … 100, PROGRESS), published for
// statements that show it while their worker runs.
void PublishScriptProgress(Variables& variables, TickSource clock = SystemTick);

// QIVA_IsCancelled read as a flag.
bool IsCancelled(const Variables& variables);

// Between statements: ABORT mirrors QIVA_IsCancelled (source "Cancel State").
void RefreshCancelState(Variables& variables);

// Between statements, while a modeless dialog is on screen: hands PROGRESS
// and PROGRESSTEXT to the progress display when either changed since the
// last call (one instance per run, owned by the interpreter).
class ScriptProgressRefresh {
public:
  // Returns true when it published.
  bool Refresh(Variables& variables, TickSource clock = SystemTick);

private:
  bool primed_ = false;
  std::wstring progress_;
  std::wstring text_;
};

// ---------------------------------------------------------------------------
// Worker threads

// One worker thread. The body gets a stop token that the wait sets on a
// cancel. Completion is an event (so the main thread can wait for it while
// it handles messages) set when the body returns or throws, or when the
// worker is abandoned. The destructor asks a still running worker to stop
// and abandons it; it never blocks on an uncooperative body.
class WorkerThread {
public:
  using Body = std::function<void(std::stop_token)>;

  WorkerThread();
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts the body; one body per WorkerThread. Must be called on the main
  // thread (it binds RunOnMainThread to it).
  void Start(Body body);

  bool Started() const { return started_; }
  // The completion flag: the body has ended, or the worker was abandoned.
  bool Finished() const;
  HANDLE CompletionEvent() const;

  void RequestStop();
  bool StopRequested() const;

  // Sets the completion flag without waiting: the thread is detached and
  // ends by itself. Used by the watchdog.
  void Abandon();
  bool Abandoned() const { return abandoned_; }

  // Waits for the body to end (not for an abandoned worker) and rethrows
  // what the body threw. Call after Finished().
  void Join();

private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
  bool started_ = false;
  bool abandoned_ = false;
};

// Workers abandoned by a watchdog and still running (for the end of the run,
// which may give them a moment before the process goes away).
int AbandonedWorkersRunning();

// ---------------------------------------------------------------------------
// Synchronous calls from a worker to the main thread

// Records the calling thread as the main thread and creates its hidden
// message window. Idempotent; WorkerThread::Start calls it.
void BindMainThread();
bool OnMainThread();
// Runs `call` on the main thread and returns when it has run, rethrowing
// what it threw. On the main thread it simply calls. From a worker it is a
// sent message, served whenever the main thread handles messages: in the
// wait loop (silent runs too), in the cycle's pump and in any modal loop.
void RunOnMainThread(const std::function<void()>& call);

// ---------------------------------------------------------------------------
// Waiting (main thread)

// Compares the two tick variables every interval after a cancel: a worker
// that published in between gets another interval, one that did not is due
// to be stopped. Pure state; the wait loop drives it with its clock.
class Watchdog {
public:
  static constexpr uint64_t kInterval = 5000;

  explicit Watchdog(uint64_t interval = kInterval) : interval_(interval) {}

  // Starts the timer unless it runs already (a second cancel does not
  // restart it).
  void Enable(uint64_t now);
  void Disable() { enabled_ = false; }
  bool Enabled() const { return enabled_; }
  // Milliseconds until the next check, 0 when due; only while enabled.
  uint64_t Remaining(uint64_t now) const;

  enum class Verdict { kNotDue, kRearmed, kStop };
  Verdict Check(Variables& variables, uint64_t now);

private:
  uint64_t interval_;
  bool enabled_ = false;
  uint64_t due_ = 0;
};

struct WaitOptions {
  bool silent = false;
  // Publish the script's own progress every turn.
  bool scriptProgress = false;
  // Plug-in calls: copy the delegate tick into the active tick on the cancel,
  // so that the watchdog's first check already counts.
  bool primeWatchdog = false;
  // Run once when the cancel is first seen (a program run sets its result
  // code to -314 here).
  std::function<void()> onCancel;
  // After a cancel, wait for the worker to wind down by itself instead of
  // watching it: no watchdog, the wait only keeps handling messages so the
  // progress display stays alive (the native engine's spool timer). For a
  // worker that must never be left running, e.g. one whose rollback follows.
  bool windDown = false;
  uint64_t watchdogInterval = Watchdog::kInterval;
  TickSource clock = SystemTick;
};

enum class WaitOutcome {
  kFinished,   // the body ended
  kAbandoned,  // the watchdog gave up on it after a cancel
};

// Loops until the worker's completion flag is set (at once for a worker
// that was never started). A silent run blocks on
// the worker (still serving RunOnMainThread calls); otherwise each turn
// handles at most one window message. The watchdog runs only after a cancel
// (never with windDown).
WaitOutcome WaitForWorker(WorkerThread& worker, Variables& variables, const WaitOptions& options = {});

// ---------------------------------------------------------------------------
// Cancellation checkpoints and abort

// The checkpoint names, each used in the source "Cancel at <name> Time".
namespace checkpoint {
inline constexpr std::wstring_view kNativeEngine = L"Native Engine";
inline constexpr std::wstring_view kPlugIn = L"Plug-In";
inline constexpr std::wstring_view kRestartManager = L"Restart Manager";
inline constexpr std::wstring_view kRunAs = L"Run-As";
inline constexpr std::wstring_view kExtract7Zip = L"Extract-7Zip";
inline constexpr std::wstring_view kCompress7Zip = L"Compress-7Zip";
inline constexpr std::wstring_view kDelete7Zip = L"Delete-7Zip";
inline constexpr std::wstring_view kLightMode = L"Light-Mode";
inline constexpr std::wstring_view kRunProgram = L"Run-Program";
inline constexpr std::wstring_view kFindFiles = L"Find-Files";
}  // namespace checkpoint

inline constexpr std::wstring_view kSetupCancelledText = L"Setup cancelled";

enum class CheckpointOutcome {
  kNotCancelled,
  kCancelledContinue,  // ABORTEDONERROR is now TRUE; the statement ends normally
  kAbort,              // ABORTONERROR: the run must end (rollback and normal end)
};

// After the wait: when QIVA_IsCancelled reads true, tells the user "Setup
// cancelled" (not in a silent run, not once ABORTEDONERROR is TRUE, not when
// `announce` is false, as for a rollback), then either asks for the abort or
// records the cancel in ABORTEDONERROR.
CheckpointOutcome CancellationCheckpoint(const Session& session, Variables& variables, std::wstring_view name,
                                         bool announce = true);

// What an abort runs before the run ends: the native engine installs its
// rollback here (it checks itself whether it is in use and enabled).
void SetAbortRollback(std::function<void()> rollback);
// Runs the rollback and marks the run to end normally.
void AbortRun(StatementContext& c);

// The whole sequence for a statement: wait, checkpoint, abort. Returns true
// when the statement goes on to its normal ending (results, LASTERROR);
// false when the run is ending (c.endRun is set) and the statement must
// return at once.
bool WaitAtCheckpoint(StatementContext& c, WorkerThread& worker, std::wstring_view name, WaitOptions options = {});

// ---------------------------------------------------------------------------
// Errors reported to the script

// LASTERROR = text, source "<statement> Action".
void ReportLastError(StatementContext& c, std::wstring_view text);
// A fatal condition of the statement: with ABORTONERROR true it raises the
// error that ends the script; otherwise it stores LASTERROR and returns.
void FailOrReport(StatementContext& c, std::wstring_view text);

}  // namespace qv
