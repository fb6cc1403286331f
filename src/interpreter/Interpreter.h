// The interpreter's entry: prepares the run (variables, compilation pass,
// predefined variables, label table), walks the statement table one
// statement per cycle and ends the run.
#pragma once

#include "bootstrap/Session.h"

namespace qv {

enum class RunOutcome {
  kEnded,     // normal end: the end sequence ran; the process exits with session.exitCode
  kReturned,  // runtime error, another instance, or cancelled language choice: the entry tears down
  kCompileFailed,  // the compilation pass refused the script: exit code 314, no message
};

RunOutcome RunScript(Session& session);

}  // namespace qv
