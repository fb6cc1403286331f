// The compilation pass. Before the first statement runs, the whole statement
// table is checked once: block structure, counts, labels, and the parameters
// statements cannot do without. The variable store serves as the symbol
// table, so "defined" means "in the store at this point of the pass". The
// first fault ends the pass; the run does not start when there is one.
#include "script/Compiler.h"

#include "common/Text.h"
#include "interpreter/Expansion.h"
#include "interpreter/Expression.h"
#include "interpreter/VariableStore.h"

#include <array>
#include <exception>
#include <numeric>
#include <unordered_map>

namespace qv {

namespace {

constexpr std::wstring_view kSource = L"Compilation";

// The names the engine fills before the script runs, declared so that the
// script may test and read them without setting them first.
struct Predefined {
  std::wstring_view name;
  std::wstring_view value;
};
constexpr Predefined kPredefined[] = {
    {L"CHARSET_OVERRIDE", L""},
    {L"QIVA_TIMEOUT", L"FALSE"},
    {L"GPOPATH", L"FALSE"},
    {L"SETUPPATH", L"FALSE"},
    {L"NATIVE_ENGINE", L"FALSE"},
    {L"NATIVE_OLDLOG", L""},
    {L"NATIVE_LOGGING", L""},
    {L"NATIVE_ROLLBACK", L"TRUE"},
    {L"NATIVE_HARDLINK", L"TRUE"},
    {L"NATIVE_ERROR", L"PROMPT"},
    {L"NATIVE_OVERWRITE", L"PROMPT"},
    {L"NATIVE_OVERWRITE_OLDER", L"FALSE"},
    {L"NATIVE_OVERRIDE_PERMISSIONS", L"FALSE"},
    {L"NATIVE_OVERRIDE_NON_RESTORABLE_PERMISSIONS", L"FALSE"},
    {L"NATIVE_PROGRESS", L"0"},
    {L"DELAYUNTIL_APPLYCHANGES", L"FALSE"},
    {L"QIVA_COMPRESSCACHE", L""},
    {L"QIVA_DISABLEROLLBACK", L""},
    {L"QIVA_DISABLEVISTARESTARTMANAGER", L""},
    {L"IISHOST", L""},
    {L"OVERRIDECACHE", L""},
    {L"QIVALOGO", L""},
    {L"TIME", L""},
    {L"DATE", L""},
    {L"NEWINSTANCE", L""},
    {L"SELECTED", L""},
    {L"WINDOWHANDLE", L""},
    {L"EXEDIR", L""},
    {L"EXEFILE", L""},
    {L"UNINSTALLLINK", L""},
    {L"ENGINECACHE", L""},
    {L"COPYWEBLOCK", L""},
    {L"ABORT", L""},
    {L"SILENT", L""},
    {L"LOGGED", L""},
    {L"CMDLINE", L""},
    {L"REBOOTNOW", L""},
    {L"SFXPATH", L""},
    {L"SFXFILE", L""},
    {L"LASTERROR", L""},
    {L"PROGRESSMODE", L""},
    {L"CUSTOM_TASKBAR_PROGRESS_ENABLED", L""},
    {L"CUSTOM_TASKBAR_PROGRESS_PERCENT", L""},
    {L"CUSTOM_TASKBAR_PROGRESS_MAX", L""},
    {L"PROGRESSTEXT", L""},
    {L"PROGRESS", L""},
    {L"LICENSE", L""},
    {L"USERNAME", L""},
    {L"USERCOMPANY", L""},
    {L"REBOOTCOMPUTER", L""},
    {L"RUNAPP", L""},
    {L"WIZARD", L""},
    {L"FX", L""},
    {L"FXGROUND", L""},
    {L"FXTIME", L""},
    {L"VERSION", L""},
    {L"TARGETDIR", L""},
    {L"STARTMENU", L""},
    {L"ADVERTISE", L""},
    {L"ALLUSERS", L""},
    {L"COMPLETE", L""},
    {L"MINIMUM", L""},
    {L"PERSONALIZED", L""},
    {L"GLASS", L""},
    {L"MODIFY", L""},
    {L"REPAIR", L""},
    {L"REMOVE", L""},
    {L"DATADIR", L""},
    {L"PRODUCTCODE", L""},
    {L"REVISIONCODE", L""},
    {L"ROOTDIR", L""},
    {L"MAINTENANCE", L""},
    {L"NEWLINE", L""},
    {L"NEEDSUPGRADE", L""},
    {L"RECOMMENDEDUPGRADE", L""},
    {L"TITLE", L""},
    {L"COMPANY", L""},
    {L"TEMPDIR", L""},
    {L"SUPPORTDIR", L""},
    {L"MSIFILE", L""},
    {L"LANGUAGE", L""},
    {L"ABORTONERROR", L""},
    {L"ABORTEDONERROR", L""},
    {L"SAVEDATA", L""},
};

// The first fault found; it ends the pass.
struct Fault {
  int64_t row;
  std::wstring message;
};

// Block kinds with their own depth and scope records. "If" and "Wizard Loop"
// both open a conditional-kind block closed by "End"; only "If" deepens it.
enum Block : size_t { kConditional, kWhile, kRepeat, kForEach, kBlockKinds };

struct BlockMessages {
  std::wstring_view closedOutside;  // a closer with no block of its kind open
  std::wstring_view closedAcross;   // a closer that cuts across another kind's block
  std::wstring_view insufficient;   // more openers than closers in the table
  std::wstring_view tooMany;        // more closers than openers
};
constexpr BlockMessages kBlockMessages[kBlockKinds] = {
    {L"IF conditional closed outside of IF conditional scope", L"IF conditional closed outside of LOOP scope",
     L"Insufficient END statements", L"Too many END statements"},
    {L"WHILE loop closed outside of WHILE loop scope",
     L"WHILE loop closed outside of CONDITIONAL or REPEAT or FOR EACH loop scope", L"Insufficient WEND statements",
     L"Too many WEND statements"},
    {L"REPEAT loop closed outside of REPEAT loop scope",
     L"REPEAT loop closed outside of CONDITIONAL or WHILE or FOR EACH loop scope", L"Insufficient UNTIL statements",
     L"Too many UNTIL statements"},
    {L"FOR EACH loop closed outside of FOR EACH loop scope",
     L"FOR EACH loop closed outside of CONDITIONAL or REPEAT or WHILE loop scope", L"Insufficient NEXT statements",
     L"Too many NEXT statements"},
};

using Depths = std::array<int, kBlockKinds>;

// Block bookkeeping of the structure walk. A scope record is the depths of
// every kind when a block opened; the block may close only when the other
// kinds are back at those depths, i.e. no other block was left open or
// closed across it.
struct BlockState {
  Depths opened{};  // openers counted so far, per kind
  Depths closed{};  // closers counted so far
  Depths depth{};
  std::array<std::vector<Depths>, kBlockKinds> records;

  int OpenDepth() const {
    return std::accumulate(opened.begin(), opened.end(), 0) - std::accumulate(closed.begin(), closed.end(), 0);
  }
  bool LoopOpen() const {
    for (size_t kind = kWhile; kind < kBlockKinds; ++kind)
      if (opened[kind] != closed[kind]) return true;
    return false;
  }
  void Open(Block kind) {
    ++opened[kind];
    ++depth[kind];
    records[kind].push_back(depth);
  }
  // Nothing when the block closes properly, else the fault message.
  std::wstring_view Close(Block kind) {
    ++closed[kind];
    --depth[kind];
    auto& stack = records[kind];
    if (stack.empty()) return kBlockMessages[kind].closedOutside;
    for (size_t other = 0; other < kBlockKinds; ++other)
      if (other != kind && stack.back()[other] != depth[other]) return kBlockMessages[kind].closedAcross;
    stack.pop_back();
    return {};
  }
};

bool IsLoopCloser(std::wstring_view name) { return name == L"Wend" || name == L"Until" || name == L"Next"; }

// Windows file-name rules: no reserved characters or control characters, no
// trailing space or dot, not a device name (with or without an extension).
bool IsLegalFileName(std::wstring_view name) {
  if (name.empty() || name.size() > 255) return false;
  for (const wchar_t c : name)
    if (c < 0x20 || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos) return false;
  if (name.back() == L' ' || name.back() == L'.') return false;
  std::wstring_view base = name.substr(0, name.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
  for (const std::wstring_view device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
    if (EqualsNoCase(base, device)) return false;
  if (base.size() == 4 && (StartsWithNoCase(base, L"COM") || StartsWithNoCase(base, L"LPT"))) {
    const wchar_t unit = base[3];
    if ((unit >= L'0' && unit <= L'9') || unit == L'\u00B9' || unit == L'\u00B2' || unit == L'\u00B3') return false;
  }
  return true;
}

class Pass {
public:
  Pass(const Script& script, Variables& symbols)
      : script_(script), symbols_(symbols), installFlags_(script.StatementCount(), L"SKIP") {}

  std::vector<std::wstring> TakeInstallFlags() { return std::move(installFlags_); }

  void Run() {
    DeclareSymbols();
    CheckStructure();
    CheckBalance();
    CollectLabels();
    DeclareRememberedVariables();
    CheckStatements();
    CheckWizardLoops();
  }

  // What the statement checks work with: the current row and its raw parameters.
  std::wstring Param(size_t k) const { return script_.Parameter(row_, k); }
  [[noreturn]] void Fail(std::wstring message) const { throw Fault{static_cast<int64_t>(row_), std::move(message)}; }

  // A variable may be written as NAME or $NAME$.
  bool Defined(std::wstring_view text) const {
    return !text.empty() && (symbols_.Exists(text) || symbols_.Exists(ReadVariableName(text)));
  }
  void Declare(std::wstring_view text) {
    const std::wstring name = UpperCase(ReadVariableName(text));
    if (!symbols_.Exists(name)) symbols_.Set(name, L"", kSource);
  }
  void Required(std::wstring_view text) {
    if (text.empty()) Fail(L"Variable required");
    Declare(text);
  }
  void Declared(std::wstring_view text) {
    if (!text.empty()) Declare(text);
  }
  void MustBeDefined(std::wstring_view text) const {
    if (!Defined(text)) Fail(L"Variable not defined: " + std::wstring(text));
  }
  void MarkInstall() { installFlags_[row_] = L"FALSE"; }
  bool LabelExists(std::wstring_view name) const {
    const std::wstring upper = UpperCase(name);
    for (const auto& label : labels_)
      if (label == upper) return true;
    return false;
  }

  // "For Each" variables of the loops open at the current row.
  void EnterForEach(std::wstring_view text) {
    Declare(text);
    forEachVariables_.push_back(UpperCase(ReadVariableName(text)));
  }
  void LeaveForEach() {
    if (forEachVariables_.empty()) return;
    symbols_.Delete(forEachVariables_.back());
    forEachVariables_.pop_back();
  }

private:
  bool Skipped(size_t row) const { return script_.IsCommentedOut(row); }
  const std::wstring& Name(size_t row) const { return script_.names[row]; }

  void DeclareSymbols() {
    symbols_.Clear();
    for (const auto& symbol : kPredefined) symbols_.Set(symbol.name, symbol.value, kSource);
  }

  void CheckStructure() {
    // An "End" beyond the openers of the whole table is left to the count
    // check, which reports it as "Too many END statements" with no row.
    int conditionalBalance = 0;
    for (size_t row = 0; row < script_.StatementCount(); ++row) {
      if (Skipped(row)) continue;
      if (Name(row) == L"If" || Name(row) == L"Wizard Loop") ++conditionalBalance;
      if (Name(row) == L"End") --conditionalBalance;
    }
    const bool strayEndsCounted = conditionalBalance < 0;

    BlockState blocks;
    // Only dialogs may stand inside a wizard loop, so the first "End" after
    // it is its own. "If" inside one is reported by the wizard check; here it
    // ends the wizard loops, so that their "End" closes the "If".
    int openWizardLoops = 0;
    std::vector<std::wstring> forEachVariables;
    for (row_ = 0; row_ < script_.StatementCount(); ++row_) {
      if (Skipped(row_)) continue;
      const std::wstring& name = Name(row_);
      if (name == L"If") {
        openWizardLoops = 0;
        blocks.Open(kConditional);
      } else if (name == L"Wizard Loop") {
        // Counted with "If" but does not deepen the conditionals: its "End"
        // closes no conditional record.
        ++blocks.opened[kConditional];
        ++openWizardLoops;
      } else if (name == L"End") {
        if (openWizardLoops > 0) {
          ++blocks.closed[kConditional];
          --openWizardLoops;
        } else if (blocks.records[kConditional].empty() && strayEndsCounted) {
          ++blocks.closed[kConditional];
          --blocks.depth[kConditional];
        } else if (const auto fault = blocks.Close(kConditional); !fault.empty()) {
          Fail(std::wstring(fault));
        }
      } else if (name == L"Break" || name == L"Continue") {
        if (!blocks.LoopOpen()) Fail(name + L" not allowed outside of LOOP scope");
      } else if (name == L"While") {
        blocks.Open(kWhile);
      } else if (name == L"Repeat") {
        blocks.Open(kRepeat);
      } else if (name == L"For Each") {
        const std::wstring variable = ReadVariableName(Param(1));
        for (const auto& open : forEachVariables)
          if (EqualsNoCase(open, variable)) Fail(L"FOR EACH variable re-used inside nested FOR EACH loop");
        forEachVariables.push_back(variable);
        blocks.Open(kForEach);
      } else if (IsLoopCloser(name)) {
        const Block kind = name == L"Wend" ? kWhile : name == L"Until" ? kRepeat : kForEach;
        if (const auto fault = blocks.Close(kind); !fault.empty()) Fail(std::wstring(fault));
        if (kind == kForEach) forEachVariables.pop_back();
      } else if (name == L"Label") {
        if (blocks.OpenDepth() > 0) Fail(L"LABEL statements cannot be nested inside loops/conditionals");
      }
    }
    opened_ = blocks.opened;
    closed_ = blocks.closed;
  }

  void CheckBalance() const {
    for (size_t kind = 0; kind < kBlockKinds; ++kind) {
      if (opened_[kind] == closed_[kind]) continue;
      const auto& messages = kBlockMessages[kind];
      throw Fault{CompileResult::kNoRow,
                  std::wstring(closed_[kind] < opened_[kind] ? messages.insufficient : messages.tooMany)};
    }
  }

  void CollectLabels() {
    for (row_ = 0; row_ < script_.StatementCount(); ++row_) {
      if (Skipped(row_) || Name(row_) != L"Label") continue;
      const std::wstring label = Param(1);
      if (LabelExists(label)) Fail(L"LABEL re-defined: " + label);
      labels_.push_back(UpperCase(label));
    }
  }

  // A remembered variable keeps its value from an earlier run, so every
  // statement may read it, also those before the "Set Variable" that sets it.
  void DeclareRememberedVariables() {
    for (row_ = 0; row_ < script_.StatementCount(); ++row_) {
      if (Skipped(row_) || Name(row_) != L"Set Variable") continue;
      const std::wstring target = Param(1);
      const size_t separator = target.find(kRememberSeparator);
      if (separator == std::wstring::npos) continue;
      if (std::wstring_view(target).substr(separator + kRememberSeparator.size()) != L"TRUE") continue;
      Declared(std::wstring_view(target).substr(0, separator));
    }
  }

  void CheckStatements();

  void CheckWizardLoops() {
    bool inWizard = false;
    for (row_ = 0; row_ < script_.StatementCount(); ++row_) {
      if (Skipped(row_)) continue;
      const std::wstring& name = Name(row_);
      if (inWizard) {
        if (name == L"End")
          inWizard = false;
        else if (name != L"Display Dialog" && name != L"Comment" && name != L"Ignore")
          Fail(L"Statements other than DISPLAY DIALOG not allowed inside WIZARD LOOP");
      } else if (name == L"Wizard Loop") {
        inWizard = true;
      }
    }
  }

  const Script& script_;
  Variables& symbols_;
  std::vector<std::wstring> installFlags_;
  size_t row_ = 0;
  Depths opened_{};
  Depths closed_{};
  std::vector<std::wstring> labels_;            // upper case
  std::vector<std::wstring> forEachVariables_;  // declared names, innermost last
};

// Checks of single statements. Parameter numbers follow each statement's
// block order.
using Check = void (*)(Pass&);

template <size_t k>
void RequiredAt(Pass& p) {
  p.Required(p.Param(k));
}
template <size_t k>
void DeclaredAt(Pass& p) {
  p.Declared(p.Param(k));
}
template <size_t k>
void DefinedAt(Pass& p) {
  p.MustBeDefined(p.Param(k));
}
void InstallStatement(Pass& p) { p.MarkInstall(); }

void WebMediaBlock(Pass& p) {
  const std::wstring block = p.Param(1);
  if (!IsLegalFileName(block)) p.Fail(L"Web Media Block name must be a legal file name");
  if (p.Param(2).empty()) p.Fail(L"Web Media Block must have at least one download URL");
}

void SetVariable(Pass& p) {
  const std::wstring target = p.Param(1);
  p.Required(std::wstring_view(target).substr(0, target.find(kRememberSeparator)));
}

// The result may be left out for the operations that only seed the random generator.
void Mathematics(Pass& p) {
  const std::wstring operation = p.Param(3);
  const std::wstring result = p.Param(4);
  if (result.empty() && (operation == L"13" || operation == L"14")) return;
  p.Required(result);
}

void ReadFromTextFile(Pass& p) {
  p.Required(p.Param(2));
  p.Declared(p.Param(3));
}

void ParseString(Pass& p) {
  const std::wstring first = p.Param(3), second = p.Param(4);
  if (first.empty() && second.empty()) p.Fail(L"Variable required");
  p.Declared(first);
  p.Declared(second);
}

// References become quoted operands, so only the shape of the expression is judged.
void EvaluateExpression(Pass& p) {
  p.Required(p.Param(2));
  std::wstring expression = p.Param(1);
  for (auto& c : expression)
    if (c == L'$') c = L'"';
  bool wellFormed = false;
  try {
    wellFormed = EvaluateExpressionText(expression) != L"ERROR";
  } catch (const std::exception&) {
    // Two integer constants out of the 32-bit range: this can never evaluate.
  }
  if (!wellFormed)
    p.Fail(L"Syntax error in expression. Please review the help topic \"Evaluate Expression\" for the correct syntax.");
}

void ReadRegistry(Pass& p) {
  const std::wstring target = p.Param(1);
  p.Required(std::wstring_view(target).substr(0, target.find(L'|')));
}

void SystemRestore(Pass& p) {
  if (IsTrueFlag(p.Param(1))) p.Required(p.Param(3));
}

void DisplayDialog(Pass& p) {
  if (p.Param(1).empty()) p.Fail(L"Dialog name not specified");
  p.Declared(p.Param(2));
  if (const std::wstring bound = p.Param(4); !bound.empty()) p.MustBeDefined(bound);
}

// Comparison "5" asks whether the variable exists, so it may be set later.
// Otherwise the tested variable, and a value written as $NAME$, must exist;
// the value is named when both are missing.
void Condition(Pass& p) {
  const std::wstring variable = p.Param(1);
  if (variable.empty()) p.Fail(L"Variable required");
  if (p.Param(2) == L"5") return;
  const std::wstring value = p.Param(3);
  if (ReadVariableName(value) != value) p.MustBeDefined(value);
  p.MustBeDefined(variable);
}

void ForEach(Pass& p) {
  const std::wstring variable = p.Param(1);
  if (variable.empty()) p.Fail(L"Variable required");
  if (p.Defined(variable)) p.Fail(L"FOR EACH variable previously defined outside FOR EACH loop");
  p.EnterForEach(variable);
}

void Next(Pass& p) { p.LeaveForEach(); }

void GoToLabel(Pass& p) {
  const std::wstring label = p.Param(1);
  if (!p.LabelExists(label)) p.Fail(L"LABEL undefined: " + label);
}

void DeleteFiles(Pass& p) {
  if (!IsTrueFlag(p.Param(3)) && !IsTrueFlag(p.Param(4))) p.Fail(L"At least one delete mode must be selected");
  p.MarkInstall();
}

void InstallFiles(Pass& p) {
  if (p.Param(3).empty())
    p.Fail(
        L"A target folder must be specified for files that are being installed.\r"
        L"The value $TARGETDIR$ represents the destination folder chosen by the user.");
  p.MarkInstall();
}

struct StatementCheck {
  std::wstring_view name;
  Check check;
};

constexpr StatementCheck kStatementChecks[] = {
    {L"Web Media Block", WebMediaBlock},
    // Result variable first.
    {L"Get Folder Location", RequiredAt<1>},
    {L"Get INI File Settings", RequiredAt<1>},
    {L"Get XML File Settings", RequiredAt<1>},
    {L"Check File Version", RequiredAt<1>},
    {L"Get System Settings", RequiredAt<1>},
    {L"Get OS or SP Level", RequiredAt<1>},
    {L"Find All Registry", RequiredAt<1>},
    {L"Find All Computers", RequiredAt<1>},
    {L"Does File/Folder Exist", RequiredAt<1>},
    {L"Localization Variable", RequiredAt<1>},
    {L"Get Temporary File", RequiredAt<1>},
    {L"Get IIS Property", RequiredAt<1>},
    {L"Get IIS Site List", RequiredAt<1>},
    {L"Check Disk Space", RequiredAt<1>},
    {L"IIS Anonymous User", RequiredAt<1>},
    {L"Set Variable", SetVariable},
    // Result variable second.
    {L"Is MSI Setup Installed", RequiredAt<2>},
    {L"Is Native Setup Installed", RequiredAt<2>},
    {L"Is File Locked", RequiredAt<2>},
    {L"Get File Version", RequiredAt<2>},
    {L"Get Environment", RequiredAt<2>},
    {L"Get IIS Site Index", RequiredAt<2>},
    {L"Check Process", RequiredAt<2>},
    {L"Check Computer", RequiredAt<2>},
    {L"Get Component State", RequiredAt<2>},
    {L"Get Component Space", RequiredAt<2>},
    {L"Evaluate XPath Query", RequiredAt<3>},
    {L"Check Service", RequiredAt<3>},
    {L"Find All Files", RequiredAt<4>},
    {L"Mathematics", Mathematics},
    {L"Read from Text File", ReadFromTextFile},
    {L"Parse String", ParseString},
    {L"Evaluate Expression", EvaluateExpression},
    {L"Read Registry", ReadRegistry},
    {L"Check Registry", ReadRegistry},
    {L"System Restore", SystemRestore},
    // Optional result variables.
    {L"Extract 7Zip Archive", DeclaredAt<3>},
    {L"Test 7Zip Archive", DeclaredAt<3>},
    {L"List 7Zip Archive", DeclaredAt<3>},
    {L"Compress 7Zip Archive", DeclaredAt<10>},
    {L"Delete 7Zip Archive", DeclaredAt<4>},
    {L"Run Light Mode Setup", DeclaredAt<2>},
    {L"Apply Changes", DeclaredAt<2>},
    {L"Terminate Process", DeclaredAt<2>},
    {L"Run Program", DeclaredAt<5>},
    {L"Restart Applications", DeclaredAt<5>},
    {L"MessageBox", DeclaredAt<5>},
    {L"Remote Run Program", DeclaredAt<6>},
    {L"Run Program As", DeclaredAt<8>},
    {L"Register Library", DeclaredAt<3>},
    {L"Apply Patch", DeclaredAt<1>},
    {L"Display Dialog", DisplayDialog},
    // Statements that change an existing variable.
    {L"Convert Path", DefinedAt<1>},
    {L"Convert Case", DefinedAt<1>},
    {L"Extract Path", DefinedAt<1>},
    {L"Replace String", DefinedAt<1>},
    // Control flow.
    {L"If", Condition},
    {L"Else If", Condition},
    {L"While", Condition},
    {L"Until", Condition},
    {L"For Each", ForEach},
    {L"Next", Next},
    {L"GoTo Label", GoToLabel},
    // Install statements: queued and performed by "Apply Changes".
    {L"Delete Files", DeleteFiles},
    {L"Install Files", InstallFiles},
    {L"Copy/Move Local Files", InstallStatement},
    {L"Create Folder", InstallStatement},
    {L"Create Shortcut", InstallStatement},
    {L"Advertised Shortcut", InstallStatement},
    {L"Edit INI File", InstallStatement},
    {L"Install Assembly", InstallStatement},
    {L"Set Environment", InstallStatement},
    {L"Install Service", InstallStatement},
    {L"Install ODBC Driver", InstallStatement},
    {L"Create ODBC DSN", InstallStatement},
    {L"Control Service", InstallStatement},
    {L"Configure Service", InstallStatement},
    {L"Configure Service Failure", InstallStatement},
    {L"Write Registry", InstallStatement},
    {L"Create File Type", InstallStatement},
    {L"Advertised File Type", InstallStatement},
};

Check FindCheck(std::wstring_view name) {
  static const auto checks = [] {
    std::unordered_map<std::wstring_view, Check> map;
    for (const auto& row : kStatementChecks) map.emplace(row.name, row.check);
    return map;
  }();
  const auto hit = checks.find(name);
  return hit == checks.end() ? nullptr : hit->second;
}

void Pass::CheckStatements() {
  for (row_ = 0; row_ < script_.StatementCount(); ++row_) {
    if (Skipped(row_)) continue;
    if (const Check check = FindCheck(Name(row_))) check(*this);
  }
}

}  // namespace

CompileResult CompileScript(const Script& script, Variables& symbols) {
  Pass pass(script, symbols);
  CompileResult result;
  try {
    pass.Run();
  } catch (const Fault& fault) {
    result.result = fault.row;
    result.message = fault.message;
  }
  result.installFlags = pass.TakeInstallFlags();
  return result;
}

}  // namespace qv
