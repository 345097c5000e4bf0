// vorsescan acts on the file it examined: the tree changed between the read and the action
// leads neither the copy nor the removal to another file.
#include "cli/run_cli.h"
#include "cli_test_tree.h"
#include "scan/forwarding_scan_os.h"
#include "steered_cli_os.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <vector>

#ifdef _WIN32
#include "sysutil/win32_support.h"
#endif

namespace vorse {
namespace {

/// The platform's ScanOs, running a hook once the version data of a file has been read.
class AfterReadScanOs final : public ForwardingScanOs {
public:
  AfterReadScanOs() : ForwardingScanOs(PlatformScanOs()) {}
  std::function<void()> afterRead;

  std::int32_t GetFileVersionInfoA(const std::string &FileName, std::uint32_t Handle,
                                   std::uint32_t Size, void *Data) override {
    const std::int32_t read = inner_.GetFileVersionInfoA(FileName, Handle, Size, Data);
    if (afterRead)
      std::exchange(afterRead, nullptr)();
    return read;
  }
};

class FoundFileTest : public ::testing::Test {
protected:
  int RunRemoving() {
    err_.str("");
    std::ostringstream out;
    const std::vector<std::string> args = {"--quarantine", tree_.Path("q"), "--remove",
                                           tree_.Path("scan")};
    return RunVorsescan(args, scan_, cli_, out, err_);
  }

  test::TestTree tree_;
  AfterReadScanOs scan_;
  test::SteeredCliOs cli_;
  std::ostringstream err_;
};

#ifndef _WIN32
TEST_F(FoundFileTest, ASwapAfterTheReadNeverLeadsTheCopyOrRemovalToAnotherFile) {
  // The attacker owns scan/user. Either they put a link to a folder of theirs holding a clean
  // namesake in their folder's place, or a clean namesake in the place of the file itself.
  struct Case {
    const char *swap;
    bool afterRead; ///< else just before the manifest is written, after the copy
    bool folder;    ///< else the file
    int status;
    bool examinedRemoved;
  };
  for (const Case &c : {Case{"folder after the read", true, true, kExitInfected, true},
                        Case{"file after the read", true, false, kExitError, false},
                        Case{"folder after the copy", false, true, kExitInfected, true},
                        Case{"file after the copy", false, false, kExitError, false}}) {
    SCOPED_TRACE(c.swap);
    std::filesystem::remove_all(tree_.Root());
    tree_.Program("scan/user/x.exe", u"Kern32");
    tree_.Write("outside/x.exe", "clean namesake");
    const std::function<void()> swap = [&] {
      if (c.folder) {
        std::filesystem::rename(tree_.Path("scan/user"), tree_.Path("aside"));
        std::filesystem::create_directory_symlink(tree_.Path("outside"), tree_.Path("scan/user"));
      } else {
        std::filesystem::create_directories(tree_.Path("aside"));
        std::filesystem::rename(tree_.Path("scan/user/x.exe"), tree_.Path("aside/x.exe"));
        std::filesystem::copy_file(tree_.Path("outside/x.exe"), tree_.Path("scan/user/x.exe"));
      }
    };
    scan_.afterRead = c.afterRead ? swap : nullptr;
    cli_.beforeAppend = c.afterRead ? nullptr : swap;
    EXPECT_EQ(RunRemoving(), c.status) << err_.str();
    cli_.beforeAppend = nullptr;
    EXPECT_EQ(tree_.Read("outside/x.exe"), "clean namesake");
    if (!c.folder) {
      EXPECT_EQ(tree_.Read("scan/user/x.exe"), "clean namesake");
    }
    EXPECT_EQ(tree_.Exists("aside/x.exe"), !c.examinedRemoved) << err_.str();
    // A copy kept is the examined file's, never the namesake's.
    EXPECT_NE(tree_.Read("q/x.exe"), "clean namesake");
    if (!c.examinedRemoved) {
      EXPECT_NE(err_.str().find("no longer"), std::string::npos) << err_.str();
    }
  }
}
#endif

TEST_F(FoundFileTest, AReadOnlyFileIsNeverCountedAsScheduledWhileStartUpCouldNotDeleteIt) {
  // Not in use, it is removed at once. In use, it is scheduled only with its read-only bit
  // cleared; where the bit cannot be cleared, its removal fails.
  tree_.Program("scan/x.exe", u"Kern32");
  std::filesystem::permissions(tree_.Path("scan/x.exe"), std::filesystem::perms::owner_read |
                                                             std::filesystem::perms::group_read |
                                                             std::filesystem::perms::others_read);
  EXPECT_EQ(RunRemoving(), kExitInfected) << err_.str();
  EXPECT_FALSE(tree_.Exists("scan/x.exe"));
  EXPECT_NE(err_.str().find(": removed;"), std::string::npos) << err_.str();
#ifdef _WIN32
  tree_.Program("scan/x.exe", u"Kern32");
  const std::string path = tree_.Path("scan/x.exe");
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  const win32::ScopedFileHandle user(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                   nullptr, OPEN_EXISTING, 0, nullptr));
  const int status = RunRemoving();
  const bool readOnly = (::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY) != 0;
  if (err_.str().find("next restart") != std::string::npos)
    EXPECT_FALSE(readOnly) << err_.str();
  else
    EXPECT_EQ(status, kExitError) << err_.str();
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
}

} // namespace
} // namespace vorse
