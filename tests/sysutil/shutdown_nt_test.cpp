// ShutDownNT: the privilege calls with their exact values on the NT family only, then the
// restart request with the flags Force chooses.
#include "fakes/fake_sysutil_os.h"
#include "sysutil/shutdown_nt.h"

#include <gtest/gtest.h>

namespace vorse {
namespace {

const std::vector<std::string> kPrivilegeCalls = {
    "GetCurrentProcess", "OpenProcessToken 119 40", "LookupPrivilegeValueA '' SeShutdownPrivilege",
    "AdjustTokenPrivileges 153 0 count=1 luid=19:0 attributes=2 length=16 previous=0"};

TEST(ShutDownNTTest, EnablesThePrivilegeOnlyOnTheNTFamily) {
  struct Case {
    const char *Name;
    std::uint32_t PlatformId;
    bool QuerySucceeds;
    std::int16_t Force;
    bool Privilege;
    const char *Exit;
  };
  const Case cases[] = {
      {"NT forced", 2, true, -1, true, "ExitWindowsEx 6 0"},
      {"NT any non-zero forces", 2, true, 1, true, "ExitWindowsEx 6 0"},
      {"NT plain", 2, true, 0, true, "ExitWindowsEx 2 0"},
      {"9x", 1, true, -1, false, "ExitWindowsEx 6 0"},
      {"failed query", 2, false, -1, false, "ExitWindowsEx 6 0"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    FakeSysutilOs os;
    os.PlatformId = c.PlatformId;
    os.VersionQuerySucceeds = c.QuerySucceeds;
    ShutDownNT(os, c.Force);
    std::vector<std::string> expected = {"GetVersionExA 148"};
    if (c.Privilege)
      expected.insert(expected.end(), kPrivilegeCalls.begin(), kPrivilegeCalls.end());
    expected.push_back(c.Exit);
    EXPECT_EQ(os.Calls, expected);
  }
}

TEST(ShutDownNTTest, EnablingTwiceRepeatsTheSameCalls) {
  FakeSysutilOs os;
  EnableShutdownPrivilege(os);
  EnableShutdownPrivilege(os);
  std::vector<std::string> expected = kPrivilegeCalls;
  expected.insert(expected.end(), kPrivilegeCalls.begin(), kPrivilegeCalls.end());
  EXPECT_EQ(os.Calls, expected);
}

} // namespace
} // namespace vorse
