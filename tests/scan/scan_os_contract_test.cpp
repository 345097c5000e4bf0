// The scan seam's contract, run against the build's own platform body on a real directory
// tree: ours over readdir natively, the Win32 calls when built for Windows (and run under
// Wine). Where the platform's order is free, names are compared as sets.
#include "fakes/fake_scan_os.h"
#include "fakes/pe_image.h"
#include "fakes/scoped_temp_dir.h"
#include "scan/file_search.h"
#include "scan/scan_os.h"
#include "scan/version_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include "sysutil/win32_support.h"
#else
#include <unistd.h>
#endif

namespace vorse {
namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

class ScanOsContractTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char *dir : {"tools.exe", "sub/deep", ".hiddendir", "locked"})
      fs::create_directories(tree_.Root() / dir);
    for (const char *file :
         {"a.exe", "SETUP.EXE", "notes.txt", ".hidden.exe", "tools.exe/inner.exe", "sub/deep/c.EXE",
          ".hiddendir/h.exe", "locked/l.exe"})
      std::ofstream(tree_.Root() / file) << "not a program";
    const std::vector<std::byte> program =
        pe_image::PeImage(pe_image::VersionBlock({{u"InternalName", u"Kern32"}}));
    std::ofstream(tree_.Root() / "sub" / "b.exe", std::ios::binary)
        .write(reinterpret_cast<const char *>(program.data()),
               static_cast<std::streamsize>(program.size()));
#ifdef _WIN32
    // Dot names are not hidden on Windows itself; make them so.
    for (const char *hidden : {".hidden.exe", ".hiddendir"})
      ::SetFileAttributesA(In(hidden).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
#endif
    root_ = tree_.Root().string();
  }
  void TearDown() override {
    // Given back its permissions, or it could not be removed with the rest.
    std::error_code ignored;
    fs::permissions(tree_.Root() / "locked", fs::perms::owner_all, ignored);
  }

  /// The program's form of a path below the tree: joined with "\".
  std::string In(const std::string &Relative) const {
    return root_ + "\\" + Relative;
  }

  /// The names one directory search returns, "." and ".." left out; nothing when it cannot
  /// start. Checks on the way that the search stays ended once it has ended.
  std::optional<Names> List(const std::string &Pattern) {
    FindData data;
    const FindHandle handle = os_.FindFirstFileA(Pattern, data);
    if (handle == kInvalidFindHandle) {
      EXPECT_TRUE(os_.LastError()) << Pattern;
      return std::nullopt;
    }
    Names names;
    do {
      std::string name(data.cFileName, sizeof data.cFileName);
      StripNulls(name);
      if (name == "." || name == "..")
        continue;
      EXPECT_TRUE(names.insert(name).second) << "returned twice: " << name;
    } while (os_.FindNextFileA(handle, data) != 0);
    EXPECT_EQ(os_.FindNextFileA(handle, data), 0);
    EXPECT_NE(os_.FindClose(handle), 0);
    return names;
  }

  /// FindFilesAPI's rows for "*.exe" below \p Path, which must come back with its "\".
  std::vector<std::string> FindExes(std::string Path, std::int64_t &Files, std::int64_t &Dirs) {
    const std::string expected = Path + "\\";
    RowRecorder list;
    FindFilesAPI(os_, Path, "*.exe", Files, Dirs, list);
    EXPECT_EQ(Path, expected);
    return list.Rows();
  }

  bool IsDirectory(const std::string &Path) {
    return (os_.GetFileAttributesA(Path) & kFileAttributeDirectory) != 0;
  }

  /// Whether a directory without permissions stays closed to us: not for root natively, and
  /// not on Windows, where POSIX permissions do not reach the search.
  static bool CanLockDirectories() {
#ifdef _WIN32
    return false;
#else
    return geteuid() != 0;
#endif
  }

  test::ScopedTempDir tree_{"vorse-scan-"};
  std::string root_;
  ScanOs &os_ = PlatformScanOs();
};

TEST_F(ScanOsContractTest, SearchReturnsEveryEntryAndMatchesPatternsWithoutRegardToCase) {
  const Names all = {".hidden.exe", ".hiddendir", "SETUP.EXE", "a.exe",
                     "locked",      "notes.txt",  "sub",       "tools.exe"};
  const Names exes = {".hidden.exe", "SETUP.EXE", "a.exe", "tools.exe"};
  EXPECT_EQ(List(In("*")), all);
  EXPECT_EQ(List(In("*.exe")), exes);
  EXPECT_EQ(List(In("*.EXE")), exes);
  EXPECT_EQ(List(In("sub\\deep\\*.exe")), Names{"c.EXE"});
  EXPECT_EQ(List(In("?.exe")), Names{"a.exe"});
}

TEST_F(ScanOsContractTest, ALargeDirectoryIsListedWholeAcrossTheSystemsBatches) {
  // More entries than two of the POSIX search's 32 KiB batches of records hold, and than one
  // read of the directory returns on Windows.
  Names all;
  for (int i = 0; i < 1000; ++i) {
    const std::string name = "entry-with-a-long-name-to-fill-the-batch-" + std::to_string(i);
    std::ofstream(tree_.Root() / "sub" / "deep" / name) << "x";
    all.insert(name);
  }
  all.insert("c.EXE");
  EXPECT_EQ(List(In("sub\\deep\\*")), all);
}

TEST_F(ScanOsContractTest, EachProgramOfAFullDirectoryReadsAsItselfWhicheverAreRead) {
  // More programs than are read in one go, among other files; read as a search hands them out,
  // skipping some, and once out of turn.
  fs::create_directories(tree_.Root() / "many" / "s.exe");
  std::ofstream(tree_.Root() / "many" / "x.exe") << "not a program";
  // Program 1NN holds the internal name 1NN; the other entries hold none.
  for (int i = 100; i < 170; ++i) {
    const std::string number = std::to_string(i);
    const std::vector<std::byte> program = pe_image::PeImage(
        pe_image::VersionBlock({{u"InternalName", std::u16string(number.begin(), number.end())}}));
    std::ofstream(tree_.Root() / "many" / (number + ".exe"), std::ios::binary)
        .write(reinterpret_cast<const char *>(program.data()),
               static_cast<std::streamsize>(program.size()));
    std::ofstream(tree_.Root() / "many" / (number + ".dll")) << "x";
  }
  const auto expected = [](const std::string &Name) -> std::optional<VersionEntries> {
    if (Name.size() != 7 || Name[0] != '1')
      return std::nullopt;
    std::u16string entry = u"InternalName: ";
    entry.append(Name.begin(), Name.begin() + 3);
    return VersionEntries{entry};
  };
  const auto in = [&](const std::string &Name) { return In("many\\").append(Name); };
  FindData data;
  const FindHandle handle = os_.FindFirstFileA(In("many\\*.exe"), data);
  ASSERT_NE(handle, kInvalidFindHandle);
  int returned = 0;
  do {
    const std::string name(RecordName(data));
    if (++returned % 3 == 1)
      continue;
    SCOPED_TRACE(name);
    EXPECT_EQ(GetFileVersionData(os_, in(name)), expected(name));
    if (returned == 40) {
      EXPECT_EQ(GetFileVersionData(os_, in("105.exe")), expected("105.exe"));
    }
  } while (os_.FindNextFileA(handle, data) != 0);
  EXPECT_NE(os_.FindClose(handle), 0);
  EXPECT_EQ(returned, 72);
}

TEST_F(ScanOsContractTest, SearchesThatFindNothingCannotStart) {
  for (const char *pattern : {"*.zip", "missing\\*", "a.exe\\*", "sub\\deep\\*.txt"}) {
    SCOPED_TRACE(pattern);
    EXPECT_EQ(List(In(pattern)), std::nullopt);
  }
}

TEST_F(ScanOsContractTest, AttributesByFullPathTellDirectoriesAndFailures) {
  for (const char *dir : {"sub", "sub\\deep", "tools.exe", ".hiddendir", "locked"})
    EXPECT_TRUE(IsDirectory(In(dir))) << dir;
  for (const char *file : {"a.exe", "notes.txt", ".hidden.exe", "sub\\b.exe"}) {
    SCOPED_TRACE(file);
    const std::uint32_t attributes = os_.GetFileAttributesA(In(file));
    EXPECT_NE(attributes, kInvalidFileAttributes);
    EXPECT_EQ(attributes & kFileAttributeDirectory, 0u);
  }
  EXPECT_EQ(os_.GetFileAttributesA(In("missing")), kInvalidFileAttributes);
  EXPECT_TRUE(os_.LastError());
}

TEST_F(ScanOsContractTest, RecordAttributesAgreeWithTheFullPathOnesWhereGiven) {
  FindData data;
  const FindHandle handle = os_.FindFirstFileA(In("*"), data);
  ASSERT_NE(handle, kInvalidFindHandle);
  do {
    std::string name(data.cFileName, sizeof data.cFileName);
    StripNulls(name);
    if (name == "." || name == ".." || data.dwFileAttributes == kInvalidFileAttributes)
      continue;
    EXPECT_EQ(data.dwFileAttributes & kFileAttributeDirectory,
              os_.GetFileAttributesA(In(name)) & kFileAttributeDirectory)
        << name;
  } while (os_.FindNextFileA(handle, data) != 0);
  os_.FindClose(handle);
}

TEST_F(ScanOsContractTest, AttributesAnswerForThePathAskedNotForTheEntryJustFound) {
  // "bus" is "sub" with its letters turned round: the same length, and a file named "deep".
  fs::create_directory(tree_.Root() / "bus");
  std::ofstream(tree_.Root() / "bus" / "deep") << "a file";
  for (const auto &[listed, other] : {std::pair{"sub", "bus"}, std::pair{"bus", "sub"}}) {
    SCOPED_TRACE(listed);
    FindData data;
    const FindHandle handle = os_.FindFirstFileA(In(std::string(listed) + "\\*"), data);
    ASSERT_NE(handle, kInvalidFindHandle);
    bool seen = false;
    do {
      std::string name(data.cFileName, sizeof data.cFileName);
      if (StripNulls(name) != "deep")
        continue;
      seen = true;
      EXPECT_EQ(IsDirectory(In(std::string(listed) + "\\deep")), listed == std::string("sub"));
      EXPECT_EQ(IsDirectory(In(std::string(other) + "\\deep")), other == std::string("sub"));
      EXPECT_EQ(os_.GetFileAttributesA(In("deep")), kInvalidFileAttributes);
    } while (os_.FindNextFileA(handle, data) != 0);
    os_.FindClose(handle);
    EXPECT_TRUE(seen);
  }
  // Once the search is over, a file that has become a directory is one.
  fs::remove(tree_.Root() / "bus" / "deep");
  fs::create_directory(tree_.Root() / "bus" / "deep");
  EXPECT_TRUE(IsDirectory(In("bus\\deep")));
}

TEST_F(ScanOsContractTest, RepeatedSearchesOfADirectorySeeWhatWasAddedBeforeThem) {
  EXPECT_TRUE(List(In("*")));
  EXPECT_TRUE(List(In("*.exe")));
  std::ofstream(tree_.Root() / "new.exe") << "added after two searches";
  EXPECT_TRUE(List(In("*.exe")).value_or(Names{}).contains("new.exe"));
  EXPECT_TRUE(List(In("sub\\*")));
  std::ofstream(tree_.Root() / "newer.exe") << "added after a search of another directory";
  EXPECT_TRUE(List(In("*.exe")).value_or(Names{}).contains("newer.exe"));

  // Two runs over the same directory: the second finds what was added between them.
  std::int64_t files = 0;
  std::int64_t dirs = 0;
  EXPECT_EQ(FindExes(In("sub\\deep"), files, dirs),
            std::vector<std::string>{In("sub\\deep\\c.EXE")});
  std::ofstream(tree_.Root() / "sub" / "deep" / "d.exe") << "added between the runs";
  const std::vector<std::string> rows = FindExes(In("sub\\deep"), files, dirs);
  EXPECT_EQ(Names(rows.begin(), rows.end()),
            (Names{In("sub\\deep\\c.EXE"), In("sub\\deep\\d.exe")}));
}

TEST_F(ScanOsContractTest, ASearchAfterADirectoryWasReplacedListsTheNewOne) {
  // Twice, as the file search lists a directory: the second search may replay the first.
  EXPECT_EQ(List(In("sub\\deep\\*")), Names{"c.EXE"});
  EXPECT_EQ(List(In("sub\\deep\\*.exe")), Names{"c.EXE"});
  fs::rename(tree_.Root() / "sub", tree_.Root() / "old");
  fs::create_directories(tree_.Root() / "sub" / "deep");
  std::ofstream(tree_.Root() / "sub" / "deep" / "new.exe") << "in the new directory";
  EXPECT_EQ(List(In("sub\\deep\\*.exe")), Names{"new.exe"});
}

TEST_F(ScanOsContractTest, AttributesAfterAFolderOnThePathWasReplacedAreOfTheNewOne) {
  // "sub" is passed through to list "sub\deep", then replaced: in the new one "deep" is a file
  // and "b.exe" a folder.
  EXPECT_TRUE(IsDirectory(In("sub")));
  EXPECT_EQ(List(In("sub\\deep\\*")), Names{"c.EXE"});
  fs::rename(tree_.Root() / "sub", tree_.Root() / "old");
  fs::create_directories(tree_.Root() / "sub" / "b.exe");
  std::ofstream(tree_.Root() / "sub" / "deep") << "a file now";
  EXPECT_FALSE(IsDirectory(In("sub\\deep")));
  EXPECT_TRUE(IsDirectory(In("sub\\b.exe")));
}

TEST_F(ScanOsContractTest, FindFilesListsOwnMatchesBeforeEachWholeSubtree) {
  if (CanLockDirectories())
    fs::permissions(tree_.Root() / "locked", fs::perms::none);
  std::int64_t files = 0;
  std::int64_t dirs = 0;
  const std::vector<std::string> rows = FindExes(root_, files, dirs);

  // The root's own matches come first, in whatever order the platform gives them.
  ASSERT_GE(rows.size(), 4u);
  EXPECT_EQ(Names(rows.begin(), rows.begin() + 4),
            (Names{In(".hidden.exe"), In("SETUP.EXE"), In("a.exe"), In("tools.exe")}));
  // Then one subtree after another, each whole, a directory's own rows before its subtree's.
  std::vector<std::vector<std::string>> subtrees = {
      {In("tools.exe\\inner.exe")},
      {In("sub\\b.exe"), In("sub\\deep\\c.EXE")},
      {In(".hiddendir\\h.exe")},
  };
  if (!CanLockDirectories())
    subtrees.push_back({In("locked\\l.exe")});
  std::size_t at = 4;
  while (at < rows.size()) {
    const auto subtree = std::find_if(subtrees.begin(), subtrees.end(), [&](const auto &s) {
      return !s.empty() && s.front() == rows[at];
    });
    ASSERT_NE(subtree, subtrees.end()) << "unexpected or out of place: " << rows[at];
    ASSERT_LE(at + subtree->size(), rows.size());
    EXPECT_TRUE(std::equal(subtree->begin(), subtree->end(), rows.begin() + at));
    at += subtree->size();
    subtree->clear();
  }
  for (const auto &subtree : subtrees)
    EXPECT_TRUE(subtree.empty()) << "missing: " << subtree.front();
  EXPECT_EQ(files, static_cast<std::int64_t>(rows.size()));
  EXPECT_EQ(dirs, 5);
}

TEST_F(ScanOsContractTest, VersionDataOfAProgramAndOfFilesWithoutOne) {
  const std::optional<VersionEntries> entries = GetFileVersionData(os_, In("sub\\b.exe"));
  ASSERT_TRUE(entries);
  EXPECT_EQ(*entries, VersionEntries{u"InternalName: Kern32"});
  for (const char *none : {"notes.txt", "a.exe", "missing.exe", "sub"}) {
    SCOPED_TRACE(none);
    std::uint32_t handle = 0;
    EXPECT_EQ(os_.GetFileVersionInfoSizeA(In(none), handle), 0u);
    EXPECT_TRUE(os_.LastError());
    EXPECT_FALSE(GetFileVersionData(os_, In(none)));
  }
}

#ifndef _WIN32
TEST_F(ScanOsContractTest, LinksAreNeverDirectoriesSoNoSearchLoops) {
  fs::create_directory_symlink(tree_.Root(), tree_.Root() / "sub" / "loop");
  EXPECT_FALSE(IsDirectory(In("sub\\loop")));
  std::int64_t files = 0;
  std::int64_t dirs = 0;
  EXPECT_EQ(FindExes(In("sub"), files, dirs),
            (std::vector<std::string>{In("sub\\b.exe"), In("sub\\deep\\c.EXE")}));
  EXPECT_EQ(dirs, 1);
}

TEST_F(ScanOsContractTest, ALockedDirectoryCannotBeSearchedButIsStillADirectory) {
  if (!CanLockDirectories())
    GTEST_SKIP() << "root reads every directory";
  fs::permissions(tree_.Root() / "locked", fs::perms::none);
  EXPECT_EQ(List(In("locked\\*")), std::nullopt);
  EXPECT_TRUE(IsDirectory(In("locked")));
  // What lies inside cannot be examined at all: the failure value, directory bit included.
  EXPECT_EQ(os_.GetFileAttributesA(In("locked\\l.exe")), kInvalidFileAttributes);
}
#endif

} // namespace
} // namespace vorse
