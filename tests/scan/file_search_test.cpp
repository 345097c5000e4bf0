// FindFilesAPI and StripNulls on the recording fake: row order, counters, the two passes.
#include "fakes/fake_scan_os.h"
#include "scan/file_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vorse {
namespace {

using Rows = std::vector<std::string>;

struct Result {
  Rows rows;
  std::int64_t fileCount;
  std::int64_t dirCount;
  std::string path; ///< the caller's Path variable after the call
};

Result Search(FakeScanOs &Os, std::string Path, const std::string &SearchStr = "*.exe",
              std::int64_t FileCount = 0, std::int64_t DirCount = 0) {
  RowRecorder list;
  FindFilesAPI(Os, Path, SearchStr, FileCount, DirCount, list);
  EXPECT_EQ(Os.OpenSearches(), 0u);
  EXPECT_LE(Os.MostOpenSearches(), 1u);
  return {list.Rows(), FileCount, DirCount, Path};
}

/// The system directory of the example: its search returns b.exe, Drivers, a.exe, Wbem and
/// notes.txt in that order.
void AddExampleTree(FakeScanOs &Os) {
  Os.AddFile("C:\\Sys\\b.exe");
  Os.AddFile("C:\\Sys\\Drivers\\x.exe");
  Os.AddFile("C:\\Sys\\a.exe");
  Os.AddDir("C:\\Sys\\Wbem\\Mof");
  Os.AddFile("C:\\Sys\\Wbem\\y.exe");
  Os.AddFile("C:\\Sys\\Wbem\\Mof\\z.exe");
  Os.AddFile("C:\\Sys\\notes.txt");
}

TEST(FindFilesApiTest, OwnMatchesFirstThenEachSubdirectoryTreeInTheOrderFound) {
  FakeScanOs os;
  AddExampleTree(os);
  const Result r = Search(os, "C:\\Sys");
  EXPECT_EQ(r.rows, (Rows{"C:\\Sys\\b.exe", "C:\\Sys\\a.exe", "C:\\Sys\\Drivers\\x.exe",
                          "C:\\Sys\\Wbem\\y.exe", "C:\\Sys\\Wbem\\Mof\\z.exe"}));
  EXPECT_EQ(r.fileCount, 5);
  EXPECT_EQ(r.dirCount, 3);
}

TEST(FindFilesApiTest, EachDirectoryIsSearchedForAllThenForThePatternBeforeTheDescent) {
  FakeScanOs os;
  os.AddFile("C:\\Sys\\Sub\\x.exe");
  Search(os, "C:\\Sys");
  const Rows expected = {
      "FindFirstFileA C:\\Sys\\*",
      "FindNextFileA 1",
      "FindNextFileA 1",
      "GetFileAttributesA C:\\Sys\\Sub",
      "FindNextFileA 1",
      "FindClose 1",
      "FindFirstFileA C:\\Sys\\*.exe",
      "FindFirstFileA C:\\Sys\\Sub\\*",
      "FindNextFileA 2",
      "FindNextFileA 2",
      "GetFileAttributesA C:\\Sys\\Sub\\x.exe",
      "FindNextFileA 2",
      "FindClose 2",
      "FindFirstFileA C:\\Sys\\Sub\\*.exe",
      "FindNextFileA 3",
      "FindClose 3",
  };
  EXPECT_EQ(os.Calls(), expected);
}

TEST(FindFilesApiTest, PathGainsOneTrailingBackslashAndGivesTheSameRows) {
  for (const std::string path : {"C:\\Sys", "C:\\Sys\\"}) {
    SCOPED_TRACE(path);
    FakeScanOs os;
    AddExampleTree(os);
    const Result r = Search(os, path);
    EXPECT_EQ(r.path, "C:\\Sys\\");
    EXPECT_EQ(r.rows.size(), 5u);
    EXPECT_EQ(r.rows.front(), "C:\\Sys\\b.exe");
  }
}

TEST(FindFilesApiTest, EmptyPathIsSearchedAsTheRoot) {
  FakeScanOs os;
  os.AddFile("\\boot.exe");
  const Result r = Search(os, "");
  EXPECT_EQ(r.path, "\\");
  EXPECT_EQ(r.rows, Rows{"\\boot.exe"});
  EXPECT_EQ(os.Calls().front(), "FindFirstFileA \\*");
}

TEST(FindFilesApiTest, NothingToFindAddsNothingAndKeepsTheCounters) {
  FakeScanOs os;
  os.AddFile("C:\\Empty\\readme.txt");
  for (const char *path : {"C:\\Missing", "C:\\Empty", "C:\\Empty\\readme.txt"}) {
    SCOPED_TRACE(path);
    const Result r = Search(os, path, "*.exe", 7, 3);
    EXPECT_TRUE(r.rows.empty());
    EXPECT_EQ(r.fileCount, 7);
    EXPECT_EQ(r.dirCount, 3);
  }
}

TEST(FindFilesApiTest, DotEntriesAreNeitherRowsNorDescendedInto) {
  FakeScanOs os;
  os.AddFile("C:\\Sys\\Sub\\f.txt");
  const Result r = Search(os, "C:\\Sys", "*");
  EXPECT_EQ(r.rows, (Rows{"C:\\Sys\\Sub", "C:\\Sys\\Sub\\f.txt"}));
  EXPECT_EQ(r.dirCount, 1);
  for (const std::string &call : os.Calls())
    EXPECT_EQ(call.find("\\.\\"), std::string::npos) << call;
}

TEST(FindFilesApiTest, DirectoryNamedLikeAMatchIsARowAndIsDescendedInto) {
  FakeScanOs os;
  os.AddFile("C:\\Sys\\tools.exe\\inner.exe");
  const Result r = Search(os, "C:\\Sys");
  EXPECT_EQ(r.rows, (Rows{"C:\\Sys\\tools.exe", "C:\\Sys\\tools.exe\\inner.exe"}));
  EXPECT_EQ(r.fileCount, 2);
  EXPECT_EQ(r.dirCount, 1);
}

TEST(FindFilesApiTest, EntryWhoseAttributesCannotBeReadIsTreatedAsADirectory) {
  FakeScanOs os;
  os.AddFile("C:\\Sys\\odd.dat");
  os.AddFile("C:\\Sys\\Hidden\\h.exe");
  os.FailAttributes("C:\\Sys\\odd.dat");
  os.FailAttributes("C:\\Sys\\Hidden");
  const Result r = Search(os, "C:\\Sys");
  EXPECT_EQ(r.rows, Rows{"C:\\Sys\\Hidden\\h.exe"});
  EXPECT_EQ(r.dirCount, 2);
  const Rows &calls = os.Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "FindFirstFileA C:\\Sys\\odd.dat\\*"),
            calls.end());
}

TEST(FindFilesApiTest, ASearchThatCannotStartSkipsOnlyItsOwnPass) {
  FakeScanOs os;
  os.AddFile("C:\\Sys\\a.exe");
  os.AddFile("C:\\Sys\\Sub\\b.exe");
  os.FailSearch("C:\\Sys\\*");
  const Result r = Search(os, "C:\\Sys");
  EXPECT_EQ(r.rows, Rows{"C:\\Sys\\a.exe"});
  EXPECT_EQ(r.dirCount, 0);
}

TEST(FindFilesApiTest, ASinkThatThrowsLeavesNoSearchOpen) {
  struct FullList final : RowSink {
    void AddItem(const std::string &) override { throw std::runtime_error("list is full"); }
  };
  FakeScanOs os;
  os.AddFile("C:\\Sys\\a.exe");
  std::string path = "C:\\Sys";
  std::int64_t files = 0;
  std::int64_t dirs = 0;
  FullList list;
  EXPECT_THROW(FindFilesAPI(os, path, "*.exe", files, dirs, list), std::runtime_error);
  EXPECT_EQ(os.OpenSearches(), 0u);
}

TEST(FindFilesApiTest, TreesBeyondSixteenBitCountsAreSearchedToTheirEnd) {
  // 32,767 was the old ceiling of both counters; the search must go on past it.
  constexpr int kFiles = 33000;
  constexpr int kDirs = 33000;
  FakeScanOs os;
  for (int i = 0; i < kFiles; ++i)
    os.AddFile("C:\\Big\\f" + std::to_string(i) + ".exe");
  for (int i = 0; i < kDirs; ++i)
    os.AddDir("C:\\Big\\Many\\d" + std::to_string(i));
  os.AddFile("C:\\Big\\Many\\d" + std::to_string(kDirs - 1) + "\\last.exe");
  const Result r = Search(os, "C:\\Big");
  EXPECT_EQ(r.fileCount, kFiles + 1);
  EXPECT_EQ(r.dirCount, kDirs + 1);
  ASSERT_EQ(r.rows.size(), static_cast<std::size_t>(kFiles + 1));
  EXPECT_EQ(r.rows.back(), "C:\\Big\\Many\\d32999\\last.exe");
}

TEST(FindFilesApiTest, ADirectoryReachedAgainIsNotSearchedAgain) {
  // Sys\a and Sys\b lead back to Sys, Sys\Sub\again to Sub: as links would, they show their
  // target's entries, and the search would branch at every level.
  FakeScanOs os;
  os.AddFile("C:\\Sys\\x.exe");
  os.AddFile("C:\\Sys\\a\\x.exe");
  os.AddFile("C:\\Sys\\Sub\\y.exe");
  os.AddFile("C:\\Sys\\Sub\\again\\y.exe");
  os.AddFile("C:\\Sys\\b\\x.exe");
  const std::map<std::string, DirectoryId> ids = {{"C:\\Sys\\", {1, 1}},
                                                  {"C:\\Sys\\a\\", {1, 1}},
                                                  {"C:\\Sys\\b\\", {1, 1}},
                                                  {"C:\\Sys\\Sub\\", {1, 2}},
                                                  {"C:\\Sys\\Sub\\again\\", {1, 2}}};
  std::vector<std::string> identified;
  const DirectoryIdentifier identify = [&](const std::string &Dir) -> std::optional<DirectoryId> {
    identified.push_back(Dir);
    const auto it = ids.find(Dir);
    return it == ids.end() ? std::nullopt : std::optional(it->second);
  };
  RowRecorder list;
  std::string path = "C:\\Sys";
  std::int64_t files = 0;
  std::int64_t dirs = 0;
  FindFilesAPI(os, path, "*.exe", files, dirs, list, identify);
  EXPECT_EQ(list.Rows(), (Rows{"C:\\Sys\\x.exe", "C:\\Sys\\Sub\\y.exe"}));
  EXPECT_EQ(identified, (Rows{"C:\\Sys\\", "C:\\Sys\\a\\", "C:\\Sys\\Sub\\",
                              "C:\\Sys\\Sub\\again\\", "C:\\Sys\\b\\"}));
  // A directory that cannot be identified is searched as before.
  list = RowRecorder();
  path = "C:\\Sys";
  FindFilesAPI(os, path, "*.exe", files, dirs, list,
               [](const std::string &) { return std::optional<DirectoryId>(); });
  EXPECT_EQ(list.Rows().size(), 5u);
}

TEST(StripNullsTest, CutsAtTheFirstNulAndLeavesTheArgumentEqualToTheResult) {
  struct Case {
    std::string Original;
    std::string Expected;
  };
  const Case cases[] = {
      {std::string("abc\0xyz", 7), "abc"}, {"plain", "plain"},
      {std::string("\0abc", 4), ""},       {"", ""},
      {std::string("a\0\0b\0", 5), "a"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Expected);
    std::string argument = c.Original;
    EXPECT_EQ(StripNulls(argument), c.Expected);
    EXPECT_EQ(argument, c.Expected);
    // A search record's name is cut the same way, whatever stands behind its first NUL.
    FindData record;
    std::fill(std::begin(record.cFileName), std::end(record.cFileName), 'x');
    std::copy(c.Original.begin(), c.Original.end(), record.cFileName);
    record.cFileName[c.Original.size()] = '\0';
    EXPECT_EQ(RecordName(record), c.Expected);
  }
  // A name field without any NUL is the whole field, and nothing beyond it is read.
  FindData full;
  std::fill(std::begin(full.cFileName), std::end(full.cFileName), 'n');
  EXPECT_EQ(RecordName(full), std::string(sizeof full.cFileName, 'n'));
}

} // namespace
} // namespace vorse
