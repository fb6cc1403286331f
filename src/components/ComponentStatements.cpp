#include "components/ComponentStatements.h"

#include "cache/EngineCache.h"
#include "commands/VariableSeams.h"
#include "common/Files.h"
#include "interpreter/Expansion.h"
#include "interpreter/Statements.h"

#include <string>

namespace qv {

namespace {

bool LocalisationActive(const StatementContext& c) { return !c.variables.Get(L"LANGUAGE").empty(); }

// Statement text `ordinal` (parameter k): translated through the statement-text
// seam while a language is active, then expanded.
std::wstring LocalisedText(const StatementContext& c, size_t k, int ordinal) {
  std::wstring text = c.Parameter(k);
  if (LocalisationActive(c)) text = Seams().translate(text, c.Parameter(0), ordinal);
  return c.variables.Expand(text);
}

std::wstring ComponentName(const StatementContext& c) { return LocalisedText(c, 1, 1); }

bool FlagParameter(const StatementContext& c, size_t k) { return IsTrueFlag(c.Parameter(k)); }

// Result variable of parameter 2; nothing is stored when it is empty.
void SetResultParameter(StatementContext& c, std::wstring_view value) {
  const std::wstring name = ReadVariableName(c.Parameter(2));
  if (!name.empty()) c.SetResult(name, value);
}

}  // namespace

// 1 name (text 1), 2 selected, 3 description (text 2).
void DefineComponentStatement(StatementContext& c) {
  const std::wstring name = ComponentName(c);
  if (LocalisationActive(c)) {
    // A translated name takes over the size authored under the original name.
    const int64_t size = c.components.SizeOf(c.variables.Expand(c.Parameter(1)));
    if (size != 0) c.components.AddSize(name, size);
  }
  c.components.Define(name, LocalisedText(c, 3, 2), FlagParameter(c, 2));
}

void DeleteComponentStatement(StatementContext& c) { c.components.Delete(ComponentName(c)); }

void SetComponentVisibilityStatement(StatementContext& c) {
  c.components.SetVisible(ComponentName(c), FlagParameter(c, 2));
}

void SetComponentChoiceStatement(StatementContext& c) {
  c.components.SetChangeable(ComponentName(c), FlagParameter(c, 2));
}

void SetComponentStateStatement(StatementContext& c) { c.components.SetSelected(ComponentName(c), FlagParameter(c, 2)); }

void SetComponentSpaceStatement(StatementContext& c) {
  c.components.SetSpace(ComponentName(c), c.ValueParameter(2));
}

void GetComponentStateStatement(StatementContext& c) {
  SetResultParameter(c, c.components.IsChosen(ComponentName(c)) ? L"TRUE" : L"FALSE");
}

// With an empty name: the space the current choice needs beyond what is installed.
void GetComponentSpaceStatement(StatementContext& c) {
  const std::wstring name = ComponentName(c);
  int64_t bytes = 0;
  if (name.empty())
    bytes = c.components.SpaceNeeded();
  else if (c.components.Exists(name))
    bytes = c.components.SizeOf(name);
  SetResultParameter(c, std::to_wstring(bytes));
}

void SaveFeatureSelectionsStatement(StatementContext& c) {
  SaveState(c.ValueParameter(1), c.session, c.variables, c.components, /*withDataFolder=*/false);
}

void LoadFeatureSelectionsStatement(StatementContext& c) {
  LoadState(c.ValueParameter(1), c.variables, c.components, ComponentLoad::kApplyChoice);
}

}  // namespace qv
