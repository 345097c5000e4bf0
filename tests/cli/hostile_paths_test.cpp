// vorsescan over trees arranged by an attacker: names that hold the search's own separator, and
// directories nested deeper than the system's path limit.
#include "cli/run_cli.h"
#include "cli_test_tree.h"
#include "steered_cli_os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#ifndef _WIN32
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vorse {
namespace {

std::set<std::string> LineSet(const std::string &Text) {
  std::set<std::string> lines;
  std::istringstream stream(Text);
  for (std::string line; std::getline(stream, line);)
    lines.insert(line);
  return lines;
}

class HostilePathsTest : public ::testing::Test {
protected:
  int Run(std::vector<std::string> Args) { return Run(PlatformCliOs(), std::move(Args)); }
  int Run(CliOs &Cli, std::vector<std::string> Args) {
    out_.str("");
    err_.str("");
    return RunVorsescan(Args, PlatformScanOs(), Cli, out_, err_);
  }

  test::TestTree tree_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(HostilePathsTest, EntriesBeyondThePathLimitAreReportedAsNotExamined) {
  const std::string longName(40, 'n');
  tree_.Program("a.exe", u"Kern32");
  tree_.Program(longName + ".exe", u"Kern32");
  tree_.Program(longName + "/b.exe", u"Kern32");
  test::SteeredCliOs limited;
  limited.pathLimit = tree_.Path().size() + 30;
  EXPECT_EQ(Run(limited, {"--json", tree_.Path()}), kExitInfected);
  EXPECT_EQ(LineSet(err_.str()).size(), 3u) << err_.str();
  for (const std::string &skipped : {longName + ".exe", longName}) {
    EXPECT_NE(err_.str().find(tree_.Path(skipped) + ": not examined: "), std::string::npos)
        << err_.str();
  }
  EXPECT_NE(out_.str().find("\"infected\": 1"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("\"errors\": 2"), std::string::npos) << out_.str();
}

#ifndef _WIN32
// Names as a POSIX system allows them: a backslash is an ordinary character there, and so are
// the private-use characters (U+F05C, U+F025) that stand for one inside the search.
TEST_F(HostilePathsTest, BackslashesInNamesNeitherLeaveTheRootNorHideAFile) {
  const std::string escape = "\xEF\x80\xA5";
  const std::string mapped = "\xEF\x81\x9C";
  tree_.Program("outside/victim.exe", u"Kern32");
  tree_.Program("etc/victim.exe", u"Kern32");
  const std::vector<std::string> planted = {
      "root/..\\outside/victim.exe",
      "root/a/..\\..\\etc/victim.exe",
      "root/evil\\x.exe",
      "root/p" + mapped + "q.exe",
      "root/p" + escape + ".exe",
      "root/p" + escape + mapped + "\\.exe",
      "root/\\.exe",
      // Split at its "\\", this name would lie in the quarantine folder.
      "root/..\\q\\evil.exe",
  };
  std::set<std::string> expected;
  for (const std::string &file : planted) {
    tree_.Program(file, u"Kern32");
    expected.insert(tree_.Path(file));
  }
  EXPECT_EQ(Run({"--quarantine", tree_.Path("q"), "--remove", tree_.Path("root")}), kExitInfected)
      << err_.str();
  EXPECT_EQ(LineSet(out_.str()), expected);
  for (const std::string &file : planted)
    EXPECT_FALSE(tree_.Exists(file)) << file << " kept\n" << err_.str();
  EXPECT_TRUE(tree_.Exists("outside/victim.exe"));
  EXPECT_TRUE(tree_.Exists("etc/victim.exe"));
  EXPECT_EQ(LineSet(tree_.Read("q/manifest.tsv")).size(), planted.size() + 1);
  // Each copy keeps its whole name, as one entry of the folder itself.
  for (const char *copy : {"q/evil\\x.exe", "q/..\\q\\evil.exe", "q/\\.exe"})
    EXPECT_TRUE(tree_.Exists(copy)) << copy;
}

/// Writes \p Bytes as the new file \p Name of the open directory \p Dir.
void WriteAt(int Dir, const char *Name, const std::string &Bytes) {
  const int file = openat(Dir, Name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  EXPECT_EQ(write(file, Bytes.data(), Bytes.size()), static_cast<ssize_t>(Bytes.size()));
  close(file);
}

/// Makes \p Levels nested directories named \p Name below \p Root, one at a time relative to
/// the last, each beside a directory "s" holding \p Bytes as "x.exe", and \p Bytes as "x.exe"
/// at the bottom. Returns the full paths of the files made.
std::set<std::string> MakeDeepChain(const std::string &Root, const std::string &Name, int Levels,
                                    const std::string &Bytes) {
  mkdir(Root.c_str(), 0700);
  int dir = open(Root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::string path = Root;
  std::set<std::string> files;
  for (int i = 0; i < Levels && dir >= 0; ++i) {
    mkdirat(dir, "s", 0700);
    const int beside = openat(dir, "s", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    WriteAt(beside, "x.exe", Bytes);
    close(beside);
    files.insert(path + "/s/x.exe");
    mkdirat(dir, Name.c_str(), 0700);
    const int next = openat(dir, Name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(dir);
    dir = next;
    path += "/" + Name;
  }
  WriteAt(dir, "x.exe", Bytes);
  files.insert(path + "/x.exe");
  close(dir);
  return files;
}

/// Removes everything inside the directory \p Dir (which it closes) relative to open handles,
/// which the test tree's own clean-up cannot do beyond the path limit.
void EmptyDirectory(int Dir) {
  DIR *stream = fdopendir(Dir);
  if (stream == nullptr)
    return;
  while (const dirent *entry = readdir(stream)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..")
      continue;
    if (unlinkat(Dir, name.c_str(), 0) == 0)
      continue;
    const int inner = openat(Dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (inner >= 0)
      EmptyDirectory(inner);
    unlinkat(Dir, name.c_str(), AT_REMOVEDIR);
  }
  closedir(stream);
}

TEST_F(HostilePathsTest, DepthBeyondThePathLimitHidesNoFile) {
  tree_.Program("sample.exe", u"Kern32");
  const std::string bytes = tree_.Read("sample.exe");
  // Deeper than the path limit, and than the directories the walk keeps open at once, with a
  // program to find on the way back up at every level.
  const std::set<std::string> files =
      MakeDeepChain(tree_.Path("root"), std::string(60, 'd'), PATH_MAX / 60 + 2, bytes);
  const auto longer = [](const std::string &A, const std::string &B) {
    return A.size() < B.size();
  };
  ASSERT_GT(std::max_element(files.begin(), files.end(), longer)->size(),
            static_cast<std::size_t>(PATH_MAX));
  EXPECT_EQ(Run({"--quarantine", tree_.Path("q"), "--remove", tree_.Path("root")}), kExitInfected)
      << err_.str();
  EXPECT_TRUE(LineSet(out_.str()) == files) << err_.str();
  EXPECT_EQ(LineSet(tree_.Read("q/manifest.tsv")).size(), files.size() + 1);
  Run({tree_.Path("root")});
  EXPECT_TRUE(out_.str().empty()) << "removed";
  EmptyDirectory(open(tree_.Path("root").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}
#endif

} // namespace
} // namespace vorse
