#include "interpreter/Interpreter.h"

#include "bootstrap/TraceLog.h"
#include "cache/EngineCache.h"
#include "common/Error.h"
#include "common/Text.h"
#include "dialogs/MessageBoxes.h"
#include "interpreter/Expansion.h"
#include "interpreter/Expression.h"
#include "interpreter/Predefined.h"
#include "interpreter/Progress.h"
#include "interpreter/Statements.h"
#include "script/Compiler.h"

#include <windows.h>

#include <array>
#include <optional>
#include <utility>

namespace qv {

namespace {

constexpr DWORD kPumpInterval = 315;  // ms between message pumps of the cycle
constexpr size_t kPumpEveryScanned = 313;

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Control state saved when an included script starts and restored when it ends.
struct ControlState {
  std::vector<std::wstring> loopKinds;
  std::vector<std::wstring> loopVariables;
  int openBranches = 0;
  bool skipToEnd = false;
  bool skipToBranch = false;
  bool arrivedAtEnd = false;
  bool wizardActive = false;
  bool returnedFromWizard = false;
};

// The statement cycle. PC counts statements from 1: statement PC is row
// PC - 1, and the normal advance takes row PC next.
class Runner {
public:
  Runner(Session& session, Variables& variables, RunState& runState)
      : session_(session), variables_(variables), script_(*session.script), count_(script_.StatementCount()),
        runState_(runState) {}

  void BuildLabelTable();
  // Runs until the end; returns false after a runtime error.
  bool Run();

private:
  using ControlHandler = void (Runner::*)();

  bool Passive(size_t pc) const { return pc == 0 || pc > count_ || script_.IsPassive(pc - 1); }
  const std::wstring& NameAt(size_t pc) const { return script_.names[pc - 1]; }
  std::wstring Parameter(size_t k) const { return script_.Parameter(pc_ - 1, k); }

  void Cycle();
  void BranchSearch(bool endOnly);
  void TrackIncludes();
  void Advance();
  void NavigateWizard();
  void LeaveWizard(size_t endPc);
  void Dispatch();
  bool DispatchControl(const std::wstring& name);

  // Loop jumps: the statement number of the target, scanning from pc_.
  size_t FindForward(const std::wstring& target, size_t from) const;
  size_t FindBackward(const std::wstring& target, size_t from) const;
  static const wchar_t* CloserOf(const std::wstring& opener);
  static const wchar_t* OpenerOf(const std::wstring& closer);
  void RequireLoop() const;

  void DoIf();
  void DoElseIf();
  void DoElse();
  void DoEnd();
  void DoWhile();
  void DoWend();
  void DoRepeat();
  void DoUntil();
  void DoForEach();
  void DoNext();
  void DoBreak();
  void DoContinue();
  void DoGoTo();
  void DoWizardLoop();
  void DoReturnFromInclude();
  void DoTerminate();
  void DoTerminateWithExitCode();
  void PopLoopVariable(const std::wstring& name);
  long ForEachIndex(const std::wstring& name) const;

  Session& session_;
  Variables& variables_;
  const Script& script_;
  const size_t count_;
  RunState& runState_;
  ScriptProgressRefresh progressRefresh_;

  size_t pc_ = 0;
  ControlState control_;
  int wizardDirection_ = 0;
  bool evaluateElseIf_ = false;  // the branch search stopped at this "Else If"
  bool endClosesBranch_ = false; // the end search stopped at this "End"
  bool ended_ = false;
  std::vector<std::pair<std::wstring, size_t>> labels_;
  std::vector<ControlState> includeStack_;
  int previousDepth_ = 0;
  int currentDepth_ = 0;
  std::wstring resultVariable_ = L"0";
  DWORD lastPump_ = 0;
};

void Runner::BuildLabelTable() {
  for (size_t row = 0; row < count_; ++row)
    if (script_.names[row] == L"Label") labels_.emplace_back(UpperCase(script_.Parameter(row, 1)), row);
}

bool Runner::Run() {
  while (!ended_) {
    try {
      Cycle();
    } catch (const std::exception& error) {
      const std::wstring message =
          dynamic_cast<const Error*>(&error) ? static_cast<const Error&>(error).message() : Utf8ToWide(error.what());
      if (!session_.silent) {
        variables_.Set(L"PROGRESSMODE", L"ERROR", L"Runtime Error");
        const size_t row = pc_ == 0 ? 0 : std::min(pc_, count_) - 1;
        const SourceReference source = ParseSourceReference(Script::Column(script_.sourceReferences, row));
        session_.ShowError(L"Runtime error in setup script:\r\rSource File: " + source.file + L"\rLine Number: " +
                           std::to_wstring(source.line + 1) + L"\r\r" + message);
      }
      return false;
    }
  }
  return true;
}

void Runner::Cycle() {
  if (GetTickCount() - lastPump_ >= kPumpInterval) {
    PumpMessages();
    lastPump_ = GetTickCount();
  }
  RefreshRunState(session_, variables_, runState_.components);
  if (control_.skipToBranch) BranchSearch(false);
  if (control_.skipToEnd) BranchSearch(true);
  TrackIncludes();
  Advance();
  if (pc_ > count_ || count_ == 0) {
    ended_ = true;
    return;
  }
  if (!Passive(pc_)) {
    RefreshCancelState(variables_);
    if (ProgressWindow()) progressRefresh_.Refresh(variables_);
    Dispatch();
  }
  if (pc_ >= count_) ended_ = true;
}

// Scans forward from PC for the next branch of the chain ("Else", "Else If"
// or the closing "End") or, for the end search, for the closing "End" only.
void Runner::BranchSearch(bool endOnly) {
  int depth = 0;
  for (size_t pc = pc_ + 1; pc <= count_; ++pc) {
    if (Passive(pc)) continue;
    const std::wstring& name = NameAt(pc);
    if (name == L"If" || name == L"Wizard Loop") {
      ++depth;
    } else if (name == L"End") {
      if (--depth >= 0) continue;
      pc_ = pc - 1;
      control_.arrivedAtEnd = true;
      endClosesBranch_ = endOnly;
      (endOnly ? control_.skipToEnd : control_.skipToBranch) = false;
      return;
    } else if (!endOnly && depth == 0 && (name == L"Else If" || name == L"Else")) {
      control_.skipToBranch = false;
      if (name == L"Else If") {
        pc_ = pc - 1;
        evaluateElseIf_ = true;
      } else {
        pc_ = pc;
        ++control_.openBranches;
      }
      return;
    }
  }
  throw Error(L"The block has no closing \"End\"");
}

void Runner::TrackIncludes() {
  const IncludeMarker marker = ParseIncludeMarker(Script::Column(script_.includeMarkers, pc_));
  currentDepth_ = marker.depth;
  resultVariable_ = marker.resultVariable;
  if (currentDepth_ > previousDepth_) {
    includeStack_.push_back(control_);
  } else if (currentDepth_ < previousDepth_ && !includeStack_.empty()) {
    control_ = includeStack_.back();
    includeStack_.pop_back();
  }
  previousDepth_ = currentDepth_;
}

void Runner::Advance() {
  if (control_.wizardActive) {
    NavigateWizard();
    return;
  }
  ++pc_;
  while (pc_ < count_ && Passive(pc_)) ++pc_;
}

void Runner::LeaveWizard(size_t endPc) {
  control_.wizardActive = false;
  control_.returnedFromWizard = true;
  pc_ = endPc;  // the loop's "End" runs in this cycle
}

void Runner::NavigateWizard() {
  const auto forwardToEnd = [&](size_t from) {
    for (size_t pc = from; pc <= count_; ++pc)
      if (!Passive(pc) && NameAt(pc) == L"End") return pc;
    throw Error(L"The wizard loop has no closing \"End\"");
  };
  if (wizardDirection_ == 0) {
    LeaveWizard(forwardToEnd(pc_ + 1));
    return;
  }
  for (size_t pc = pc_ + wizardDirection_; pc >= 1 && pc <= count_; pc += wizardDirection_) {
    if (Passive(pc)) continue;
    const std::wstring& name = NameAt(pc);
    if (name == L"Display Dialog") {
      pc_ = pc;
      return;
    }
    if (name == L"End") {
      LeaveWizard(pc);
      return;
    }
    if (name == L"Wizard Loop") {
      LeaveWizard(forwardToEnd(pc + 1));
      return;
    }
  }
  throw Error(L"The wizard loop has no closing \"End\"");
}

const wchar_t* Runner::CloserOf(const std::wstring& opener) {
  if (opener == L"While") return L"Wend";
  if (opener == L"Repeat") return L"Until";
  if (opener == L"For Each") return L"Next";
  return nullptr;
}

const wchar_t* Runner::OpenerOf(const std::wstring& closer) {
  if (closer == L"Wend") return L"While";
  if (closer == L"Until") return L"Repeat";
  if (closer == L"Next") return L"For Each";
  return nullptr;
}

size_t Runner::FindForward(const std::wstring& target, size_t from) const {
  size_t scanned = 0;
  for (size_t pc = from; pc <= count_; ++pc) {
    if (++scanned % kPumpEveryScanned == 0) PumpMessages();
    if (Passive(pc)) continue;
    const std::wstring& name = NameAt(pc);
    if (name == target) return pc;
    if (const wchar_t* closer = CloserOf(name)) pc = FindForward(closer, pc + 1);
  }
  throw Error(L"No \"" + target + L"\" closes this loop");
}

size_t Runner::FindBackward(const std::wstring& target, size_t from) const {
  size_t scanned = 0;
  for (size_t pc = from; pc >= 1; --pc) {
    if (++scanned % kPumpEveryScanned == 0) PumpMessages();
    if (Passive(pc)) continue;
    const std::wstring& name = NameAt(pc);
    if (name == target) return pc;
    if (const wchar_t* opener = OpenerOf(name)) pc = FindBackward(opener, pc - 1);
  }
  throw Error(L"No \"" + target + L"\" opens this loop");
}

void Runner::RequireLoop() const {
  if (control_.loopKinds.empty()) throw Error(L"\"" + NameAt(pc_) + L"\" outside of a loop");
}

void Runner::Dispatch() {
  const std::wstring& name = NameAt(pc_);
  if (DispatchControl(name)) return;
  // The closing "End" of a wizard loop reaches the dispatch, where it does nothing.
  StatementContext context{session_, variables_, runState_.textReader, runState_.components, pc_ - 1};
  if (StatementHandler handler = FindStatementHandler(name)) handler(context);
  if (control_.wizardActive && name == L"Display Dialog") {
    if (context.dialogOutcome == L"NEXT") wizardDirection_ = 1;
    if (context.dialogOutcome == L"BACK") wizardDirection_ = -1;
    if (context.dialogOutcome == L"CANCEL") wizardDirection_ = 0;
  }
  if (context.endRun) ended_ = true;
}

bool Runner::DispatchControl(const std::wstring& name) {
  static constexpr std::array<std::pair<std::wstring_view, ControlHandler>, 18> kControl{{
      {L"If", &Runner::DoIf},
      {L"Else If", &Runner::DoElseIf},
      {L"Else", &Runner::DoElse},
      {L"End", &Runner::DoEnd},
      {L"While", &Runner::DoWhile},
      {L"Wend", &Runner::DoWend},
      {L"Repeat", &Runner::DoRepeat},
      {L"Until", &Runner::DoUntil},
      {L"For Each", &Runner::DoForEach},
      {L"Next", &Runner::DoNext},
      {L"Break", &Runner::DoBreak},
      {L"Continue", &Runner::DoContinue},
      {L"GoTo Label", &Runner::DoGoTo},
      {L"Wizard Loop", &Runner::DoWizardLoop},
      {L"Return from Include Script", &Runner::DoReturnFromInclude},
      {L"Terminate Install", &Runner::DoTerminate},
      {L"Terminate with Exit Code", &Runner::DoTerminateWithExitCode},
      {L"Label", nullptr},
  }};
  for (const auto& [statement, handler] : kControl) {
    if (statement != name) continue;
    if (handler) (this->*handler)();
    return true;
  }
  return false;
}

StatementContext MakeContext(Session& session, Variables& variables, RunState& state, size_t row) {
  return StatementContext{session, variables, state.textReader, state.components, row};
}

void Runner::DoIf() {
  StatementContext context = MakeContext(session_, variables_, runState_, pc_ - 1);
  if (ConditionHolds(context))
    ++control_.openBranches;
  else
    control_.skipToBranch = true;
}

void Runner::DoElseIf() {
  if (!std::exchange(evaluateElseIf_, false)) {
    control_.skipToEnd = true;  // the taken branch ends here
    return;
  }
  DoIf();
}

void Runner::DoElse() { control_.skipToEnd = true; }

void Runner::DoEnd() {
  if (std::exchange(control_.arrivedAtEnd, false)) {
    if (std::exchange(endClosesBranch_, false) && control_.openBranches > 0) --control_.openBranches;
    return;
  }
  if (std::exchange(control_.returnedFromWizard, false)) return;
  if (control_.openBranches > 0) --control_.openBranches;
}

void Runner::DoWhile() {
  StatementContext context = MakeContext(session_, variables_, runState_, pc_ - 1);
  if (ConditionHolds(context)) {
    control_.loopKinds.push_back(L"While");
    return;
  }
  pc_ = FindForward(L"Wend", pc_ + 1);
}

void Runner::DoWend() {
  if (!control_.loopKinds.empty()) control_.loopKinds.pop_back();
  pc_ = FindBackward(L"While", pc_ - 1) - 1;
}

void Runner::DoRepeat() { control_.loopKinds.push_back(L"Repeat"); }

void Runner::DoUntil() {
  if (!control_.loopKinds.empty()) control_.loopKinds.pop_back();
  StatementContext context = MakeContext(session_, variables_, runState_, pc_ - 1);
  if (!ConditionHolds(context)) pc_ = FindBackward(L"Repeat", pc_ - 1) - 1;
}

long Runner::ForEachIndex(const std::wstring& name) const {
  for (size_t i = 0; i < control_.loopVariables.size(); i += 3)
    if (EqualsNoCase(control_.loopVariables[i], name)) return static_cast<long>(i);
  return -1;
}

void Runner::PopLoopVariable(const std::wstring& name) {
  const long at = ForEachIndex(name);
  if (at >= 0) control_.loopVariables.erase(control_.loopVariables.begin() + at, control_.loopVariables.begin() + at + 3);
  variables_.Delete(name);
}

// Parameter 1 names the loop variable; 2 is the separator, 3 the list.
void Runner::DoForEach() {
  const std::wstring name = ReadVariableName(Parameter(1));
  long at = ForEachIndex(name);
  if (at < 0) {
    control_.loopKinds.push_back(L"For Each");
    at = static_cast<long>(control_.loopVariables.size());
    control_.loopVariables.push_back(name);
    control_.loopVariables.push_back(variables_.Expand(Parameter(3)));
    control_.loopVariables.push_back(variables_.Expand(Parameter(2)));
  }
  std::wstring& remaining = control_.loopVariables[static_cast<size_t>(at) + 1];
  const std::wstring separator = control_.loopVariables[static_cast<size_t>(at) + 2];
  std::wstring item;
  if (separator.empty()) {
    // Without a separator the whole list is one item.
    item = std::exchange(remaining, L"");
  } else {
    while (remaining.starts_with(separator)) remaining.erase(0, separator.size());
    const size_t hit = remaining.find(separator);
    if (hit != std::wstring::npos) {
      item = remaining.substr(0, hit);
      remaining.erase(0, hit + separator.size());
    } else {
      item = std::exchange(remaining, separator);
    }
  }
  if (!item.empty()) {
    variables_.Set(name, item, L"For Each Action");
    return;
  }
  pc_ = FindForward(L"Next", pc_ + 1);
  if (!control_.loopKinds.empty()) control_.loopKinds.pop_back();
  PopLoopVariable(name);
}

void Runner::DoNext() { pc_ = FindBackward(L"For Each", pc_ - 1) - 1; }

void Runner::DoBreak() {
  RequireLoop();
  const std::wstring kind = control_.loopKinds.back();
  const size_t closer = FindForward(CloserOf(kind), pc_ + 1);
  if (kind == L"For Each") {
    const size_t opener = FindBackward(L"For Each", pc_ - 1);
    PopLoopVariable(ReadVariableName(script_.Parameter(opener - 1, 1)));
  }
  control_.loopKinds.pop_back();
  pc_ = closer;
}

void Runner::DoContinue() {
  RequireLoop();
  const std::wstring kind = control_.loopKinds.back();
  if (kind != L"For Each") control_.loopKinds.pop_back();
  pc_ = FindBackward(kind, pc_ - 1) - 1;
}

void Runner::DoGoTo() {
  const std::wstring label = UpperCase(Parameter(1));
  for (const auto& [name, row] : labels_) {
    if (name != label) continue;
    pc_ = row;  // the "Label" statement runs next
    control_.openBranches = 0;
    control_.skipToBranch = control_.skipToEnd = control_.arrivedAtEnd = false;
    control_.wizardActive = control_.returnedFromWizard = false;
    return;
  }
  throw Error(L"Label not found: " + Parameter(1));
}

void Runner::DoWizardLoop() {
  control_.wizardActive = true;
  wizardDirection_ = 1;
}

void Runner::DoReturnFromInclude() {
  if (resultVariable_ == L"0" || currentDepth_ <= 0) return;  // the top-level script
  const std::wstring value = variables_.Expand(Parameter(1));
  const std::wstring target = resultVariable_;
  size_t pc = pc_ + 1;
  for (; pc <= count_; ++pc)
    if (ParseIncludeMarker(Script::Column(script_.includeMarkers, pc - 1)).depth == currentDepth_ - 1) break;
  if (pc > count_) throw Error(L"\"Return from Include Script\" has no statement to return to");
  if (!target.empty()) {
    StatementContext context = MakeContext(session_, variables_, runState_, pc_ - 1);
    context.SetResult(target, value);
  }
  pc_ = pc - 1;
}

void Runner::DoTerminate() { ended_ = true; }

// A text that is not an integer gives 0.
void Runner::DoTerminateWithExitCode() {
  session_.exitCode = ParseInt32(variables_.Expand(Parameter(1))).value_or(0);
  ended_ = true;
}

void ExitScript() {
  Trace().Write(L"    <ExitScript>");
  Trace().Write(L"    </ExitScript>");
}

}  // namespace

RunOutcome RunScript(Session& session) {
  Variables& variables = GlobalVariables();
  variables.SetOverrides(session.commandLine.plainOverrides, session.commandLine.strictOverrides);

  Trace().Write(L"    <Variables>");
  variables.Clear();
  Trace().Write(L"    </Variables>");
  Trace().Write(L"    <CompileScript>");
  const CompileResult compiled = CompileScript(*session.script, variables);
  if (!compiled.Passed()) {
    session.exitCode = kExitCompileFailed;
    return RunOutcome::kCompileFailed;
  }
  Trace().Write(L"    </CompileScript>");
  variables.Clear();
  DeclareProgressVariables(variables);
  DeclarePreInitialization(session, variables);
  RunState state;
  state.components.Reset(session.script->componentSizes);
  Trace().Write(L"    <BootStrap>");
  Bootstrap(session, variables, state.components);
  Trace().Write(L"    </BootStrap>");

  Runner runner(session, variables, state);
  runner.BuildLabelTable();
  if (EqualsNoCase(CompilerVariable(*session.script, L"SINGLEINSTANCE"), L"TRUE") &&
      !AcquireSingleInstance(variables.Get(L"REVISIONCODE"))) {
    session.secondInstance = true;
    return RunOutcome::kReturned;
  }
  Trace().Write(L"    <qiva>");
  DeclareSessionVariables(session, variables);
  ApplyCommandLineVariables(session, variables);

  BindMainThread();
  if (!runner.Run()) {
    ExitScript();
    PostRunCacheWork(session, variables, state.components);
    return RunOutcome::kReturned;
  }
  Trace().Write(L"    </qiva>");
  ExitScript();
  PostRunCacheWork(session, variables, state.components);
  return RunOutcome::kEnded;
}

}  // namespace qv
