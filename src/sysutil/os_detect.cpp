// OS_Detect: the platform id, asked anew at every call.
#include "os_detect.h"

namespace vorse {

std::int32_t OS_Detect(SysutilOs &Os) {
  OsVersionInfo info;
  info.dwOSVersionInfoSize = sizeof(OsVersionInfo);
  // The result is not looked at: a failed query leaves the id 0, on which callers do nothing.
  Os.GetVersionExA(info);
  return static_cast<std::int32_t>(info.dwPlatformId);
}

} // namespace vorse
