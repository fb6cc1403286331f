#include "interpreter/Statements.h"

#include "commands/StringCommands.h"
#include "commands/TextFiles.h"
#include "components/ComponentStatements.h"
#include "common/Text.h"
#include "dialogs/DisplayDialog.h"
#include "dialogs/MessageBoxes.h"
#include "interpreter/Expansion.h"
#include "interpreter/Expression.h"
#include "native/NativeStatements.h"

#include <utility>

namespace qv {

std::wstring StatementContext::ValueParameter(size_t k) const { return variables.Expand(Parameter(k)); }
std::wstring StatementContext::PathParameter(size_t k) const { return ExpandPath(variables, Parameter(k)); }

void StatementContext::CreateResult(std::wstring_view name) {
  const std::wstring upper = UpperCase(name);
  if (!upper.empty() && !variables.Exists(upper)) variables.Set(upper, L"", Source());
}

void StatementContext::SetResult(std::wstring_view name, std::wstring_view value) {
  CreateResult(name);
  variables.ProtectedSet(name, value, Source());
}

namespace {

// Control statements ("If", loops, labels, termination, ...) are the
// interpreter's own and never reach this table.
constexpr std::pair<std::wstring_view, StatementHandler> kStatements[] = {
    {L"Set Variable", SetVariableStatement},
    {L"Localization Variable", LocalizationVariableStatement},
    {L"Parse String", ParseStringStatement},
    {L"Replace String", ReplaceStringStatement},
    {L"Convert Case", ConvertCaseStatement},
    {L"Convert Path", ConvertPathStatement},
    {L"Extract Path", ExtractPathStatement},
    {L"Get Temporary File", GetTemporaryFileStatement},
    {L"Evaluate Expression", EvaluateExpressionStatement},
    {L"Mathematics", MathematicsStatement},
    {L"Display Dialog", DisplayDialogStatement},
    {L"MessageBox", MessageBoxStatement},
    {L"Hide Dialog", HideDialogStatement},
    {L"Install Files", native::InstallStatement},
    {L"Create Folder", native::InstallStatement},
    {L"Write Registry", native::InstallStatement},
    {L"Delete Files", native::InstallStatement},
    {L"Install Service", native::InstallStatement},
    {L"Control Service", native::InstallStatement},
    {L"Configure Service", native::InstallStatement},
    {L"Configure Service Failure", native::InstallStatement},
    {L"Install ODBC Driver", native::InstallStatement},
    {L"Create ODBC DSN", native::InstallStatement},
    {L"Copy/Move Local Files", native::InstallStatement},
    {L"Edit INI File", native::InstallStatement},
    {L"Set Environment", native::InstallStatement},
    {L"Create Shortcut", native::InstallStatement},
    {L"Create File Type", native::InstallStatement},
    {L"Apply Changes", native::ApplyChangesStatement},
    {L"Apply Patch", native::ApplyPatchStatement},
    {L"Set 64 Bit Mode", native::Set64BitModeStatement},
    {L"Is Native Setup Installed", native::IsNativeSetupInstalledStatement},
    {L"Register Library", native::RegisterLibraryStatement},
    {L"Read from Text File", ReadFromTextFile},
    {L"Write to Text File", WriteToTextFile},
    {L"Define Component", DefineComponentStatement},
    {L"Delete Component", DeleteComponentStatement},
    {L"Set Component Visibility", SetComponentVisibilityStatement},
    {L"Set Component Choice", SetComponentChoiceStatement},
    {L"Set Component State", SetComponentStateStatement},
    {L"Set Component Space", SetComponentSpaceStatement},
    {L"Get Component State", GetComponentStateStatement},
    {L"Get Component Space", GetComponentSpaceStatement},
    {L"Save Feature Selections", SaveFeatureSelectionsStatement},
    {L"Load Feature Selections", LoadFeatureSelectionsStatement},
};

}  // namespace

StatementHandler FindStatementHandler(std::wstring_view name) {
  for (const auto& [statement, handler] : kStatements)
    if (statement == name) return handler;
  return nullptr;
}

}  // namespace qv
