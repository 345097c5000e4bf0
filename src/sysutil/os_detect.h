// OS_Detect: the platform id of the running Windows family.
#pragma once

#include "sysutil_os.h"

#include <cstdint>

namespace vorse {

/// 1 on the 9x family (VER_PLATFORM_WIN32_WINDOWS), 2 on the NT family (VER_PLATFORM_WIN32_NT).
inline constexpr std::int32_t kPlatform9x = 1;
inline constexpr std::int32_t kPlatformNT = 2;

/// Asks the platform anew for its version record and returns its dwPlatformId unchanged: 0
/// when the query failed, on which every caller does nothing.
std::int32_t OS_Detect(SysutilOs &Os);

} // namespace vorse
