// The predefined variables a run starts with, and the run-state refresh
// before every statement.
#pragma once

#include "bootstrap/Session.h"
#include "components/ComponentList.h"
#include "interpreter/VariableStore.h"

namespace qv {

inline constexpr std::wstring_view kSourcePreInitialization = L"Pre-Initialization";
inline constexpr std::wstring_view kSourceInitialization = L"Initialization";

// Worker progress variables, stored directly.
void DeclareProgressVariables(Variables& variables);
// TARGETDIR, STARTMENU, ALLUSERS.
void DeclarePreInitialization(const Session& session, Variables& variables);
// The session variables, in the order of their first assignment.
void DeclareSessionVariables(const Session& session, Variables& variables);
// Command-line variables: the plain list, then the strict list.
void ApplyCommandLineVariables(const Session& session, Variables& variables);
// Before every statement: LOGGED, SILENT, TITLE, QIVALOGO, DATE, TIME.
void RefreshRunState(Session& session, Variables& variables, ComponentList& components);

}  // namespace qv
