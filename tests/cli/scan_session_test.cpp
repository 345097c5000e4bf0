// ScanRoot against the window's own search on the same real tree: the rows it examines, in
// order, are exactly the rows FindFilesAPI lists, whatever shortcuts the scanner takes.
#include "cli/scan_session.h"
#include "cli_test_tree.h"
#include "fakes/fake_scan_os.h"
#include "scan/file_search.h"

#include <gtest/gtest.h>

namespace vorse {
namespace {

/// Records the rows examined and the problems met.
class RecordingListener final : public ScanListener {
public:
  std::vector<std::string> rows;
  std::vector<std::string> problems;
  void OnDirectory(const std::string &) override {}
  void OnFileExamined(const std::string &Row) override {
    rows.push_back(PlatformCliOs().NativePath(Row));
  }
  void OnInfected(const std::string &, const std::u16string &, FoundFile *,
                  std::error_code) override {}
  void OnProblem(const std::string &Path, const std::string &Reason) override {
    problems.push_back(Path + ": " + Reason);
  }
  void OnLoop(const std::string &Dir, const std::string &) override {
    problems.push_back(Dir + ": loop");
  }
};

TEST(ScanSessionTest, ExaminesExactlyTheRowsOfTheWindowsSearchInItsOrder) {
  test::TestTree tree;
  for (const char *file : {"b.exe", "A.EXE", "notes.txt", ".hidden.exe", "Wbem/y.exe",
                           "Wbem/Mof/z.exe", "Drivers/x.exe", "Drivers/x.dll", "tools.exe/in.exe",
                           "empty/readme", "many/0.exe", "many/1.exe", "many/2.exe"})
    tree.Write(file, "not a program");
  std::filesystem::create_directories(tree.Path("nothing"));

  RowRecorder window;
  std::string path = tree.Path();
  std::int64_t files = 0;
  std::int64_t dirs = 0;
  FindFilesAPI(PlatformScanOs(), path, "*.exe", files, dirs, window);
  std::vector<std::string> expected;
  for (const std::string &row : window.Rows())
    expected.push_back(PlatformCliOs().NativePath(row));
  ASSERT_EQ(expected.size(), 11u);

  // The scanner tests directories by the type the enumeration reports; the rows must not
  // change for it.
  RecordingListener listener;
  EXPECT_TRUE(ScanRoot(PlatformScanOs(), PlatformCliOs(), tree.Path(), listener));
  EXPECT_EQ(listener.rows, expected);
  EXPECT_EQ(listener.problems, std::vector<std::string>{}) << "a directory row is no error";
}

TEST(ScanSessionTest, TakesARootWithOrWithoutItsTrailingSeparator) {
  test::TestTree tree;
  tree.Write("sub/a.exe", "");
  for (const std::string &root :
       {tree.Path(), tree.Path() + std::string(1, std::filesystem::path::preferred_separator)}) {
    SCOPED_TRACE(root);
    RecordingListener listener;
    EXPECT_TRUE(ScanRoot(PlatformScanOs(), PlatformCliOs(), root, listener));
    EXPECT_EQ(listener.rows, std::vector<std::string>{tree.Path("sub/a.exe")});
  }
}

} // namespace
} // namespace vorse
