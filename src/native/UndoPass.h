// The undo pass: performs the entries of the four native logs from the last
// to the first, for a rollback inside the installing run or for the
// uninstall of an installed product.
#pragma once

namespace qv::native {

class TNativeThread;

// 1 when every entry was processed, 0 when the pass was stopped (Abort from
// the error policy, or a termination request during an uninstall).
int UndoPass(TNativeThread& thread, bool uninstall);

}  // namespace qv::native
