// The platform's own app seam on a real disk, in a scratch directory: the file operations the
// quarantine relies on behave alike on Windows and POSIX.
#include "app/app_os.h"
#include "app/quarantine.h"
#include "app/runtime_error.h"
#include "fakes/scoped_temp_dir.h"
#include "sysutil/os_detect.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

namespace vorse {
namespace {

namespace fs = std::filesystem;

class AppOsDiskTest : public ::testing::Test {
protected:
  std::string PathOf(const std::string &Name) const { return dir_.Path(Name); }

  AppOs &os_ = PlatformAppOs();
  test::ScopedTempDir dir_{"vorse-app-os-"};
};

TEST_F(AppOsDiskTest, CopyKeepsAnExistingTargetWhenAskedTo) {
  dir_.Write("source.exe", std::string("MZ\0\x01 bytes", 10));
  dir_.Write("taken.exe", "earlier copy");
  EXPECT_EQ(os_.CopyFileA(PathOf("source.exe"), PathOf("taken.exe"), 1), 0);
  EXPECT_TRUE(os_.MeansNameTaken(os_.LastError()));
  EXPECT_EQ(dir_.Read("taken.exe"), "earlier copy");

  EXPECT_NE(os_.CopyFileA(PathOf("source.exe"), PathOf("free.exe"), 1), 0);
  EXPECT_EQ(dir_.Read("free.exe"), std::string("MZ\0\x01 bytes", 10));
  EXPECT_NE(os_.CopyFileA(PathOf("source.exe"), PathOf("taken.exe"), 0), 0);
  EXPECT_EQ(dir_.Read("taken.exe"), dir_.Read("source.exe"));

  EXPECT_EQ(os_.CopyFileA(PathOf("missing.exe"), PathOf("other.exe"), 1), 0);
  EXPECT_TRUE(os_.LastError()) << "a failed copy names its reason";
  EXPECT_FALSE(dir_.Exists("other.exe"));
}

TEST_F(AppOsDiskTest, DirectoriesAndExistence) {
  const std::string folder = PathOf("!VorseFix");
  EXPECT_EQ(os_.PathFileExistsA(folder), 0);
  EXPECT_NE(os_.CreateDirectoryExA(dir_.Path(), folder), 0);
  EXPECT_EQ(os_.CreateDirectoryExA(dir_.Path(), folder), 0) << "it exists already";
  EXPECT_NE(os_.PathFileExistsA(folder), 0);
}

TEST_F(AppOsDiskTest, ReadsChunksAndComparesFiles) {
  std::string big(100000, 'a');
  big[99999] = 'b';
  dir_.Write("big", big);
  dir_.Write("same", big);
  dir_.Write("other", big.substr(0, 99999) + "c");

  std::vector<std::byte> chunk(8);
  EXPECT_EQ(os_.ReadFileChunk(PathOf("big"), 99996, chunk), 4);
  EXPECT_EQ(static_cast<char>(chunk[3]), 'b');
  EXPECT_EQ(os_.ReadFileChunk(PathOf("big"), 100000, chunk), 0);
  EXPECT_EQ(os_.ReadFileChunk(PathOf("missing"), 0, chunk), -1);

  EXPECT_TRUE(FilesEqual(os_, PathOf("big"), PathOf("same")));
  EXPECT_FALSE(FilesEqual(os_, PathOf("big"), PathOf("other")));
}

TEST_F(AppOsDiskTest, ShortFormOfAnExistingPathOnly) {
  dir_.Write("a.exe", "x");
  const std::string form = ShortPath(os_, PathOf("a.exe"));
  EXPECT_FALSE(form.empty());
  EXPECT_TRUE(fs::equivalent(form, dir_.Root() / "a.exe"));
  EXPECT_EQ(ShortPath(os_, PathOf("missing.exe")), "");
}

TEST_F(AppOsDiskTest, TextFilesAreWrittenWholeOrTheErrorNamesThem) {
  const std::string ini = PathOf("wininit.ini");
  os_.WriteNewFile(ini, "[rename]\r\n");
  os_.AppendLines(ini, "NUL=A\r\n");
  EXPECT_EQ(dir_.Read("wininit.ini"), "[rename]\r\nNUL=A\r\n");
  os_.WriteNewFile(ini, "[rename]\r\n");
  EXPECT_EQ(dir_.Read("wininit.ini"), "[rename]\r\n");

  const std::string unwritable = PathOf("no such dir") + "/wininit.ini";
  try {
    os_.AppendLines(unwritable, "NUL=A\r\n");
    FAIL() << "no error";
  } catch (const RuntimeError &error) {
    EXPECT_NE(std::string(error.what()).find(unwritable), std::string::npos) << error.what();
  }
}

TEST_F(AppOsDiskTest, TellsWhereAPathLeadsAndClearsAReadOnlyBit) {
  dir_.Write("a.exe", "MZ");
  fs::create_directory(dir_.Root() / "sub");
  // Outside a redirected system directory a path names its own file.
  EXPECT_EQ(os_.RealLocation(PathOf("a.exe")), PathOf("a.exe"));
  const std::optional<DirectoryId> root = os_.IdentifyDirectory(dir_.Path());
  ASSERT_TRUE(root);
  EXPECT_EQ(os_.IdentifyDirectory(PathOf("sub") + "\\.."), root);
  EXPECT_NE(os_.IdentifyDirectory(PathOf("sub")), root);
  EXPECT_FALSE(os_.IdentifyDirectory(PathOf("a.exe")));

  fs::permissions(dir_.Root() / "a.exe", fs::perms::all, fs::perm_options::remove);
  const std::uint32_t attributes = os_.GetFileAttributesA(PathOf("a.exe"));
  ASSERT_NE(attributes & kFileAttributeReadOnly, 0u);
  EXPECT_NE(os_.SetFileAttributesA(PathOf("a.exe"), attributes & ~kFileAttributeReadOnly), 0);
  EXPECT_EQ(os_.GetFileAttributesA(PathOf("a.exe")) & kFileAttributeReadOnly, 0u);
}

TEST_F(AppOsDiskTest, AFileWrittenBesideTakesOnlyAFreeName) {
  dir_.Write("wininit.ini", "[rename]\r\nNUL=A\r\n[x]\r\n");
  const std::string fresh = os_.WriteBeside(PathOf("wininit.ini"), "NUL=B\r\n");
  EXPECT_EQ(dir_.Read("wininit.ini"), "[rename]\r\nNUL=A\r\n[x]\r\n");
  // A rename never takes a name that is in use; once it is free, the file moves whole.
  EXPECT_EQ(os_.MoveFileA(fresh, PathOf("wininit.ini")), 0);
  EXPECT_NE(os_.DeleteFileA(PathOf("wininit.ini")), 0);
  EXPECT_NE(os_.MoveFileA(fresh, PathOf("wininit.ini")), 0);
  EXPECT_EQ(dir_.Read("wininit.ini"), "NUL=B\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Root()), fs::directory_iterator()), 1);

  // Beside a file in a folder that is not there, nothing can be written: the error names it.
  try {
    os_.WriteBeside(PathOf("none") + "\\wininit.ini", "NUL=B\r\n");
    FAIL() << "no error";
  } catch (const RuntimeError &error) {
    EXPECT_NE(std::string(error.what()).find("wininit.ini"), std::string::npos) << error.what();
  }
}

TEST_F(AppOsDiskTest, AppendsToARegularFileOfItsOwnOnly) {
  const std::string path = PathOf("manifest.tsv");
  std::unique_ptr<AppendFile> file;
  std::uint64_t length = 9;
  bool created = false;
  std::size_t written = 0;
  ASSERT_FALSE(os_.OpenAppendFile(path, file, length, created));
  EXPECT_TRUE(created);
  EXPECT_EQ(length, 0u);
  ASSERT_FALSE(file->Append("one\n", written));
  EXPECT_EQ(written, 4u);
  file.reset();
  ASSERT_FALSE(os_.OpenAppendFile(path, file, length, created));
  EXPECT_FALSE(created);
  EXPECT_EQ(length, 4u);
  ASSERT_FALSE(file->Append("two\n", written));
  ASSERT_FALSE(file->Truncate(6));
  file.reset();
  EXPECT_EQ(dir_.Read("manifest.tsv"), "one\ntw");

  fs::create_directory(dir_.Root() / "folder");
  EXPECT_TRUE(os_.OpenAppendFile(PathOf("folder"), file, length, created));
#ifndef _WIN32
  dir_.Write("elsewhere", "kept");
  fs::create_symlink(dir_.Root() / "elsewhere", dir_.Root() / "link");
  EXPECT_TRUE(os_.OpenAppendFile(PathOf("link"), file, length, created));
  EXPECT_EQ(dir_.Read("elsewhere"), "kept");
#endif
}

#ifdef _WIN32
TEST_F(AppOsDiskTest, QuarantinesARealFileOnceAndSchedulesItForDeletion) {
  // Every Windows these tests run on is of the NT family: the registration is real.
  ASSERT_EQ(OS_Detect(PlatformSysutilOs()), kPlatformNT);
  dir_.Write("evil.exe", "MZ evil");
  // The scratch directory stands in for the drive, so the folder is made inside it.
  const InfectedFile file{PathOf("evil.exe"), dir_.Path(), "evil.exe"};
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    const QuarantineOutcome outcome =
        QuarantineFile(os_, PlatformSysutilOs(), PathOf("wininit dir"), file);
    EXPECT_FALSE(outcome.Problem) << *outcome.Problem;
    EXPECT_TRUE(outcome.Scheduled);
  }
  EXPECT_EQ(dir_.Read("!VorseFix/evil.exe"), "MZ evil");
  // The copy, and the manifest with a record of each run.
  EXPECT_EQ(
      std::distance(fs::directory_iterator(dir_.Root() / "!VorseFix"), fs::directory_iterator()),
      2);
}

TEST_F(AppOsDiskTest, APrivateFolderIsAdministratorsAloneAndTakesAFileMovedByItsHandle) {
  const std::string folder = PathOf("private");
  ASSERT_NE(os_.CreatePrivateDirectory(folder), 0) << os_.LastError().message();
  EXPECT_EQ(os_.CreatePrivateDirectory(folder), 0) << "it exists already";
  const std::optional<FolderSecurity> security = os_.ReadFolderSecurity(folder);
  ASSERT_TRUE(security);
  EXPECT_TRUE(OnlyTrustedMayChange(*security, Administration(os_.CurrentUserSid())));
  ASSERT_EQ(security->Entries.size(), 2u);
  for (const AccessEntry &entry : security->Entries)
    EXPECT_EQ(entry.Flags & 0x3, 0x3) << entry.Sid << ": handed on to files and folders inside";

  dir_.Write("a.exe", "MZ a");
  dir_.Write("private/taken.exe", "kept");
  const std::intptr_t file = os_.OpenFileToMove(PathOf("a.exe"));
  const std::intptr_t hold = os_.HoldFolder(folder);
  ASSERT_NE(file, kNoFolderHold);
  ASSERT_NE(hold, kNoFolderHold);
  EXPECT_EQ(os_.MoveIntoFolder(file, hold, "taken.exe"), 0);
  EXPECT_TRUE(os_.MeansNameTaken(os_.LastError())) << os_.LastError().message();
  EXPECT_NE(os_.MoveIntoFolder(file, hold, "b.exe"), 0) << os_.LastError().message();
  std::vector<std::byte> chunk(8);
  EXPECT_EQ(os_.ReadOpenFile(file, 0, chunk), 4);
  os_.CloseFile(file);
  os_.ReleaseFolder(hold);
  EXPECT_FALSE(dir_.Exists("a.exe"));
  EXPECT_EQ(dir_.Read("private/b.exe"), "MZ a");
  EXPECT_EQ(dir_.Read("private/taken.exe"), "kept");
}
#else
TEST_F(AppOsDiskTest, PosixHasNoWindowsToAskOrRestart) {
  char buffer[255];
  EXPECT_EQ(os_.GetSystemDirectoryA(buffer, sizeof buffer), 0u);
  EXPECT_EQ(os_.GetWindowsDirectoryA(buffer, sizeof buffer), 0u);
  EXPECT_EQ(os_.GetSystemWow64DirectoryA(buffer, sizeof buffer), 0u);
  dir_.Write("a.exe", "x");
  EXPECT_EQ(os_.MoveFileExA(PathOf("a.exe"), nullptr, kMoveFileDelayUntilReboot), 0);
  EXPECT_TRUE(dir_.Exists("a.exe"));
  EXPECT_LE(os_.ShellExecuteA(0, "open", "rundll32.exe", "", "", 3), 32);
}

TEST_F(AppOsDiskTest, AFileWrittenBesideFollowsNoLinkAndLeavesNothingOnAFullDisk) {
  dir_.Write("elsewhere", "not ours");
  ASSERT_EQ(symlink(PathOf("elsewhere").c_str(), PathOf("linked.ini").c_str()), 0);
  const std::string fresh = os_.WriteBeside(PathOf("linked.ini"), "NUL=B\r\n");
  EXPECT_EQ(dir_.Read("elsewhere"), "not ours");
  EXPECT_EQ(dir_.Read(fs::path(fresh).filename().string()), "NUL=B\r\n");
  EXPECT_NE(os_.DeleteFileA(fresh), 0);

  // The file-size limit stands in for a full disk: the write stops after 8 bytes.
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlimit small{8, limit.rlim_max};
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  try {
    os_.WriteBeside(PathOf("wininit.ini"), std::string(100, 'x'));
  } catch (const RuntimeError &e) {
    error = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_NE(error.find(PathOf("wininit.ini")), std::string::npos) << error;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Root()), fs::directory_iterator()), 2);
}

TEST_F(AppOsDiskTest, NamedPipesAreNeitherCopiedNorReadAndNeverWaitedOn) {
  ASSERT_EQ(mkfifo(PathOf("pipe.exe").c_str(), 0600), 0);
  EXPECT_EQ(os_.CopyFileA(PathOf("pipe.exe"), PathOf("copy.exe"), 1), 0);
  EXPECT_FALSE(dir_.Exists("copy.exe"));
  std::vector<std::byte> chunk(8);
  EXPECT_EQ(os_.ReadFileChunk(PathOf("pipe.exe"), 0, chunk), -1);
}
#endif

} // namespace
} // namespace vorse
