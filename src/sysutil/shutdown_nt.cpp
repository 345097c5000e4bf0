// ShutDownNT: a forced or plain restart, enabling the shutdown privilege first on the NT family.
#include "shutdown_nt.h"

#include "os_detect.h"

namespace vorse {
namespace {

constexpr std::uint32_t kTokenAdjustPrivileges = 0x20;
constexpr std::uint32_t kTokenQuery = 0x8;
constexpr std::uint32_t kSePrivilegeEnabled = 2;
constexpr std::uint32_t kEwxReboot = 2;
constexpr std::uint32_t kEwxForce = 4;

} // namespace

bool IsWinNT(SysutilOs &Os) {
  OsVersionInfo info;
  info.dwOSVersionInfoSize = sizeof(OsVersionInfo);
  Os.GetVersionExA(info);
  return static_cast<std::int32_t>(info.dwPlatformId) == kPlatformNT;
}

void EnableShutdownPrivilege(SysutilOs &Os) {
  // No step looks at the one before: a failure here only means the restart may be refused,
  // which the caller's status text already covers. The token is deliberately left open.
  const OsHandle process = Os.GetCurrentProcess();
  OsHandle token = 0;
  Os.OpenProcessToken(process, kTokenAdjustPrivileges | kTokenQuery, token);
  Luid luid;
  Os.LookupPrivilegeValueA("", "SeShutdownPrivilege", luid);
  TokenPrivileges newState;
  newState.PrivilegeCount = 1;
  newState.Privileges[0].PrivilegeLuid = luid;
  newState.Privileges[0].Attributes = kSePrivilegeEnabled;
  TokenPrivileges previousState;
  std::uint32_t returnLength = 0;
  Os.AdjustTokenPrivileges(token, 0, newState, 4 + 12 * newState.PrivilegeCount, previousState,
                           returnLength);
}

void ShutDownNT(SysutilOs &Os, std::int16_t Force) {
  const std::uint32_t flags = Force != 0 ? kEwxReboot | kEwxForce : kEwxReboot;
  if (IsWinNT(Os))
    EnableShutdownPrivilege(Os);
  // Whether the restart was accepted is not looked at; Windows ends the program when it is.
  Os.ExitWindowsEx(flags, 0);
}

} // namespace vorse
