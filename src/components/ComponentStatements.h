// The component statements: "Define Component" and its companions change the
// run's component list; "Get Component State"/"Get Component Space" read it;
// "Save Feature Selections"/"Load Feature Selections" move a choice through a
// file in the saved-state format.
#pragma once

namespace qv {

struct StatementContext;

void DefineComponentStatement(StatementContext& c);
void DeleteComponentStatement(StatementContext& c);
void SetComponentVisibilityStatement(StatementContext& c);
void SetComponentChoiceStatement(StatementContext& c);
void SetComponentStateStatement(StatementContext& c);
void SetComponentSpaceStatement(StatementContext& c);
void GetComponentStateStatement(StatementContext& c);
void GetComponentSpaceStatement(StatementContext& c);
void SaveFeatureSelectionsStatement(StatementContext& c);
void LoadFeatureSelectionsStatement(StatementContext& c);

}  // namespace qv
