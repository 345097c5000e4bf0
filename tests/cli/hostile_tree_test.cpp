// vorsescan against trees, names and streams arranged by an attacker: links where copies go,
// control characters in names, a full disk under the report and under the manifest.
#include "cli/run_cli.h"
#include "cli_test_tree.h"
#include "steered_cli_os.h"

#include <gtest/gtest.h>

#include <sstream>

#ifndef _WIN32
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
  /// Runs with --quarantine q --remove over \p Root.
  int RunRemoving(const std::string &Root) {
    return Run({"--quarantine", tree_.Path("q"), "--remove", Root});
  }
  bool Says(const std::string &Text) const { return err_.str().find(Text) != std::string::npos; }

  test::TestTree tree_;
  test::SteeredCliOs cli_;
  std::chrono::steady_clock::time_point now_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(HostileTreeTest, AFullDiskUnderTheManifestLeavesNoTornLineAndTheOriginalInPlace) {
  tree_.Program("scan/a/x.exe", u"Kern32");
  EXPECT_EQ(RunRemoving(tree_.Path("scan/a")), kExitInfected);
  const std::string before = tree_.Read("q/manifest.tsv");
  tree_.Program("scan/b/y.exe", u"Kern32");
  for (const std::size_t limit : {std::size_t{0}, std::size_t{30}}) {
    SCOPED_TRACE(limit);
    cli_.appendLimit = limit;
    EXPECT_EQ(RunRemoving(tree_.Path("scan/b")), kExitError);
    EXPECT_TRUE(tree_.Exists("scan/b/y.exe")) << "not recorded: not removed";
    EXPECT_EQ(tree_.Read("q/manifest.tsv"), before);
    EXPECT_TRUE(Says("cannot write " + tree_.Path("q/manifest.tsv"))) << err_.str();
  }
  // A new manifest that cannot be written whole is not left behind without its header.
  std::filesystem::remove(tree_.Path("q/manifest.tsv"));
  cli_.appendLimit = 20;
  EXPECT_EQ(RunRemoving(tree_.Path("scan/b")), kExitError);
  EXPECT_FALSE(tree_.Exists("q/manifest.tsv"));
  cli_.appendLimit.reset();
  EXPECT_EQ(RunRemoving(tree_.Path("scan/b")), kExitInfected);
  EXPECT_TRUE(tree_.Read("q/manifest.tsv").starts_with("time\toriginal_path\t"));
  EXPECT_FALSE(tree_.Exists("scan/b/y.exe"));
}

/// A stream buffer on a full disk: every write fails.
class FullDiskBuffer final : public std::streambuf {
protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char *, std::streamsize) override { return 0; }
};

TEST_F(HostileTreeTest, AReportThatCannotBeWrittenIsAnError) {
  tree_.Program("x.exe", u"Kern32");
  FullDiskBuffer full;
  std::ostream out(&full);
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{tree_.Path()}, std::vector<std::string>{"--json", tree_.Path()},
        std::vector<std::string>{"-0", tree_.Path()}, std::vector<std::string>{"--version"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    out.clear();
    err_.str("");
    EXPECT_EQ(RunVorsescan(args, PlatformScanOs(), cli_, out, err_), kExitError);
    EXPECT_TRUE(Says("vorsescan: cannot write standard output")) << err_.str();
  }
  // Closed from the start, its number could go to the manifest and receive the report.
  cli_.stdoutOpen = false;
  EXPECT_EQ(Run({"--quarantine", tree_.Path("q"), tree_.Path()}), kExitError);
  EXPECT_FALSE(tree_.Exists("q"));
}

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
/// Links \p Relative to \p Target, as a tree may hold it.
void Link(const test::TestTree &Tree, const std::string &Target, const std::string &Relative) {
  std::filesystem::create_directories(std::filesystem::path(Tree.Path(Relative)).parent_path());
  ASSERT_EQ(symlink(Target.c_str(), Tree.Path(Relative).c_str()), 0);
}
#endif

TEST_F(HostileTreeTest, AnEntryAtTheCopysNameThatIsNoSeparateRegularFileIsNeverACopy) {
  // Each stands where the copy of scan/x.exe would go; each would compare equal to it.
  std::vector<std::pair<const char *, std::function<void()>>> cases{
      {"a hard link to the original", [&] {
         std::filesystem::create_directories(tree_.Path("q"));
         std::filesystem::create_hard_link(tree_.Path("scan/x.exe"), tree_.Path("q/x.exe"));
       }}};
#ifndef _WIN32
  cases.emplace_back("a link back at the original",
                     [&] { Link(tree_, "../scan/x.exe", "q/x.exe"); });
  cases.emplace_back("a link to an identical file elsewhere", [&] {
    std::filesystem::copy_file(tree_.Path("scan/x.exe"), tree_.Path("twin.exe"));
    Link(tree_, tree_.Path("twin.exe"), "q/x.exe");
  });
#endif
  for (const auto &[what, plant] : cases) {
    SCOPED_TRACE(what);
    std::filesystem::remove_all(tree_.Path());
    tree_.Program("scan/x.exe", u"Kern32");
    const std::string bytes = tree_.Read("scan/x.exe");
    plant();
    EXPECT_EQ(RunRemoving(tree_.Path("scan")), kExitInfected) << err_.str();
    // The original is gone only because a true copy of it is kept under the next name.
    EXPECT_FALSE(tree_.Exists("scan/x.exe"));
    EXPECT_TRUE(tree_.Read("q/x (2).exe") == bytes);
    EXPECT_EQ(std::filesystem::symlink_status(tree_.Path("q/x (2).exe")).type(),
              std::filesystem::file_type::regular);
    EXPECT_EQ(std::filesystem::hard_link_count(tree_.Path("q/x (2).exe")), 1u);
    EXPECT_NE(tree_.Read("q/manifest.tsv").find("\tx (2).exe\t"), std::string::npos);
  }
}

#ifndef _WIN32
TEST_F(HostileTreeTest, AManifestThatIsALinkOrNoRegularFileIsNeverWrittenThrough) {
  tree_.Write("victim", "precious\n");
  struct Case {
    const char *what;
    std::function<void()> plant;
  };
  const Case cases[] = {
      {"a link to another file", [&] { Link(tree_, tree_.Path("victim"), "q/manifest.tsv"); }},
      {"a dangling link", [&] { Link(tree_, tree_.Path("new"), "q/manifest.tsv"); }},
      {"a directory", [&] { std::filesystem::create_directories(tree_.Path("q/manifest.tsv")); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(tree_.Path("q"));
    std::filesystem::remove_all(tree_.Path("scan"));
    tree_.Program("scan/x.exe", u"Kern32");
    c.plant();
    EXPECT_EQ(RunRemoving(tree_.Path("scan")), kExitError);
    EXPECT_TRUE(tree_.Exists("scan/x.exe")) << "not recorded: not removed";
    EXPECT_EQ(tree_.Read("victim"), "precious\n");
    EXPECT_FALSE(tree_.Exists("new"));
    EXPECT_TRUE(Says("manifest.tsv")) << err_.str();
  }
}

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
