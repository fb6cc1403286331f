// The statement table: each statement name the interpreter executes itself
// maps to its handler, in one place. Later subsystems add rows here.
#pragma once

#include "bootstrap/Session.h"
#include "commands/TextFiles.h"
#include "components/ComponentList.h"
#include "interpreter/VariableStore.h"

#include <string>
#include <string_view>

namespace qv {

// State the statements share across the run, owned by the interpreter.
struct RunState {
  TextFileReader textReader;
  ComponentList components;
};

// What a handler sees of the run: the script, the current row, the store
// and the run's shared state.
struct StatementContext {
  Session& session;
  Variables& variables;
  TextFileReader& textReader;
  ComponentList& components;
  size_t row;           // zero-based row of the statement
  bool endRun = false;  // set by statements that end the run
  std::wstring dialogOutcome;  // "NEXT", "BACK", "CANCEL", ... of "Display Dialog"

  const std::wstring& Name() const { return session.script->names[row]; }
  // Parameter k, raw (k = 0 is the identifier).
  std::wstring Parameter(size_t k) const { return session.script->Parameter(row, k); }
  std::wstring ValueParameter(size_t k) const;
  std::wstring PathParameter(size_t k) const;
  // Statements pass their name followed by " Action" as the source.
  std::wstring Source() const { return Name() + L" Action"; }
  // Result variables: created empty with an upper-case name when missing,
  // then assigned through the protected assignment.
  void CreateResult(std::wstring_view name);
  void SetResult(std::wstring_view name, std::wstring_view value);
};

using StatementHandler = void (*)(StatementContext&);

// The handler for a statement name (compared exactly), or nullptr for names
// that do nothing at run time.
StatementHandler FindStatementHandler(std::wstring_view name);

}  // namespace qv
