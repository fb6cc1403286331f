// "Display Dialog" and "Hide Dialog". The dialog host itself is not here
// yet: a dialog is answered "NEXT" without a window, as a silent run does.
#pragma once

namespace qv {

struct StatementContext;

void DisplayDialogStatement(StatementContext& c);
void HideDialogStatement(StatementContext& c);

}  // namespace qv
