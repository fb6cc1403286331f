// The setup executable's main routine: everything between process start and
// the hand-over to the interpreter, and the way the process ends.
#pragma once

namespace qv {

// Runs a whole setup and returns the process exit code.
int RunSetup();

}  // namespace qv
