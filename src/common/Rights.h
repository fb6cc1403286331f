// What the running process may do: membership of the Administrators group,
// and whether that membership is in force (elevated).
#pragma once

namespace qv {

// The token is a member of the Administrators group.
bool IsAdministrator();
// A member of the Administrators group with the rights in force (elevated
// where the system has elevation).
bool IsElevatedAdministrator();

}  // namespace qv
