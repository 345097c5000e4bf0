// FakeSysutilOs: a scripted platform id and a recording of every call with its arguments.
#pragma once

#include "sysutil/sysutil_os.h"

#include <string>
#include <vector>

namespace vorse {

class FakeSysutilOs final : public SysutilOs {
public:
  /// The dwPlatformId a successful version query reports.
  std::uint32_t PlatformId = 2;
  /// When false the version query fails and leaves the record as it was given.
  bool VersionQuerySucceeds = true;
  static constexpr OsHandle kProcess = 0x77;
  static constexpr OsHandle kToken = 0x99;
  static constexpr Luid kShutdownLuid = {0x13, 0};

  /// One line per call: its name and the arguments that matter.
  std::vector<std::string> Calls;
  /// Whether every version record arrived with all fields but the size zero.
  bool RecordsArrivedClean = true;

  std::int32_t GetVersionExA(OsVersionInfo &Info) override {
    Calls.push_back("GetVersionExA " + std::to_string(Info.dwOSVersionInfoSize));
    const OsVersionInfo clean{Info.dwOSVersionInfoSize};
    RecordsArrivedClean = RecordsArrivedClean && Same(Info, clean);
    if (!VersionQuerySucceeds)
      return 0;
    Info.dwMajorVersion = 5;
    Info.dwPlatformId = PlatformId;
    return 1;
  }
  OsHandle GetCurrentProcess() override {
    Calls.push_back("GetCurrentProcess");
    return kProcess;
  }
  std::int32_t OpenProcessToken(OsHandle Process, std::uint32_t DesiredAccess,
                                OsHandle &Token) override {
    Calls.push_back("OpenProcessToken " + std::to_string(Process) + " " +
                    std::to_string(DesiredAccess));
    Token = kToken;
    return 1;
  }
  std::int32_t LookupPrivilegeValueA(const std::string &SystemName, const std::string &Name,
                                     Luid &Value) override {
    Calls.push_back("LookupPrivilegeValueA '" + SystemName + "' " + Name);
    Value = kShutdownLuid;
    return 1;
  }
  std::int32_t AdjustTokenPrivileges(OsHandle Token, std::int32_t DisableAll,
                                     const TokenPrivileges &NewState, std::uint32_t BufferLength,
                                     TokenPrivileges &PreviousState,
                                     std::uint32_t &ReturnLength) override {
    const LuidAndAttributes &entry = NewState.Privileges[0];
    const LuidAndAttributes &previous = PreviousState.Privileges[0];
    const bool previousZero = PreviousState.PrivilegeCount == 0 && previous.Attributes == 0 &&
                              previous.PrivilegeLuid.LowPart == 0 &&
                              previous.PrivilegeLuid.HighPart == 0;
    Calls.push_back(
        "AdjustTokenPrivileges " + std::to_string(Token) + " " + std::to_string(DisableAll) +
        " count=" + std::to_string(NewState.PrivilegeCount) +
        " luid=" + std::to_string(entry.PrivilegeLuid.LowPart) + ":" +
        std::to_string(entry.PrivilegeLuid.HighPart) +
        " attributes=" + std::to_string(entry.Attributes) +
        " length=" + std::to_string(BufferLength) + (previousZero ? " previous=0" : " previous=?"));
    ReturnLength = 16;
    return 1;
  }
  std::int32_t ExitWindowsEx(std::uint32_t Flags, std::uint32_t Reserved) override {
    Calls.push_back("ExitWindowsEx " + std::to_string(Flags) + " " + std::to_string(Reserved));
    return 1;
  }

private:
  static bool Same(const OsVersionInfo &A, const OsVersionInfo &B) {
    return A.dwOSVersionInfoSize == B.dwOSVersionInfoSize && A.dwMajorVersion == B.dwMajorVersion &&
           A.dwMinorVersion == B.dwMinorVersion && A.dwBuildNumber == B.dwBuildNumber &&
           A.dwPlatformId == B.dwPlatformId &&
           std::string(A.szCSDVersion, sizeof A.szCSDVersion) ==
               std::string(B.szCSDVersion, sizeof B.szCSDVersion);
  }
};

} // namespace vorse
