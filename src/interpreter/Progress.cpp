#include "interpreter/Progress.h"

#include "commands/VariableSeams.h"
#include "common/Error.h"
#include "common/Handles.h"
#include "common/Text.h"
#include "dialogs/MessageBoxes.h"
#include "interpreter/Expansion.h"
#include "interpreter/Statements.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace qv {

uint64_t SystemTick() { return GetTickCount64(); }

// ---------------------------------------------------------------------------
// Publishing

void PublishProgress(Variables& variables, std::wstring_view text, int64_t minimum, int64_t maximum, int64_t position,
                     TickSource clock) {
  TVariableManager& store = variables.Store();
  store.SetValue(kVarLastDelegateTick, std::to_wstring(clock()));
  std::wstring value(text);
  if (text == kWorkerProgressToken) {
    value = store.GetValue(kVarProgressText);
    position = ParseInt64(store.GetValue(kVarProgress)).value_or(0);
    maximum = ParseInt64(store.GetValue(kVarMax)).value_or(100);
    minimum = ParseInt64(store.GetValue(kVarMin)).value_or(0);
  }
  if (position != -1) {
    store.SetValue(kVarMax, std::to_wstring(maximum));
    store.SetValue(kVarMin, std::to_wstring(minimum));
    store.SetValue(kVarProgress, std::to_wstring(position));
  }
  if (value != kIgnoreToken) store.SetValue(kVarProgressText, value);
}

void PublishScriptProgress(Variables& variables, TickSource clock) {
  const int64_t position = ParseInt64(variables.Get(L"PROGRESS")).value_or(0);
  PublishProgress(variables, variables.Get(L"PROGRESSTEXT"), 0, 100, position, clock);
}

bool IsCancelled(const Variables& variables) { return IsTrueFlag(variables.Get(kVarIsCancelled)); }

void RefreshCancelState(Variables& variables) {
  variables.Set(L"ABORT", IsCancelled(variables) ? L"TRUE" : L"FALSE", L"Cancel State");
}

bool ScriptProgressRefresh::Refresh(Variables& variables, TickSource clock) {
  std::wstring progress = variables.Get(L"PROGRESS");
  std::wstring text = variables.Get(L"PROGRESSTEXT");
  if (primed_ && progress == progress_ && text == text_) return false;
  primed_ = true;
  progress_ = std::move(progress);
  text_ = std::move(text);
  PublishScriptProgress(variables, clock);
  Seams().showProgress(std::clamp(ParseInt32(progress_).value_or(0), 0, 100), text_);
  return true;
}

// ---------------------------------------------------------------------------
// Worker threads

namespace {

enum WorkerState : int { kRunning, kEnded, kAbandoned };

std::atomic<int> abandonedRunning{0};

}  // namespace

struct WorkerThread::Shared {
  UniqueHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::stop_source stop;
  std::exception_ptr error;
  std::atomic<int> state{kRunning};
};

WorkerThread::WorkerThread() : shared_(std::make_shared<Shared>()) {
  CheckWin32(shared_->done.get() != nullptr, L"Creating a worker's completion event");
}

WorkerThread::~WorkerThread() {
  if (!thread_.joinable()) return;
  if (shared_->state.load() == kEnded) {
    thread_.join();
    return;
  }
  // The statement is leaving (an exception) while the body still runs.
  RequestStop();
  Abandon();
}

void WorkerThread::Start(Body body) {
  if (Started()) throw Error(L"A worker thread runs one body only");
  BindMainThread();
  thread_ = std::thread([shared = shared_, body = std::move(body)]() {
    try {
      body(shared->stop.get_token());
    } catch (...) {
      shared->error = std::current_exception();
    }
    int expected = kRunning;
    if (!shared->state.compare_exchange_strong(expected, kEnded)) --abandonedRunning;
    SetEvent(shared->done.get());
  });
  started_ = true;
}

bool WorkerThread::Finished() const { return abandoned_ || shared_->state.load() != kRunning; }

HANDLE WorkerThread::CompletionEvent() const { return shared_->done.get(); }

void WorkerThread::RequestStop() { shared_->stop.request_stop(); }

bool WorkerThread::StopRequested() const { return shared_->stop.stop_requested(); }

void WorkerThread::Abandon() {
  if (abandoned_ || !thread_.joinable()) return;
  ++abandonedRunning;
  int expected = kRunning;
  if (!shared_->state.compare_exchange_strong(expected, kAbandoned)) --abandonedRunning;  // it just ended
  abandoned_ = true;
  thread_.detach();
  SetEvent(shared_->done.get());
}

void WorkerThread::Join() {
  if (abandoned_) return;
  if (thread_.joinable()) thread_.join();
  if (shared_->error) std::rethrow_exception(std::exchange(shared_->error, nullptr));
}

int AbandonedWorkersRunning() { return abandonedRunning.load(); }

// ---------------------------------------------------------------------------
// Synchronous calls to the main thread: a sent message to a hidden
// message-only window owned by the main thread.

namespace {

constexpr UINT kCallMessage = WM_APP + 0x51;
constexpr wchar_t kCallWindowClass[] = L"QuorvaneMainThreadCalls";

std::atomic<DWORD> mainThreadId{0};
std::atomic<HWND> callWindow{nullptr};

struct CallPacket {
  const std::function<void()>* call;
  std::exception_ptr error;
};

LRESULT CALLBACK CallWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kCallMessage) return DefWindowProcW(window, message, wParam, lParam);
  auto* packet = reinterpret_cast<CallPacket*>(lParam);
  try {
    (*packet->call)();
  } catch (...) {
    packet->error = std::current_exception();
  }
  return 1;
}

}  // namespace

void BindMainThread() {
  if (mainThreadId.load() != 0) return;
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = CallWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kCallWindowClass;
  if (!RegisterClassW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    ThrowLastError(L"Registering the main thread's call window");
  HWND window = CreateWindowExW(0, kCallWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
  CheckWin32(window != nullptr, L"Creating the main thread's call window");
  callWindow.store(window);
  mainThreadId.store(GetCurrentThreadId());
}

bool OnMainThread() { return mainThreadId.load() == GetCurrentThreadId(); }

void RunOnMainThread(const std::function<void()>& call) {
  if (OnMainThread()) {
    call();
    return;
  }
  HWND window = callWindow.load();
  if (!window) throw Error(L"No main thread is there to answer a worker's call");
  CallPacket packet{&call, nullptr};
  if (!SendMessageW(window, kCallMessage, 0, reinterpret_cast<LPARAM>(&packet)))
    throw Error(L"The main thread did not answer a worker's call");
  if (packet.error) std::rethrow_exception(packet.error);
}

// ---------------------------------------------------------------------------
// Waiting

void Watchdog::Enable(uint64_t now) {
  if (enabled_) return;
  enabled_ = true;
  due_ = now + interval_;
}

uint64_t Watchdog::Remaining(uint64_t now) const { return now >= due_ ? 0 : due_ - now; }

Watchdog::Verdict Watchdog::Check(Variables& variables, uint64_t now) {
  if (!enabled_ || now < due_) return Verdict::kNotDue;
  enabled_ = false;
  TVariableManager& store = variables.Store();
  const std::wstring delegateTick = store.GetValue(kVarLastDelegateTick);
  if (store.GetValue(kVarLastActiveTick) == delegateTick) return Verdict::kStop;
  store.SetValue(kVarLastActiveTick, delegateTick);
  Enable(now);
  return Verdict::kRearmed;
}

namespace {

// Longest single block of a non-silent wait: a cancel set without a window
// message (by another thread) is still seen promptly.
constexpr DWORD kLongestBlock = 250;

// One posted message at most; sent messages are served by PeekMessage itself.
void HandleOneMessage() {
  MSG message;
  if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return;
  if (message.message == WM_QUIT) return;  // the engine runs no top-level GetMessage loop
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

}  // namespace

WaitOutcome WaitForWorker(WorkerThread& worker, Variables& variables, const WaitOptions& options) {
  BindMainThread();
  Watchdog watchdog(options.watchdogInterval);
  bool cancelSeen = false;
  HANDLE done = worker.CompletionEvent();
  if (!worker.Started()) return WaitOutcome::kFinished;
  while (!worker.Finished()) {
    if (options.scriptProgress) PublishScriptProgress(variables, options.clock);
    if (options.silent) {
      // Blocks on the worker; only sent messages (calls from the worker) are served.
      if (MsgWaitForMultipleObjectsEx(1, &done, INFINITE, QS_SENDMESSAGE, 0) == WAIT_OBJECT_0 + 1) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
      }
    } else {
      DWORD block = kLongestBlock;
      if (watchdog.Enabled())
        block = static_cast<DWORD>(std::min<uint64_t>(block, watchdog.Remaining(options.clock())));
      if (MsgWaitForMultipleObjectsEx(1, &done, block, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0 + 1)
        HandleOneMessage();
    }
    if (worker.Finished()) break;
    if (IsCancelled(variables)) {
      if (!std::exchange(cancelSeen, true)) {
        worker.RequestStop();
        if (options.primeWatchdog)
          variables.Store().SetValue(kVarLastActiveTick, variables.Store().GetValue(kVarLastDelegateTick));
        if (options.onCancel) options.onCancel();
      }
      if (!options.windDown) watchdog.Enable(options.clock());
    }
    if (watchdog.Check(variables, options.clock()) == Watchdog::Verdict::kStop) {
      worker.Abandon();
      return WaitOutcome::kAbandoned;
    }
  }
  return WaitOutcome::kFinished;
}

// ---------------------------------------------------------------------------
// Checkpoints and abort

CheckpointOutcome CancellationCheckpoint(const Session& session, Variables& variables, std::wstring_view name,
                                         bool announce) {
  if (!IsCancelled(variables)) return CheckpointOutcome::kNotCancelled;
  if (announce && !IsTrueFlag(variables.Get(L"ABORTEDONERROR")) && !session.silent)
    ShowEngineMessage(session, variables, EngineMessage{std::wstring(kSetupCancelledText)});
  if (IsTrueFlag(variables.Get(L"ABORTONERROR"))) return CheckpointOutcome::kAbort;
  variables.Set(L"ABORTEDONERROR", L"TRUE", L"Cancel at " + std::wstring(name) + L" Time");
  return CheckpointOutcome::kCancelledContinue;
}

namespace {

std::function<void()>& AbortRollback() {
  static std::function<void()> rollback;
  return rollback;
}

}  // namespace

void SetAbortRollback(std::function<void()> rollback) { AbortRollback() = std::move(rollback); }

void AbortRun(StatementContext& c) {
  if (AbortRollback()) AbortRollback()();
  c.endRun = true;
}

bool WaitAtCheckpoint(StatementContext& c, WorkerThread& worker, std::wstring_view name, WaitOptions options) {
  options.silent = c.session.silent;
  WaitForWorker(worker, c.variables, options);
  if (CancellationCheckpoint(c.session, c.variables, name) != CheckpointOutcome::kAbort) return true;
  AbortRun(c);
  return false;
}

// ---------------------------------------------------------------------------
// Errors reported to the script

void ReportLastError(StatementContext& c, std::wstring_view text) { c.variables.Set(L"LASTERROR", text, c.Source()); }

void FailOrReport(StatementContext& c, std::wstring_view text) {
  if (IsTrueFlag(c.variables.Get(L"ABORTONERROR"))) throw Error(std::wstring(text));
  ReportLastError(c, text);
}

}  // namespace qv
