// ShutDownNT: the restart of Windows on the NT family, with the privilege it needs.
#pragma once

#include "sysutil_os.h"

#include <cstdint>

namespace vorse {

/// True exactly when a version query of its own reports the NT family.
bool IsWinNT(SysutilOs &Os);

/// Enables SeShutdownPrivilege on the process token. No result is checked and the token is
/// not closed: the privilege stays enabled for the rest of the process.
void EnableShutdownPrivilege(SysutilOs &Os);

/// Requests a restart: flags 6 (reboot, forced) when \p Force is non-zero, else 2; on the NT
/// family the shutdown privilege is enabled first. Returns once the request is made.
void ShutDownNT(SysutilOs &Os, std::int16_t Force);

} // namespace vorse
