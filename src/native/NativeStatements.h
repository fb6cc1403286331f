// The statements of the native installation engine as the interpreter calls
// them: every install statement ("Install Files", "Write Registry", ...)
// goes through InstallStatement, which builds its record and queues it or
// runs it at once; "Apply Changes" runs the queue; "Set 64 Bit Mode" picks
// the bitness; "Apply Patch" reports that the native engine applies no
// patches; "Is Native Setup Installed" looks for a product's logs;
// "Register Library" registers or unregisters one file at once.
#pragma once

#include <string>
#include <string_view>

namespace qv {
struct StatementContext;
class Session;
class Variables;
}  // namespace qv

namespace qv::native {

void InstallStatement(StatementContext& c);
void ApplyChangesStatement(StatementContext& c);
// In native mode: sets the result variable (parameter 1) to "ERROR".
void ApplyPatchStatement(StatementContext& c);
void Set64BitModeStatement(StatementContext& c);
void IsNativeSetupInstalledStatement(StatementContext& c);
void RegisterLibraryStatement(StatementContext& c);

// Queues the record (delay) or runs it on the worker while the caller
// waits; also the entry of the phases "DELAYEDINSTALL", "ROLLBACK" and
// "UNINSTALL". False only when the run was cancelled and ABORTONERROR holds.
bool QueueOrRun(const Session& session, Variables& variables, std::wstring_view command, std::wstring record, size_t index,
                bool delay);

}  // namespace qv::native
