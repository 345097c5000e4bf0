// vorsescan against trees, names and streams arranged by an attacker: links where copies go,
// control characters in names, a full disk under the report and under the manifest.
#include "cli/run_cli.h"
#include "cli_test_tree.h"
#include "steered_cli_os.h"

#include <gtest/gtest.h>

#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vorse {
namespace {

class HostileTreeTest : public ::testing::Test {
protected:
  int Run(std::vector<std::string> Args) {
    out_.str("");
    err_.str("");
    // A second passes between any two looks at the clock: the progress line shows every step.
    return RunVorsescan(Args, PlatformScanOs(), cli_, out_, err_,
                        [this] { return now_ += std::chrono::seconds(1); });
  }
  /// Runs with --quarantine q --remove over \p Root, the arguments in \p Extra first.
  int RunRemoving(const std::string &Root, std::vector<std::string> Extra = {}) {
    Extra.insert(Extra.end(), {"--quarantine", tree_.Path("q"), "--remove", Root});
    return Run(Extra);
  }
  bool Says(const std::string &Text) const { return err_.str().find(Text) != std::string::npos; }

  test::TestTree tree_;
  test::SteeredCliOs cli_;
  std::chrono::steady_clock::time_point now_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(HostileTreeTest, AnEmptyRootOrAnOptionTakenAsAValueReadsNothing) {
  tree_.Program("kern.exe", u"Kern32");
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"--quarantine", tree_.Path("q"), "--remove", ""},
        std::vector<std::string>{"--quarantine", "--remove", tree_.Path()}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(Run(args), kExitError);
    EXPECT_TRUE(cli_.removed.empty());
    EXPECT_TRUE(tree_.Exists("kern.exe"));
    EXPECT_FALSE(tree_.Exists("q"));
    EXPECT_TRUE(Says("Try 'vorsescan --help'")) << err_.str();
  }
}

#ifndef _WIN32
TEST_F(HostileTreeTest, ControlCharactersInNamesNeverReachTheOutputRaw) {
  const std::string name = "a\nb\x1b[2J.exe";
  tree_.Program(name, u"Kern32");
  const std::string path = tree_.Path(name);
  const std::string shown = "$'" + tree_.Path("a\\nb\\x1b[2J.exe") + "'";
  cli_.terminal = true;
  EXPECT_EQ(Run({tree_.Path()}), kExitInfected);
  EXPECT_EQ(out_.str(), shown + "\n") << "one line per infected file";

  // The progress line shows each directory searched; messages name paths too (here, a
  // directory taken for a loop back to the root).
  const std::string dir = "d\x1b]0;title\x07";
  tree_.Write(dir + "/x.exe", "");
  tree_.Write("e\x1b[2J/x.exe", "");
  cli_.identities[tree_.Path(dir) + "/"] = *PlatformCliOs().IdentifyDirectory(tree_.Path());
  Run({tree_.Path()});
  EXPECT_TRUE(Says("$'" + tree_.Path("d\\x1b]0;title\\x07") + "/': not searched")) << err_.str();
  EXPECT_TRUE(Says(" infected  $'" + tree_.Path("e\\x1b[2J") + "/'")) << err_.str();
  EXPECT_EQ(err_.str().find('\x1b'), std::string::npos) << err_.str();
  EXPECT_EQ(err_.str().find('\x07'), std::string::npos);

  // -0 gives the bytes exactly, each path ended by a NUL.
  EXPECT_EQ(Run({"-0", "--quiet", tree_.Path()}), kExitInfected);
  EXPECT_EQ(out_.str(), path + std::string(1, '\0'));
}
#endif

} // namespace
} // namespace vorse
