// vorsescan from end to end, in process: the platform's own search and version reading over a
// real tree, with the scanner's seam wrapped where a test needs to steer it.
#include "cli/file_digest.h"
#include "cli/json_writer.h"
#include "cli/run_cli.h"
#include "cli_test_tree.h"
#include "flat_json.h"
#include "scan/forwarding_scan_os.h"
#include "steered_cli_os.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <sstream>

#ifdef _WIN32
#include "sysutil/win32_support.h"
#else
#include "scan/scan_os_posix.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace vorse {
namespace {

/// The platform's ScanOs, with directory searches and files that fail as unreadable ones do.
class FailingScanOs final : public ForwardingScanOs {
public:
  FailingScanOs() : ForwardingScanOs(PlatformScanOs()) {}
  std::vector<std::string> unreadable;

  FindHandle FindFirstFileA(const std::string &Pattern, FindData &Data) override {
    if (Fails(Pattern.substr(0, Pattern.rfind('\\'))))
      return kInvalidFindHandle;
    return inner_.FindFirstFileA(Pattern, Data);
  }
  std::int32_t FindNextFileA(FindHandle Handle, FindData &Data) override {
    failed_ = false;
    return inner_.FindNextFileA(Handle, Data);
  }
  std::uint32_t GetFileVersionInfoSizeA(const std::string &FileName,
                                        std::uint32_t &Handle) override {
    return Fails(FileName) ? 0 : inner_.GetFileVersionInfoSizeA(FileName, Handle);
  }
  std::error_code LastError() override {
    if (!failed_)
      return inner_.LastError();
#ifdef _WIN32
    return {5, std::system_category()}; // ERROR_ACCESS_DENIED
#else
    return std::make_error_code(std::errc::permission_denied);
#endif
  }

private:
  bool Fails(const std::string &Path) {
    const std::string native = PlatformCliOs().NativePath(Path);
    failed_ = std::find(unreadable.begin(), unreadable.end(), native) != unreadable.end();
    return failed_;
  }
  bool failed_ = false;
};

/// \p Text as a JSON string literal (the tree's paths are plain text).
std::string Quoted(const std::string &Text) {
  std::string quoted = "\"";
  for (const char c : Text)
    quoted += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return quoted + "\"";
}

std::string PathSeparator() {
  return std::string(1, std::filesystem::path::preferred_separator);
}

std::vector<std::string> Lines(const std::string &Text) {
  std::vector<std::string> lines;
  std::istringstream stream(Text);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(line);
  return lines;
}

class VorsescanTest : public ::testing::Test {
protected:
  int Run(std::vector<std::string> Args) {
    out_.str("");
    err_.str("");
    return RunVorsescan(Args, scan_, cli_, out_, err_);
  }

  /// A tree with two infected programs (one a level down), near misses and things that are no
  /// program at all.
  void PlantMixedTree() {
    tree_.Program("top.exe", u"Kern32");
    tree_.Program("sub/deep.exe", u"WoWeX32");
    tree_.Program("sub/near.exe", u"Kern321");
    tree_.Program("sub/space.exe", u"Kern32 ");
    tree_.Program("other.dll", u"Kern32");
    tree_.Write("text.exe", "not a program");
    std::filesystem::create_directories(tree_.Path("tools.exe"));
  }

  test::TestTree tree_;
  FailingScanOs scan_;
  test::SteeredCliOs cli_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(VorsescanTest, PrintsOnlyTheInfectedPathsInTheSearchOrder) {
  PlantMixedTree();
  EXPECT_EQ(Run({tree_.Path()}), kExitInfected);
  EXPECT_EQ(Lines(out_.str()),
            (std::vector<std::string>{tree_.Path("top.exe"), tree_.Path("sub/deep.exe")}));
  // Rows: top.exe, text.exe, tools.exe (a directory named like a match), and three below sub.
  EXPECT_EQ(err_.str().substr(0, err_.str().rfind(',')),
            "vorsescan: 6 files examined in 3 directories, 2 infected, 0 errors");
}

TEST_F(VorsescanTest, ExitStatusTellsCleanFromInfectedFromFailed) {
  tree_.Program("clean/a.exe", u"Notepad");
  tree_.Program("dirty/a.exe", u"wowex32");
  tree_.Write("file", "");
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{tree_.Path("clean")}, kExitClean},
      {{tree_.Path("dirty")}, kExitInfected},
      {{tree_.Path("missing")}, kExitError},
      {{tree_.Path("file")}, kExitClean},
      {{tree_.Path("missing"), tree_.Path("dirty")}, kExitError},
      {{"--bogus", tree_.Path("dirty")}, kExitError},
      {{"--help"}, kExitClean},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(Run(c.args), c.status) << err_.str();
  }
  // A root that cannot be read does not stop the others.
  Run({tree_.Path("missing"), tree_.Path("dirty")});
  EXPECT_EQ(out_.str(), tree_.Path("dirty/a.exe") + "\n");
  EXPECT_NE(err_.str().find(tree_.Path("missing") + ": cannot read"), std::string::npos);
}

TEST_F(VorsescanTest, AFileNamedAsAnArgumentIsExaminedWhateverItsName) {
  tree_.Program("suspicious.bin", u"Kern32");
  tree_.Program("clean.dat", u"Notepad");
  EXPECT_EQ(Run({tree_.Path("suspicious.bin"), tree_.Path("clean.dat")}), kExitInfected)
      << err_.str();
  EXPECT_EQ(out_.str(), tree_.Path("suspicious.bin") + "\n");
  EXPECT_NE(err_.str().find("2 files examined in 0 directories, 1 infected, 0 errors"),
            std::string::npos)
      << err_.str();
}

#ifndef _WIN32
TEST_F(VorsescanTest, WithoutDirectoryOutsideWindowsSaysOneIsNeeded) {
  EXPECT_EQ(Run({}), kExitError);
  EXPECT_NE(err_.str().find("a directory to scan is needed"), std::string::npos);
}

TEST_F(VorsescanTest, NamesThatAreNoValidTextArePrintedAsTheirBytes) {
  tree_.Program("caf\xE9/caf\xE9.exe", u"Kern32");
  EXPECT_EQ(Run({"--quiet", tree_.Path()}), kExitInfected);
  EXPECT_EQ(out_.str(), tree_.Path("caf\xE9/caf\xE9.exe") + "\n");
  Run({"--json", tree_.Path(), tree_.Path("caf\xE9")});
  EXPECT_NE(out_.str().find("\"path_bytes\": \"" + ToHex(tree_.Path("caf\xE9/caf\xE9.exe")) + "\""),
            std::string::npos)
      << out_.str();
  // The roots keep their bytes alike, one entry for each root.
  EXPECT_NE(out_.str().find("\"roots_bytes\": [\n    \"" + ToHex(tree_.Path()) + "\",\n    \"" +
                            ToHex(tree_.Path("caf\xE9")) + "\"\n  ]"),
            std::string::npos)
      << out_.str();
  Run({"--json", tree_.Path()});
  EXPECT_EQ(out_.str().find("roots_bytes"), std::string::npos) << "only where it is needed";
}

TEST_F(VorsescanTest, AListingThatFailsOnTheWayLeavesTheScanIncomplete) {
  tree_.Program("clean.exe", u"Notepad");
  tree_.Program("sub/clean.exe", u"Notepad");
  tree_.Program("sub/a.exe", u"Kern32");
  tree_.Program("sub/b.exe", u"wowex32");
  for (const std::string &cut : {tree_.Path(), tree_.Path("sub")}) {
    SCOPED_TRACE(cut);
    struct stat target {};
    ASSERT_EQ(stat(cut.c_str(), &target), 0);
    // The first read of that directory gives ".", ".." and clean.exe only; the next one fails.
    std::set<int> started;
    const std::unique_ptr<ScanOs> scan =
        MakePosixScanOs([&](int Fd, void *Records, std::size_t Size) -> ssize_t {
          struct stat dir {};
          if (fstat(Fd, &dir) != 0 || dir.st_ino != target.st_ino)
            return getdents64(Fd, Records, Size);
          if (!started.insert(Fd).second) {
            errno = EIO;
            return -1;
          }
          std::vector<char> all(Size);
          const ssize_t got = getdents64(Fd, all.data(), all.size());
          std::size_t kept = 0;
          for (ssize_t at = 0; at < got;) {
            const auto *record = reinterpret_cast<const dirent64 *>(all.data() + at);
            const std::string_view name = record->d_name;
            if (name == "." || name == ".." || name == "clean.exe") {
              std::memcpy(static_cast<char *>(Records) + kept, record, record->d_reclen);
              kept += record->d_reclen;
            }
            at += record->d_reclen;
          }
          return static_cast<ssize_t>(kept);
        });
    out_.str("");
    err_.str("");
    const std::vector<std::string> args = {tree_.Path()};
    EXPECT_EQ(RunVorsescan(args, *scan, cli_, out_, err_), kExitError);
    EXPECT_EQ(out_.str(), "");
    EXPECT_NE(err_.str().find(cut + "/: cannot read directory: Input/output error"),
              std::string::npos)
        << err_.str();
    EXPECT_NE(err_.str().find("0 infected, 1 error, 1 not examined"), std::string::npos)
        << err_.str();
  }
}

TEST_F(VorsescanTest, NamesTheNarrowCallsCannotOpenAreReportedNotExamined) {
  // Judged as on Windows, where the system's calls would open another entry or none.
  cli_.narrowNames = true;
  tree_.Program("Kern32.exe.", u"Kern32");
  tree_.Program("nul.exe", u"Kern32");
  tree_.Program("dir./a.exe", u"Kern32");
  tree_.Program("plain.exe", u"Notepad");
  EXPECT_EQ(Run({tree_.Path()}), kExitError);
  EXPECT_EQ(out_.str(), "");
  for (const char *name : {"nul.exe", "dir."})
    EXPECT_NE(err_.str().find(tree_.Path(name) + ": not examined: the system's calls would open"),
              std::string::npos)
        << err_.str();
  EXPECT_NE(err_.str().find("1 file examined in 1 directory, 0 infected, 2 errors"),
            std::string::npos)
      << err_.str();
}

TEST_F(VorsescanTest, APipeNamedLikeAProgramNeitherStopsTheScanNorCounts) {
  // Opening a named pipe that no one writes to waits for a writer, unless asked not to.
  ASSERT_EQ(mkfifo(tree_.Path("pipe.exe").c_str(), 0600), 0);
  ASSERT_EQ(symlink(tree_.Path("pipe.exe").c_str(), tree_.Path("link.exe").c_str()), 0);
  tree_.Program("after.exe", u"Kern32");
  EXPECT_EQ(Run({tree_.Path()}), kExitInfected);
  EXPECT_EQ(out_.str(), tree_.Path("after.exe") + "\n");
  EXPECT_NE(err_.str().find("3 files examined in 1 directory, 1 infected, 0 errors"),
            std::string::npos)
      << err_.str();
}
#endif

TEST_F(VorsescanTest, ProgressOnlyOnATerminalAndNothingButErrorsWhenQuiet) {
  PlantMixedTree();
  Run({tree_.Path()});
  EXPECT_EQ(err_.str().find('\r'), std::string::npos);
  cli_.terminal = true;
  Run({tree_.Path()});
  EXPECT_NE(err_.str().find("\r1 dirs, 0 files, 0 infected  "), std::string::npos) << err_.str();
  // The line is blanked before each finding's own output and at the end.
  EXPECT_NE(err_.str().find("\rvorsescan: 6 files"), std::string::npos) << err_.str();
  Run({"--quiet", tree_.Path()});
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(Lines(out_.str()).size(), 2u);
}

TEST_F(VorsescanTest, ReportsUnreadableDirectoriesAndFilesAndGoesOn) {
  PlantMixedTree();
  tree_.Program("locked/x.exe", u"Kern32");
  tree_.Program("z/after.exe", u"Kern32");
  scan_.unreadable = {tree_.Path("locked"), tree_.Path("top.exe")};
  EXPECT_EQ(Run({"--json", tree_.Path()}), kExitInfected) << "not the root: the scan goes on";
  const std::string json = out_.str();
  for (const std::string &expected :
       {"\"path\": " + Quoted(tree_.Path("locked") + PathSeparator()),
        std::string("\"reason\": \"cannot read directory: "),
        "\"path\": " + Quoted(tree_.Path("top.exe")),
        std::string("\"reason\": \"cannot read file: "), std::string("\"errors\": 2")}) {
    EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
  }
  EXPECT_NE(json.find(Quoted(tree_.Path("z/after.exe"))), std::string::npos);
  scan_.unreadable = {tree_.Path()};
  EXPECT_EQ(Run({tree_.Path()}), kExitError) << "a root that cannot be read";
}

TEST_F(VorsescanTest, AnIncompleteScanIsNeverReportedClean) {
  tree_.Program("clean/a.exe", u"Notepad");
  tree_.Program("clean/sub/b.exe", u"Notepad");
  tree_.Program("dirty/a.exe", u"Kern32");
  tree_.Program("dirty/b.exe", u"Notepad");
  const std::optional<DirectoryId> clean = PlatformCliOs().IdentifyDirectory(tree_.Path("clean"));
  ASSERT_TRUE(clean);
  struct Case {
    std::string root;
    std::vector<std::string> unreadable;
    bool loop;
    int status;
    std::string summary;
  };
  const Case cases[] = {
      {"clean", {"clean/a.exe"}, false, kExitError, "0 infected, 1 error, 1 not examined"},
      {"clean", {"clean/sub"}, false, kExitError, "0 infected, 1 error, 1 not examined"},
      {"dirty", {"dirty/b.exe"}, false, kExitInfected, "1 infected, 1 error, 1 not examined"},
      // A directory not entered again because it leads back to an ancestor was searched.
      {"clean", {}, true, kExitClean, "0 infected, 1 error, "},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.summary);
    scan_.unreadable.clear();
    for (const std::string &path : c.unreadable)
      scan_.unreadable.push_back(tree_.Path(path));
    cli_.identities.clear();
    if (c.loop)
      cli_.identities[tree_.Path("clean/sub") + PathSeparator()] = *clean;
    EXPECT_EQ(Run({tree_.Path(c.root)}), c.status) << err_.str();
    EXPECT_NE(err_.str().find(c.summary), std::string::npos) << err_.str();
  }
  Run({"--json", tree_.Path("clean")});
  EXPECT_NE(out_.str().find("\"not_examined\": 0"), std::string::npos) << out_.str();
}

TEST_F(VorsescanTest, DoesNotSearchADirectoryThatLeadsBackToItsAncestor) {
  tree_.Program("a/loop/x.exe", u"Kern32");
  tree_.Program("b/y.exe", u"Kern32");
  const std::optional<DirectoryId> root = PlatformCliOs().IdentifyDirectory(tree_.Path());
  ASSERT_TRUE(root);
  cli_.identities[tree_.Path("a/loop") + PathSeparator()] = *root;
  EXPECT_EQ(Run({tree_.Path()}), kExitInfected);
  EXPECT_EQ(out_.str(), tree_.Path("b/y.exe") + "\n");
  EXPECT_NE(err_.str().find(": not searched: it leads back to "), std::string::npos) << err_.str();
}

TEST_F(VorsescanTest, JsonReportsCountsAndEachFindingWithItsDigest) {
  tree_.Program("a.exe", u"KERN32");
  const std::string bytes = tree_.Read("a.exe");
  EXPECT_EQ(Run({"--json", tree_.Path()}), kExitInfected);
  const std::string json = out_.str();
  FileDigest digest;
  ASSERT_FALSE(DigestFile(tree_.Path("a.exe"), digest));
  for (const std::string &expected :
       {std::string("\"version\": \""), "\"roots\": [\n    " + Quoted(tree_.Path()) + "\n  ]",
        std::string("\"directories\": 1"), std::string("\"files\": 1"),
        std::string("\"infected\": 1"), "\"path\": " + Quoted(tree_.Path("a.exe")),
        std::string("\"internal_name\": \"KERN32\""), "\"size\": " + std::to_string(bytes.size()),
        "\"sha256\": \"" + digest.sha256 + "\"", std::string("\"action\": \"reported\""),
        std::string("\"errors\": []")}) {
    EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
  }
  EXPECT_EQ(json.front(), '{');
  EXPECT_EQ(json.substr(json.size() - 2), "}\n") << "one document, nothing else";
}

TEST_F(VorsescanTest, JsonCarriesTheTimeHostAndSchemaOfTheEvents) {
  tree_.Program("a.exe", u"Kern32");
  Run({"--json", tree_.Path()});
  for (const std::string expected : {"\"@timestamp\": \"2026-05-01T09:30:00.250Z\"",
                                     "\"name\": \"responder-07\"", "\"schema_version\": 1"})
    EXPECT_NE(out_.str().find(expected), std::string::npos) << expected << "\n" << out_.str();
}

class QuarantineRunTest : public VorsescanTest {
protected:
  std::string Quarantine() const { return tree_.Path("q"); }

  /// Each line of \p Text parsed; a line that does not parse fails the test.
  static std::vector<std::map<std::string, std::string>> Events(const std::string &Text) {
    std::vector<std::map<std::string, std::string>> events;
    for (const std::string &line : Lines(Text)) {
      const auto event = test::FlatJson::Parse(line);
      EXPECT_TRUE(event) << line;
      if (event)
        events.push_back(*event);
    }
    return events;
  }
};

TEST_F(QuarantineRunTest, SaysWhatWasDoneWithEachFileAndCountsAFailedRemoval) {
  tree_.Program("scan/a.exe", u"Kern32");
  tree_.Program("scan/b.exe", u"wowex32");
  const std::string a = tree_.Read("scan/a.exe");
  cli_.undeletable = {tree_.Path("scan/b.exe")};
  EXPECT_EQ(Run({"--quarantine", Quarantine(), "--remove", tree_.Path("scan")}), kExitError);
  EXPECT_EQ(Lines(out_.str()).size(), 2u) << "standard output still lists each infected file";
  const std::vector<std::string> messages = Lines(err_.str());
  ASSERT_EQ(messages.size(), 3u) << err_.str();
  const auto line = [&](const std::string &Path) {
    const auto found = std::find_if(messages.begin(), messages.end(), [&](const std::string &m) {
      return m.starts_with("vorsescan: " + Path + ": ");
    });
    return found == messages.end() ? std::string() : found->substr(13 + Path.size());
  };
  EXPECT_EQ(line(tree_.Path("scan/a.exe")), "removed; its copy is " + tree_.Path("q/a.exe"));
  EXPECT_TRUE(line(tree_.Path("scan/b.exe")).starts_with("cannot remove (its copy is kept)"));
  EXPECT_NE(messages[2].find("2 infected, 2 quarantined, 1 removed, 0 scheduled, 1 failed, 1 "
                             "error, "),
            std::string::npos)
      << messages[2];

  tree_.Write("scan/a.exe", a);
  Run({"--json", "--quarantine", Quarantine(), "--remove", tree_.Path("scan")});
  for (const char *count : {"\"errors\": 1", "\"quarantined\": 2", "\"removed\": 1",
                            "\"failed\": 1", "\"action\": \"removed\""})
    EXPECT_NE(out_.str().find(count), std::string::npos) << count << "\n" << out_.str();
}

TEST_F(QuarantineRunTest, JsonLinesWritesOneParsableEventPerFindingAndErrorThenASummary) {
  tree_.Program("scan/kern.exe", u"kern32");
  tree_.Program("scan/locked.exe", u"Kern32");
  scan_.unreadable = {tree_.Path("scan/locked.exe")};
  FileDigest digest;
  ASSERT_FALSE(DigestFile(tree_.Path("scan/kern.exe"), digest));
  EXPECT_EQ(Run({"--json-lines", "--quarantine", Quarantine(), tree_.Path("scan")}), kExitInfected);
  const auto events = Events(out_.str());
  ASSERT_EQ(events.size(), 3u) << out_.str();
  for (const auto &event : events) {
    EXPECT_EQ(event.at("@timestamp"), "2026-05-01T09:30:00.250Z");
    EXPECT_EQ(event.at("host.name"), "responder-07");
    EXPECT_EQ(event.at("agent.name"), "vorsescan");
    EXPECT_EQ(event.at("vorsescan.schema_version"), "1");
    for (const char *field : {"agent.version", "ecs.version", "event.kind", "event.action"})
      EXPECT_TRUE(event.contains(field)) << field;
  }
  // The directory's own order decides which comes first.
  const bool findingFirst = events[0].contains("rule.name");
  const auto &finding = events[findingFirst ? 0 : 1];
  const auto &error = events[findingFirst ? 1 : 0];
  const std::map<std::string, std::string> expected = {
      {"event.action", "quarantined"},
      {"event.outcome", "success"},
      {"file.path", Quoted(tree_.Path("scan/kern.exe"))
                        .substr(1, Quoted(tree_.Path("scan/kern.exe")).size() - 2)},
      {"file.size", std::to_string(digest.size)},
      {"file.hash.sha256", digest.sha256},
      {"rule.name", "InternalName: Kern32"},
      {"vorsescan.internal_name", "kern32"}};
  for (const auto &[name, value] : expected)
    EXPECT_EQ(finding.count(name) ? finding.at(name) : "(none)", value) << name;
  EXPECT_EQ(error.at("event.outcome"), "failure");
  EXPECT_TRUE(error.at("error.message").starts_with("cannot read file"))
      << error.at("error.message");
  EXPECT_EQ(events[2].at("event.action"), "summary");
  EXPECT_EQ(events[2].at("vorsescan.counts.errors"), "1");
  EXPECT_EQ(events[2].at("vorsescan.counts.quarantined"), "1");
  EXPECT_EQ(events[2].at("vorsescan.exit_status"), "1");
}

TEST_F(QuarantineRunTest, KeepsEveryCopyUnderItsOwnNameAndRecordsIt) {
  tree_.Program("scan/a/kern.exe", u"Kern32");
  tree_.Program("scan/b/kern.exe", u"wowex32");
  tree_.Write("q/kern.exe", "an unrelated file already there");
  EXPECT_EQ(Run({"--quarantine", Quarantine(), tree_.Path("scan")}), kExitInfected) << err_.str();
  EXPECT_EQ(tree_.Read("q/kern.exe"), "an unrelated file already there");
  // The directories' order is the system's: either original may come first.
  const std::string first = tree_.Read("scan/a/kern.exe");
  const std::string second = tree_.Read("scan/b/kern.exe");
  const std::set<std::string> copies{tree_.Read("q/kern (2).exe"), tree_.Read("q/kern (3).exe")};
  EXPECT_TRUE(copies == (std::set<std::string>{first, second}));
  EXPECT_TRUE(tree_.Exists("scan/a/kern.exe")) << "no --remove: originals stay";

  // A second run finds the same copies there and makes no new ones.
  EXPECT_EQ(Run({"--quarantine", Quarantine(), tree_.Path("scan")}), kExitInfected);
  EXPECT_FALSE(tree_.Exists("q/kern (4).exe"));

  const std::vector<std::string> manifest = Lines(tree_.Read("q/manifest.tsv"));
  ASSERT_EQ(manifest.size(), 5u);
  EXPECT_EQ(manifest[0],
            "time\toriginal_path\tquarantine_name\tsize\tsha256\tregistered_path\taction");
  FileDigest digest;
  ASSERT_FALSE(DigestFile(tree_.Path("scan/a/kern.exe"), digest));
  const std::string name = tree_.Read("q/kern (2).exe") == first ? "kern (2).exe" : "kern (3).exe";
  std::string tail = "\t";
  tail += tree_.Path("scan/a/kern.exe") + "\t" + name + "\t" + std::to_string(first.size()) + "\t" +
          digest.sha256 + "\t\tquarantined";
  const auto recorded = [&](std::size_t Line) { return manifest[Line].ends_with(tail); };
  EXPECT_TRUE(recorded(1) || recorded(2)) << manifest[1];
  EXPECT_TRUE(recorded(3) || recorded(4)) << manifest[3];
  EXPECT_EQ(manifest[1].size(), 20u + tail.size()) << "an ISO 8601 UTC time first";
}

TEST_F(QuarantineRunTest, RemovesOriginalsOnlyAfterAVerifiedCopy) {
  tree_.Program("scan/kern.exe", u"Kern32");
  const std::string bytes = tree_.Read("scan/kern.exe");
  cli_.spoilCopies = true;
  EXPECT_EQ(Run({"--quarantine", Quarantine(), "--remove", tree_.Path("scan")}), kExitError);
  EXPECT_TRUE(cli_.removed.empty());
  EXPECT_EQ(tree_.Read("scan/kern.exe"), bytes);
  EXPECT_NE(err_.str().find("differs from the original"), std::string::npos) << err_.str();
  EXPECT_FALSE(tree_.Exists("q/manifest.tsv")) << "nothing recorded that was not kept";

  std::filesystem::remove(tree_.Path("q/kern.exe"));
  cli_.spoilCopies = false;
  EXPECT_EQ(Run({"--quarantine", Quarantine(), "--remove", tree_.Path("scan")}), kExitInfected);
  EXPECT_FALSE(tree_.Exists("scan/kern.exe"));
  EXPECT_EQ(tree_.Read("q/kern.exe"), bytes);
}

TEST_F(QuarantineRunTest, SaysSoWhenRemovalWaitsForTheNextRestart) {
  tree_.Program("scan/kern.exe", u"Kern32");
  const std::string path = tree_.Path("scan/kern.exe");
  cli_.removeAs = RemoveOutcome::ScheduledAtRestart;
  // How many registrations each manifest append came after.
  std::vector<std::size_t> appends;
  cli_.beforeAppend = [&] { appends.push_back(cli_.registered.size()); };
  EXPECT_EQ(Run({"--json", "--quarantine", Quarantine(), "--remove", tree_.Path("scan")}),
            kExitInfected);
  EXPECT_NE(out_.str().find("\"action\": \"removal_scheduled\""), std::string::npos);
  EXPECT_NE(out_.str().find("\"quarantine_path\": " + Quoted(tree_.Path("q/kern.exe"))),
            std::string::npos)
      << out_.str();
  EXPECT_NE(err_.str().find("deleted at the next restart"), std::string::npos);
  // The copy is recorded again with the path registered, before it is registered.
  EXPECT_EQ(cli_.registered, std::vector<std::string>{path});
  EXPECT_EQ(appends, (std::vector<std::size_t>{0, 0}));
  const std::vector<std::string> records = Lines(tree_.Read("q/manifest.tsv"));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_TRUE(records[1].ends_with("\t\tquarantined")) << records[1];
  EXPECT_TRUE(records[2].ends_with("\t" + path + "\tquarantined")) << records[2];

  // A registration whose record cannot be written is not made.
  cli_.registered.clear();
  cli_.beforeAppend = [&] { cli_.appendLimit = cli_.appendLimit ? 0 : 1000; };
  EXPECT_EQ(Run({"--quarantine", Quarantine(), "--remove", tree_.Path("scan")}), kExitError);
  EXPECT_TRUE(cli_.registered.empty());
  EXPECT_NE(err_.str().find("not registered for deletion at the next restart"), std::string::npos)
      << err_.str();
}

TEST_F(QuarantineRunTest, RefusesAQuarantineFolderThatIsAlsoADirectoryToScan) {
  tree_.Program("q/kern.exe", u"Kern32");
  for (const std::string &root : {Quarantine(), Quarantine() + PathSeparator() + "."}) {
    SCOPED_TRACE(root);
    EXPECT_EQ(Run({"--quarantine", Quarantine(), "--remove", tree_.Path("scan"), root}),
              kExitError);
    EXPECT_NE(err_.str().find("is also a directory to scan"), std::string::npos) << err_.str();
    EXPECT_EQ(err_.str().find("files examined"), std::string::npos) << "nothing is read";
  }
}

TEST_F(QuarantineRunTest, LeavesCopiesFoundInsideTheQuarantineFolderAlone) {
  tree_.Program("kern.exe", u"Kern32");
  // The folder lies inside the root: the search meets the fresh copy too, and with --remove
  // must not take it for an original.
  EXPECT_EQ(Run({"--json", "--quarantine", Quarantine(), "--remove", tree_.Path()}), kExitInfected)
      << err_.str();
  EXPECT_FALSE(tree_.Exists("kern.exe"));
  EXPECT_TRUE(tree_.Exists("q/kern.exe"));
  EXPECT_NE(out_.str().find("\"action\": \"already_quarantined\""), std::string::npos)
      << out_.str();
  EXPECT_NE(
      err_.str().find(tree_.Path("q/kern.exe") + ": left as it is: it lies in the quarantine"),
      std::string::npos)
      << err_.str();
  EXPECT_EQ(Lines(tree_.Read("q/manifest.tsv")).size(), 2u);
}

/// The working directory changed for the life of the object.
class WorkingDirectory {
public:
  explicit WorkingDirectory(const std::string &Dir) { std::filesystem::current_path(Dir); }
  ~WorkingDirectory() { std::filesystem::current_path(saved_); }

private:
  std::filesystem::path saved_ = std::filesystem::current_path();
};

class RestoreTest : public QuarantineRunTest {
protected:
  /// Quarantines and removes scan/kern.exe, run from the tree's root with relative paths.
  void QuarantineKern() {
    tree_.Program("scan/kern.exe", u"Kern32");
    bytes_ = tree_.Read("scan/kern.exe");
    const WorkingDirectory here(tree_.Path());
    ASSERT_EQ(Run({"--quarantine", "q", "--remove", "./scan"}), kExitInfected) << err_.str();
    ASSERT_FALSE(tree_.Exists("scan/kern.exe"));
  }
  /// QuarantineKern for \p Relative (from the tree's root).
  void QuarantineAt(const std::string &Relative) {
    tree_.Program(Relative, u"Kern32");
    bytes_ = tree_.Read(Relative);
    ASSERT_EQ(Run({"--quarantine", Quarantine(), "--remove", tree_.Path(Relative)}), kExitInfected)
        << err_.str();
  }
  int Restore(std::vector<std::string> Paths = {}) {
    std::filesystem::create_directories(tree_.Path("elsewhere"));
    const WorkingDirectory elsewhere(tree_.Path("elsewhere"));
    Paths.insert(Paths.begin(), {"--restore", Quarantine()});
    return Run(Paths);
  }
  std::string bytes_;
};

TEST_F(RestoreTest, PutsTheBytesBackAtTheOriginalPathFromAnyWorkingDirectory) {
  QuarantineKern();
  EXPECT_EQ(Restore(), kExitClean) << err_.str();
  EXPECT_EQ(tree_.Read("scan/kern.exe"), bytes_);
  EXPECT_EQ(tree_.Read("q/kern.exe"), bytes_) << "the copy stays";
  EXPECT_EQ(out_.str(), tree_.Path("scan/kern.exe") + "\n");
  const std::vector<std::string> manifest = Lines(tree_.Read("q/manifest.tsv"));
  ASSERT_EQ(manifest.size(), 3u);
  EXPECT_NE(manifest[1].find(tree_.Path("scan/kern.exe")), std::string::npos)
      << "the absolute path, though the scan was given \"./scan\": " << manifest[1];
  EXPECT_EQ(manifest[2], manifest[1].substr(0, manifest[1].rfind('\t')) + "\trestored")
      << "the same record, marked";
  // Asked again, by its path: the identical file there counts as restored.
  EXPECT_EQ(Restore({"--json-lines", tree_.Path("scan/kern.exe")}), kExitClean) << err_.str();
  EXPECT_NE(err_.str().find("1 file restored, 0 errors"), std::string::npos) << err_.str();
  const auto events = Events(out_.str());
  ASSERT_EQ(events.size(), 2u) << out_.str();
  EXPECT_EQ(events[0].at("event.action"), "restored");
  EXPECT_EQ(events[0].at("event.outcome"), "success");
  EXPECT_EQ(events[0].at("file.size"), std::to_string(bytes_.size()));
  EXPECT_EQ(events[1].at("vorsescan.counts.restored"), "1");
}

TEST_F(RestoreTest, NeverWritesOverAnotherFileNorFromACopyThatChanged) {
  QuarantineKern();
  struct Case {
    const char *name;
    std::function<void()> arrange;
    std::vector<std::string> paths;
    const char *message;
  };
  const Case cases[] = {
      {"another file at the path",
       [&] { tree_.Write("scan/kern.exe", "mine"); },
       {},
       "another file is there; it is not overwritten"},
#ifndef _WIN32
      // A link to the identical copy is still no file put back.
      {"a link at the path",
       [&] {
         std::filesystem::create_symlink(tree_.Path("q/kern.exe"), tree_.Path("scan/kern.exe"));
       },
       {},
       "another file is there; it is not overwritten"},
#endif
      {"a copy that changed",
       [&] { tree_.Write("q/kern.exe", bytes_ + "x"); },
       {},
       "no longer holds what was recorded"},
      {"a path never recorded", [] {}, {"scan/other.exe"}, "not recorded in "},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange();
    const bool wasThere =
        std::filesystem::is_symlink(tree_.Path("scan/kern.exe")) || tree_.Exists("scan/kern.exe");
    const std::string before = tree_.Read("scan/kern.exe");
    EXPECT_EQ(Restore(c.paths), kExitError);
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
    EXPECT_EQ(tree_.Exists("scan/kern.exe"), wasThere);
    EXPECT_EQ(tree_.Read("scan/kern.exe"), before);
    EXPECT_EQ(Lines(tree_.Read("q/manifest.tsv")).size(), 2u) << "no restore recorded";
    std::filesystem::remove(tree_.Path("scan/kern.exe"));
    tree_.Write("q/kern.exe", bytes_);
  }
}

#ifndef _WIN32
/// Another user of the machine, as the tests (run as root) make files theirs.
constexpr uid_t kOtherUser = 12345;

TEST_F(RestoreTest, RefusesAQuarantineFolderManifestOrCopyThatAnotherUserControls) {
  if (geteuid() != 0)
    GTEST_SKIP() << "giving files to another user needs root";
  QuarantineKern();
  const std::string manifest = tree_.Read("q/manifest.tsv");
  struct Case {
    const char *name;
    const char *entry;
    std::function<int(const char *)> change;
    const char *message;
  };
  const Case cases[] = {
      {"a folder others may write", "q", [](const char *P) { return chmod(P, 0777); },
       "other users may change it"},
      {"a folder of another user", "q", [](const char *P) { return chown(P, kOtherUser, 0); },
       "it belongs to another user"},
      {"a manifest of another user", "q/manifest.tsv",
       [](const char *P) { return chown(P, kOtherUser, 0); }, "it belongs to another user"},
      {"a manifest others may write", "q/manifest.tsv",
       [](const char *P) { return chmod(P, 0646); }, "other users may change it"},
      {"a copy of another user", "q/kern.exe",
       [](const char *P) { return chown(P, kOtherUser, 0); }, "cannot read its copy"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string entry = tree_.Path(c.entry);
    struct stat before {};
    ASSERT_EQ(stat(entry.c_str(), &before), 0);
    ASSERT_EQ(c.change(entry.c_str()), 0);
    EXPECT_EQ(Restore(), kExitError);
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
    EXPECT_FALSE(tree_.Exists("scan/kern.exe"));
    EXPECT_EQ(tree_.Read("q/manifest.tsv"), manifest) << "nothing recorded";
    ASSERT_EQ(chown(entry.c_str(), before.st_uid, before.st_gid), 0);
    ASSERT_EQ(chmod(entry.c_str(), before.st_mode & 07777), 0);
  }
}

TEST_F(RestoreTest, PutsBackOnlyThroughLinksThatNoOtherUserCouldHavePlaced) {
  if (geteuid() != 0)
    GTEST_SKIP() << "giving links to another user needs root";
  struct Case {
    const char *name;
    mode_t folderMode;
    uid_t linkOwner;
    bool putBack;
  };
  const Case cases[] = {
      {"a link planted in a folder everyone may write", 01777, 0, false},
      {"a link of another user", 0755, kOtherUser, false},
      {"root's link in root's folder", 0755, 0, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string shared = std::string(c.name) + "/shared";
    QuarantineAt(shared + "/sub/kern.exe");
    // Once the file is gone, its folder is swapped for a link to another one.
    ASSERT_EQ(chmod(tree_.Path(shared).c_str(), c.folderMode), 0);
    std::filesystem::rename(tree_.Path(shared + "/sub"), tree_.Path(shared + "/sub.old"));
    const std::string victim = std::string(c.name) + "/victim";
    std::filesystem::create_directories(tree_.Path(victim));
    std::filesystem::create_directory_symlink(tree_.Path(victim), tree_.Path(shared + "/sub"));
    ASSERT_EQ(lchown(tree_.Path(shared + "/sub").c_str(), c.linkOwner, 0), 0);
    EXPECT_EQ(Restore({tree_.Path(shared + "/sub/kern.exe")}), c.putBack ? kExitClean : kExitError)
        << err_.str();
    EXPECT_EQ(tree_.Read(victim + "/kern.exe"), c.putBack ? bytes_ : "");
    if (!c.putBack) {
      EXPECT_NE(err_.str().find("a link on the way was made by another user"), std::string::npos)
          << err_.str();
    }
  }
}
#endif

#ifdef _WIN32
/// The value of the NT family's list of operations pending until the next start; nothing when
/// there is none.
std::optional<std::wstring> PendingOperations() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return std::nullopt;
  DWORD bytes = 0;
  std::wstring value;
  if (::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &bytes) ==
      ERROR_SUCCESS) {
    value.resize(bytes / sizeof(wchar_t));
    ::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                       reinterpret_cast<BYTE *>(value.data()), &bytes);
  }
  ::RegCloseKey(key);
  return bytes == 0 ? std::nullopt : std::optional<std::wstring>(value);
}

void SetPendingOperations(const std::optional<std::wstring> &Value) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  if (Value)
    ::RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                     reinterpret_cast<const BYTE *>(Value->data()),
                     static_cast<DWORD>(Value->size() * sizeof(wchar_t)));
  else
    ::RegDeleteValueW(key, L"PendingFileRenameOperations");
  ::RegCloseKey(key);
}

/// Puts the list of pending operations back as it was, however the test ends.
class PendingOperationsKept {
public:
  ~PendingOperationsKept() { SetPendingOperations(saved_); }

private:
  std::optional<std::wstring> saved_ = PendingOperations();
};

TEST_F(RestoreTest, WithdrawsTheDeletionPendingAtRestartOfThatFileAndNoOther) {
  const PendingOperationsKept kept;
  tree_.Write("other.tmp", "x");
  tree_.Write("renamed.tmp", "y");
  ASSERT_TRUE(::MoveFileExA(tree_.Path("other.tmp").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(::MoveFileExA(tree_.Path("renamed.tmp").c_str(), tree_.Path("new.tmp").c_str(),
                            MOVEFILE_DELAY_UNTIL_REBOOT));
  const std::optional<std::wstring> others = PendingOperations();

  // The file is in use: removal can only register it for deletion at the next start.
  tree_.Program("scan/kern.exe", u"Kern32");
  const win32::ScopedFileHandle inUse(::CreateFileA(tree_.Path("scan/kern.exe").c_str(),
                                                    GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(inUse);
  EXPECT_EQ(Run({"--quarantine", Quarantine(), "--remove", tree_.Path("scan")}), kExitInfected);
  EXPECT_NE(err_.str().find("deleted at the next restart"), std::string::npos) << err_.str();
  EXPECT_NE(PendingOperations(), others);

  EXPECT_EQ(Restore(), kExitClean) << err_.str();
  EXPECT_NE(err_.str().find("its deletion at the next restart is withdrawn"), std::string::npos)
      << err_.str();
  EXPECT_EQ(PendingOperations(), others) << "every other registration exactly as it was";
}
#endif

} // namespace
} // namespace vorse
