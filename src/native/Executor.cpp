#include "native/Executor.h"

#include "bootstrap/TraceLog.h"
#include "common/Error.h"
#include "common/Text.h"
#include "interpreter/Expansion.h"
#include "interpreter/Progress.h"
#include "interpreter/VariableStore.h"
#include "script/Script.h"

#include <atomic>
#include <utility>

namespace qv::native {

namespace {

int64_t ReadNumber(const Variables& variables, std::wstring_view name) {
  return ParseInt64(variables.Get(name)).value_or(0);
}

}  // namespace

TNativeThread::TNativeThread(ThreadSetup setup, std::wstring command, std::wstring record, size_t index, Bitness mode)
    : setup_(std::move(setup)),
      policies_(setup_.variables, setup_.silent, [this](std::wstring_view line) { Log(line); }),
      command_(std::move(command)),
      record_(std::move(record)),
      index_(index),
      bitness_(mode) {
  phaseMax_ = setup_.script ? static_cast<uint64_t>(std::max<int64_t>(setup_.script->nativeProgressMax, 0)) : 0;
}

void TNativeThread::Log(std::wstring_view line) { Trace().Write(line); }

bool TNativeThread::ReportProgress(std::wstring_view text, uint64_t delta) {
  Variables& v = setup_.variables;
  const uint64_t done = static_cast<uint64_t>(ReadNumber(v, L"NATIVE_PROGRESS")) + delta;
  v.Set(L"NATIVE_PROGRESS", std::to_wstring(done), L"Native Engine");
  const uint64_t position = command_ == L"ROLLBACK" && phaseMax_ >= done ? phaseMax_ - done : done;
  PublishProgress(v, text, 1, static_cast<int64_t>(phaseMax_), static_cast<int64_t>(position));
  return !TerminateRequested();
}

bool TNativeThread::RecordUndo(std::wstring_view forwardChange, const Fields& data) {
  return setup_.engine.logs.RecordUndo(forwardChange, data, bitness_);
}

void TNativeThread::DropLastUndo() { setup_.engine.logs.DropLastUndo(); }

namespace {

// Fault injection for the transactional tests: with QUORVANE_FAULT_AT=N in
// the environment, the N-th forward change of the process fails as a write
// fault would, before it touches anything. Never set in a real run.
bool InjectedFault() {
  static const long faultAt = [] {
    wchar_t value[32] = {};
    return GetEnvironmentVariableW(L"QUORVANE_FAULT_AT", value, 32) ? static_cast<long>(_wtol(value)) : 0L;
  }();
  static std::atomic<long> changes{0};
  return faultAt > 0 && ++changes == faultAt;
}

}  // namespace

ActionResult TNativeThread::Attempt(const std::function<DWORD()>& change, std::wstring_view object) {
  const bool forward = command_ != L"ROLLBACK" && command_ != L"UNINSTALL";
  for (int retries = 0;; ++retries) {
    const DWORD code = forward && retries == 0 && InjectedFault() ? DWORD{ERROR_WRITE_FAULT} : change();
    if (code == ERROR_SUCCESS) return ActionResult::kDone;
    if (code == ERROR_CANCELLED && TerminateRequested()) return ActionResult::kAborted;
    const ErrorAnswer answer = policies_.HandleError(SystemMessage(code) + L"\r\r" + std::wstring(object), code, retries);
    if (answer.abort) return ActionResult::kAborted;
    if (!answer.retry) return ActionResult::kFailed;
  }
}

bool TNativeThread::RunAction(std::wstring_view name, std::wstring_view record) {
  const std::wstring action(name);
  Log(L"        <" + action + L">");
  const Fields fields = FromCommaText(record);
  const ActionKind* kind = FindActionKind(name);
  if (!kind) throw Error(L"The native engine cannot perform \"" + action + L"\"");
  const bool fileBearing = name == L"Install Files" || name == L"Install Assembly" || name == L"Install Service" ||
                           name == L"Install ODBC Driver";
  const bool outerByteProgress = byteProgress_;
  byteProgress_ = byteProgress_ || fileBearing;
  const BitnessScope scope(bitness_);
  ActionResult result = ActionResult::kAborted;
  if (ReportProgress(kind->progressText(fields), fileBearing ? 0 : KindWeight(name)))
    result = kind->perform(*this, fields);
  byteProgress_ = outerByteProgress;
  if (result == ActionResult::kAborted) return false;
  if (result == ActionResult::kFailed) anyFailed_ = true;
  Log(L"        </" + action + L">");
  return true;
}

namespace {

// An exception that escaped a command is its outcome: -1 and its message.
void StoreException(TNativeEngine& engine, const std::exception& error) {
  engine.result = kNativeException;
  const auto* own = dynamic_cast<const Error*>(&error);
  engine.errorText = own ? own->message() : Utf8ToWide(error.what());
}

}  // namespace

void TNativeThread::RunQueue() {
  delayed_ = true;
  const Bitness saved = bitness_;
  const uint64_t savedMax = phaseMax_;
  phaseMax_ = setup_.engine.queue.WeightTotal();
  TNativeEngine& engine = setup_.engine;
  try {
    Log(L"      <NATIVE DELAYEDINSTALL>");
    engine.result = kNativeSuccess;
    for (const QueueEntry& entry : engine.queue.Entries()) {
      command_ = entry.name;
      index_ = entry.index;
      record_ = entry.record;
      bitness_ = entry.bitness;
      if (!RunAction(command_, record_)) {
        engine.result = kNativeFailed;
        break;
      }
    }
    if (engine.result == kNativeSuccess) {
      Log(L"      </NATIVE DELAYEDINSTALL>");
      if (anyFailed_) engine.result = kNativeFailed;
    }
  } catch (const std::exception& error) {
    StoreException(engine, error);
  }
  bitness_ = saved;
  phaseMax_ = savedMax;
  delayed_ = false;
}

void TNativeThread::RunSingle() {
  TNativeEngine& engine = setup_.engine;
  try {
    if (command_ == L"ROLLBACK" || command_ == L"UNINSTALL") {
      Log(L"      <NATIVE " + command_ + L">");
      engine.result = engine.undoPass ? engine.undoPass(*this, command_ == L"UNINSTALL") : kNativeSuccess;
      Log(L"      </NATIVE " + command_ + L">");
      if (command_ == L"ROLLBACK") engine.result = kNativeSuccess;
      return;
    }
    Log(L"      <NATIVE INSTALL>");
    engine.result = RunAction(command_, record_) && !anyFailed_ ? kNativeSuccess : kNativeFailed;
    Log(L"      </NATIVE INSTALL>");
  } catch (const std::exception& error) {
    StoreException(engine, error);
  }
  // A rollback is best effort: whatever it met, the run goes on as rolled back.
  if (command_ == L"ROLLBACK") engine.result = kNativeSuccess;
}

void TNativeThread::Execute(std::stop_token stop) {
  stop_ = std::move(stop);
  delayed_ = false;
  byteProgress_ = false;
  if (command_ == L"DELAYEDINSTALL")
    RunQueue();
  else
    RunSingle();
}

}  // namespace qv::native
