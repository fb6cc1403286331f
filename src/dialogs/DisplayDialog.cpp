#include "dialogs/DisplayDialog.h"

#include "dialogs/MessageBoxes.h"
#include "interpreter/Expansion.h"
#include "interpreter/Statements.h"

namespace qv {

// Parameters: 1 dialog name, 2 result variable, 3 wait flag, 4 condition
// variable, 5 unused, 6 skip value.
void DisplayDialogStatement(StatementContext& c) {
  const std::wstring condition = c.Parameter(4);
  if (!condition.empty()) {
    const bool conditionValue = IsTrueFlag(c.variables.Get(ReadVariableName(condition)));
    if (conditionValue == IsTrueFlag(c.Parameter(6))) return;
  }
  c.variables.Set(L"QIVA_IsCancelled", L"FALSE", L"ShowDesign");
  // A silent run shows nothing and answers "NEXT"; without a dialog host so
  // does every run for now.
  c.dialogOutcome = L"NEXT";
  const std::wstring result = c.Parameter(2);
  if (!result.empty()) c.SetResult(ReadVariableName(result), c.dialogOutcome);
}

void HideDialogStatement(StatementContext& c) {
  SetProgressWindow(nullptr);
  c.variables.Set(L"WINDOWHANDLE", L"0", c.Source());
}

}  // namespace qv
