// The platform operations of platform detection and restart, in the program's own types.
#pragma once

#include <cstdint>
#include <string>

namespace vorse {

/// The narrow OSVERSIONINFOA record, 148 bytes on Windows; only the fields the program reads
/// or sets are named, the CSD text keeps the record's size.
struct OsVersionInfo {
  std::uint32_t dwOSVersionInfoSize = 0;
  std::uint32_t dwMajorVersion = 0;
  std::uint32_t dwMinorVersion = 0;
  std::uint32_t dwBuildNumber = 0;
  std::uint32_t dwPlatformId = 0;
  char szCSDVersion[128] = {};
};
static_assert(sizeof(OsVersionInfo) == 148);

struct Luid {
  std::uint32_t LowPart = 0;
  std::int32_t HighPart = 0;
};

struct LuidAndAttributes {
  Luid PrivilegeLuid;
  std::uint32_t Attributes = 0;
};

/// TOKEN_PRIVILEGES with room for one entry: 4 + 12 bytes on Windows.
struct TokenPrivileges {
  std::uint32_t PrivilegeCount = 0;
  LuidAndAttributes Privileges[1];
};

/// An opaque platform handle (a process or a token).
using OsHandle = std::uintptr_t;

/// The seam through which OS_Detect and ShutDownNT reach the platform. Each method forwards to
/// the Win32 call of the same name with the same arguments and returns its raw result; it
/// holds no logic of the program.
class SysutilOs {
public:
  virtual ~SysutilOs() = default;
  virtual std::int32_t GetVersionExA(OsVersionInfo &Info) = 0;
  virtual OsHandle GetCurrentProcess() = 0;
  virtual std::int32_t OpenProcessToken(OsHandle Process, std::uint32_t DesiredAccess,
                                        OsHandle &Token) = 0;
  /// \p SystemName is passed as given: an empty string, not a null pointer, names this system.
  virtual std::int32_t LookupPrivilegeValueA(const std::string &SystemName, const std::string &Name,
                                             Luid &Value) = 0;
  virtual std::int32_t AdjustTokenPrivileges(OsHandle Token, std::int32_t DisableAll,
                                             const TokenPrivileges &NewState,
                                             std::uint32_t BufferLength,
                                             TokenPrivileges &PreviousState,
                                             std::uint32_t &ReturnLength) = 0;
  virtual std::int32_t ExitWindowsEx(std::uint32_t Flags, std::uint32_t Reserved) = 0;
};

/// The body for the build's target OS: Win32 on Windows, ours on POSIX.
SysutilOs &PlatformSysutilOs();

} // namespace vorse
