// SysutilOs for POSIX: generic POSIX code only. There is no Windows family to report and no
// Windows to restart, so every query fails the way the Win32 call fails; callers then do
// nothing for that decision.
#include "sysutil_os.h"

namespace vorse {
namespace {

class PosixSysutilOs final : public SysutilOs {
public:
  std::int32_t GetVersionExA(OsVersionInfo &) override { return 0; }
  OsHandle GetCurrentProcess() override { return 0; }
  std::int32_t OpenProcessToken(OsHandle, std::uint32_t, OsHandle &Token) override {
    Token = 0;
    return 0;
  }
  std::int32_t LookupPrivilegeValueA(const std::string &, const std::string &, Luid &) override {
    return 0;
  }
  std::int32_t AdjustTokenPrivileges(OsHandle, std::int32_t, const TokenPrivileges &, std::uint32_t,
                                     TokenPrivileges &, std::uint32_t &ReturnLength) override {
    ReturnLength = 0;
    return 0;
  }
  std::int32_t ExitWindowsEx(std::uint32_t, std::uint32_t) override { return 0; }
};

} // namespace

SysutilOs &PlatformSysutilOs() {
  static PosixSysutilOs os;
  return os;
}

} // namespace vorse
