// SysutilOs for Windows: generic Win32 code only, each method one call of the same name.
#include "sysutil_os.h"
#include "win32_support.h"

#include <cstring>

namespace vorse {
namespace {

static_assert(sizeof(OsVersionInfo) == sizeof(OSVERSIONINFOA));
static_assert(sizeof(TokenPrivileges) == sizeof(TOKEN_PRIVILEGES));

TOKEN_PRIVILEGES ToWin32(const TokenPrivileges &State) {
  TOKEN_PRIVILEGES record{};
  record.PrivilegeCount = State.PrivilegeCount;
  record.Privileges[0].Luid = {State.Privileges[0].PrivilegeLuid.LowPart,
                               State.Privileges[0].PrivilegeLuid.HighPart};
  record.Privileges[0].Attributes = State.Privileges[0].Attributes;
  return record;
}

class Win32SysutilOs final : public SysutilOs {
public:
  std::int32_t GetVersionExA(OsVersionInfo &Info) override {
    OSVERSIONINFOA record{};
    record.dwOSVersionInfoSize = Info.dwOSVersionInfoSize;
    const BOOL ok = ::GetVersionExA(&record);
    Info.dwMajorVersion = record.dwMajorVersion;
    Info.dwMinorVersion = record.dwMinorVersion;
    Info.dwBuildNumber = record.dwBuildNumber;
    Info.dwPlatformId = record.dwPlatformId;
    std::memcpy(Info.szCSDVersion, record.szCSDVersion, sizeof Info.szCSDVersion);
    return ok;
  }
  OsHandle GetCurrentProcess() override {
    return reinterpret_cast<OsHandle>(::GetCurrentProcess());
  }
  std::int32_t OpenProcessToken(OsHandle Process, std::uint32_t DesiredAccess,
                                OsHandle &Token) override {
    HANDLE token = nullptr;
    const BOOL ok = ::OpenProcessToken(reinterpret_cast<HANDLE>(Process), DesiredAccess, &token);
    Token = reinterpret_cast<OsHandle>(token);
    return ok;
  }
  std::int32_t LookupPrivilegeValueA(const std::string &SystemName, const std::string &Name,
                                     Luid &Value) override {
    LUID luid{};
    const BOOL ok = ::LookupPrivilegeValueA(SystemName.c_str(), Name.c_str(), &luid);
    Value.LowPart = luid.LowPart;
    Value.HighPart = luid.HighPart;
    return ok;
  }
  std::int32_t AdjustTokenPrivileges(OsHandle Token, std::int32_t DisableAll,
                                     const TokenPrivileges &NewState, std::uint32_t BufferLength,
                                     TokenPrivileges &PreviousState,
                                     std::uint32_t &ReturnLength) override {
    TOKEN_PRIVILEGES newState = ToWin32(NewState);
    TOKEN_PRIVILEGES previous = ToWin32(PreviousState);
    DWORD returned = 0;
    const BOOL ok = ::AdjustTokenPrivileges(reinterpret_cast<HANDLE>(Token), DisableAll, &newState,
                                            BufferLength, &previous, &returned);
    PreviousState.PrivilegeCount = previous.PrivilegeCount;
    PreviousState.Privileges[0].PrivilegeLuid = {previous.Privileges[0].Luid.LowPart,
                                                 previous.Privileges[0].Luid.HighPart};
    PreviousState.Privileges[0].Attributes = previous.Privileges[0].Attributes;
    ReturnLength = returned;
    return ok;
  }
  std::int32_t ExitWindowsEx(std::uint32_t Flags, std::uint32_t Reserved) override {
    return ::ExitWindowsEx(Flags, Reserved);
  }
};

} // namespace

SysutilOs &PlatformSysutilOs() {
  static Win32SysutilOs os;
  return os;
}

} // namespace vorse
