// OS_Detect and IsWinNT: the platform id passed through unchanged, asked anew at every call.
#include "fakes/fake_sysutil_os.h"
#include "sysutil/os_detect.h"
#include "sysutil/shutdown_nt.h"

#include <gtest/gtest.h>

namespace vorse {
namespace {

TEST(OsDetectTest, ReturnsThePlatformIdOfAFreshRecord) {
  struct Case {
    std::uint32_t PlatformId;
    bool Succeeds;
    std::int32_t Expected;
    bool NT;
  };
  const Case cases[] = {
      {2, true, 2, true}, {1, true, 1, false}, {3, true, 3, false}, {2, false, 0, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.PlatformId << (c.Succeeds ? "" : " failed"));
    FakeSysutilOs os;
    os.PlatformId = c.PlatformId;
    os.VersionQuerySucceeds = c.Succeeds;
    EXPECT_EQ(OS_Detect(os), c.Expected);
    EXPECT_EQ(OS_Detect(os), c.Expected);
    EXPECT_EQ(IsWinNT(os), c.NT);
    // One query per answer, each on a record of size 148 with every other field zero.
    EXPECT_EQ(os.Calls, std::vector<std::string>(3, "GetVersionExA 148"));
    EXPECT_TRUE(os.RecordsArrivedClean);
  }
}

} // namespace
} // namespace vorse
