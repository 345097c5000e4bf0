// The scanner's building blocks: its command line, JSON text, progress line and digests.
#include "app/manifest.h"
#include "cli/cli_options.h"
#include "cli/cli_os.h"
#include "cli/event_log.h"
#include "cli/file_digest.h"
#include "cli/json_writer.h"
#include "cli/path_quoting.h"
#include "cli/pending_deletes.h"
#include "cli/progress.h"
#include "cli/quarantine_store.h"
#include "cli_test_tree.h"
#include "scan/signatures.h"
#include "sysutil/os_detect.h"
#include "sysutil/utc_time.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <utility>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace vorse {
namespace {

TEST(SignatureTest, WholeEntryEqualityWithCaseIgnored) {
  struct Case {
    std::u16string entry;
    bool infected;
  };
  const Case cases[] = {
      {u"InternalName: Kern32", true},
      {u"InternalName: KERN32", true},
      {u"InternalName: WoWeX32", true},
      {u"INTERNALNAME: wowex32", true},
      // The system's lower-casing folds the Kelvin sign into "k".
      {u"InternalName: \u212Aern32", true},
      {u"InternalName: Kern32 ", false},
      {u"InternalName: Kern321", false},
      {u"InternalName: Kern3", false},
      {u"InternalName:Kern32", false},
      {u"InternalName", false},
      {u"", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.entry));
    EXPECT_EQ(IsVorseSignature(c.entry), c.infected);
  }
}

TEST(CliOptionsTest, AcceptsEachModeAndRejectsWhatCannotWork) {
  struct Case {
    std::vector<std::string> args;
    bool valid;
  };
  const Case cases[] = {
      {{"dir"}, true},
      {{"--json", "-q", "a", "b"}, true},
      {{"--quarantine", "q", "--remove", "d"}, true},
      {{"--quarantine=q", "d"}, true},
      {{"--", "--json"}, true},
      {{"--remove", "d"}, false},
      {{"--quarantine"}, false},
      {{"--quarantine="}, false},
      {{"--quarantine", "a", "--quarantine", "b"}, false},
      {{"--jsn", "d"}, false},
      {{"--json-lines", "--quarantine", "q", "d"}, true},
      {{"--json", "--json-lines", "d"}, false},
      {{"--restore", "q", "C:\\a.exe"}, true},
      {{"--restore=q", "-q", "--json-lines"}, true},
      {{"--restore"}, false},
      {{"--restore", "q", "--quarantine", "q"}, false},
      {{"--restore", "q", "--json"}, false},
      {{"-V"}, true},
      // An empty root would scan from the top of the file system (an unset variable).
      {{""}, false},
      {{"d", ""}, false},
      {{"--", ""}, false},
      {{"--quarantine", "", "d"}, false},
      // A value that looks like an option is one, unless written unmistakably.
      {{"--quarantine", "--remove", "d"}, false},
      {{"--quarantine", "-q", "d"}, false},
      {{"--quarantine=--remove", "d"}, true},
      {{"--quarantine", "./--remove", "d"}, true},
      {{"-0", "d"}, true},
      {{"--print0", "--json", "d"}, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    CliOptions options;
    EXPECT_EQ(ParseCliOptions(c.args, options).has_value(), !c.valid);
  }
}

TEST(CliOptionsTest, SlashQuestionMarkAsksForHelpOnlyOnWindows) {
  CliOptions options;
  const std::vector<std::string> args{"/?"};
  ASSERT_FALSE(ParseCliOptions(args, options));
#ifdef _WIN32
  EXPECT_TRUE(options.help);
#else
  EXPECT_EQ(options.roots, args) << "a path like any other";
#endif
}

TEST(CliOptionsTest, KeepsRootsInOrderAndTakesDashDashLiterally) {
  CliOptions options;
  const std::vector<std::string> args{"b", "--quarantine", "q", "a", "--", "--json"};
  ASSERT_FALSE(ParseCliOptions(args, options));
  EXPECT_EQ(options.roots, (std::vector<std::string>{"b", "a", "--json"}));
  EXPECT_EQ(options.quarantine, "q");
  EXPECT_FALSE(options.json);
}

std::string Json(const std::function<void(JsonWriter &)> &Write) {
  JsonWriter json;
  Write(json);
  return json.Finish();
}

TEST(JsonWriterTest, EscapesTextAndKeepsUndecodableNamesAsBytes) {
  struct Case {
    std::string bytes;
    std::string expected;
  };
  const Case cases[] = {
      {"C:\\dir\\a\"b.exe", R"({
  "path": "C:\\dir\\a\"b.exe"
}
)"},
      {"tab\there\x01", R"({
  "path": "tab\there\u0001"
}
)"},
      {"caf\xC3\xA9", "{\n  \"path\": \"caf\xC3\xA9\"\n}\n"},
      // A Latin-1 byte, an overlong slash and a lone surrogate are no UTF-8: replaced in the
      // text, kept exactly in the bytes.
      {"caf\xE9", "{\n  \"path\": \"caf\xEF\xBF\xBD\",\n  \"path_bytes\": \"636166e9\"\n}\n"},
      {"\xC0\xAF", "{\n  \"path\": \"\xEF\xBF\xBD\xEF\xBF\xBD\",\n  \"path_bytes\": \"c0af\"\n}\n"},
      {"\xED\xA0\x80", "{\n  \"path\": \"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\",\n  "
                       "\"path_bytes\": \"eda080\"\n}\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(Json([&](JsonWriter &json) {
                json.BeginObject();
                json.PathMember("path", c.bytes);
                json.EndObject();
              }),
              c.expected);
  }
}

TEST(JsonWriterTest, WritesSixteenBitTextAsUtf8) {
  EXPECT_EQ(Json([](JsonWriter &json) { json.String(u"K\u00e9rn\U0001F600\xD800x"); }),
            "\"K\xC3\xA9rn\xF0\x9F\x98\x80\\ud800x\"\n");
}

TEST(JsonWriterTest, NestsWithCommasOnlyBetweenMembers) {
  EXPECT_EQ(Json([](JsonWriter &json) {
              json.BeginObject();
              json.Key("a");
              json.BeginArray();
              json.Number(1);
              json.Number(2);
              json.EndArray();
              json.Key("b");
              json.BeginArray();
              json.EndArray();
              json.EndObject();
            }),
            "{\n  \"a\": [\n    1,\n    2\n  ],\n  \"b\": []\n}\n");
}

class ProgressTest : public ::testing::Test {
protected:
  std::chrono::steady_clock::time_point now_{};
  std::ostringstream out_;
  Progress::Clock clock_ = [this] { return now_; };
};

TEST_F(ProgressTest, RedrawsAFewTimesASecondAndClearsItsLine) {
  Progress progress(out_, true, clock_);
  progress.SetDirectory("/sys/dir");
  progress.Update({1, 5, 0, 0});
  EXPECT_EQ(out_.str(), "\r1 dirs, 5 files, 0 infected  /sys/dir");
  now_ += std::chrono::milliseconds(100);
  progress.Update({1, 6, 0, 0});
  EXPECT_EQ(out_.str(), "\r1 dirs, 5 files, 0 infected  /sys/dir") << "too soon to redraw";
  now_ += std::chrono::milliseconds(200);
  progress.SetDirectory("/s");
  progress.Update({2, 7, 1, 0});
  const std::string first = "\r1 dirs, 5 files, 0 infected  /sys/dir";
  // The shorter line is padded over what the longer one left.
  EXPECT_EQ(out_.str(), first + "\r2 dirs, 7 files, 1 infected  /s      ");
  out_.str("");
  progress.Clear();
  EXPECT_EQ(out_.str(), "\r" + std::string(31, ' ') + "\r") << "the text shown, not the padding";
  out_.str("");
  progress.Clear();
  EXPECT_EQ(out_.str(), "") << "nothing left to clear";
}

TEST_F(ProgressTest, CutsALongDirectoryFromTheFrontWithinOneLine) {
  Progress progress(out_, true, clock_);
  progress.SetDirectory("/" + std::string(200, 'd') + "/\xC3\xA9nd");
  progress.Update({});
  const std::string line = out_.str();
  EXPECT_EQ(line.size(), 1u + 79u) << line;
  EXPECT_NE(line.find("...d"), std::string::npos);
  EXPECT_TRUE(line.ends_with("/\xC3\xA9nd"));
}

TEST_F(ProgressTest, DisabledWritesNothing) {
  Progress progress(out_, false, clock_);
  progress.Update({1, 1, 1, 1});
  progress.Clear();
  EXPECT_EQ(out_.str(), "");
}

#ifndef _WIN32
TEST(HeldFolderTest, ANewFileIsTakenAwayThroughItsHandleNotByItsName) {
  test::TestTree tree;
  std::filesystem::create_directories(tree.Path("dir"));
  std::unique_ptr<HeldFolder> folder;
  std::string name;
  ASSERT_FALSE(PlatformCliOs().OpenFolderOf(tree.Path("dir/made"), folder, name));
  EXPECT_EQ(name, "made");
  std::unique_ptr<NewFile> made;
  bool existed = true;
  ASSERT_FALSE(folder->CreateEntry(name, made, existed));
  EXPECT_FALSE(existed);
  const StdioFile bytes(std::tmpfile());
  ASSERT_TRUE(bytes);
  std::fputs("put back", bytes.get());
  std::rewind(bytes.get());
  ASSERT_FALSE(made->Fill(bytes.get()));
  // Its name now leads to another file, which must stay.
  std::filesystem::rename(tree.Path("dir/made"), tree.Path("dir/moved"));
  tree.Write("dir/made", "another");
  EXPECT_FALSE(made->Discard());
  EXPECT_EQ(tree.Read("dir/made"), "another");
  EXPECT_EQ(tree.Read("dir/moved"), "") << "its bytes are cut off all the same";
  EXPECT_TRUE(folder->CreateEntry("made", made, existed)) << "never over another file";
  EXPECT_TRUE(existed);
  ASSERT_FALSE(folder->CreateEntry("new", made, existed));
  EXPECT_FALSE(made->Discard());
  EXPECT_FALSE(tree.Exists("dir/new"));
}
#endif

TEST(FileDigestTest, HashesAndComparesWholeFiles) {
  const std::string kAbcSha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  test::TestTree tree;
  tree.Write("abc", "abc");
  tree.Write("abc2", "abc");
  tree.Write("abd", "abd");
  tree.Write("ab", "ab");
  tree.Write("big", std::string(200000, 'x'));
  FileDigest digest;
  ASSERT_FALSE(DigestFile(tree.Path("abc"), digest));
  EXPECT_EQ(digest.size, 3u);
  EXPECT_EQ(digest.sha256, kAbcSha256);
  ASSERT_FALSE(DigestFile(tree.Path("big"), digest));
  EXPECT_EQ(digest.size, 200000u);
  EXPECT_TRUE(DigestFile(tree.Path("missing"), digest));

  struct Case {
    const char *other;
    Comparison result;
  };
  for (const Case c : {Case{"abc2", Comparison::Same}, Case{"abd", Comparison::Different},
                       Case{"ab", Comparison::Different}, Case{"abc", Comparison::SameFile}}) {
    SCOPED_TRACE(c.other);
    Comparison result = Comparison::Different;
    FileDigest compared;
    ASSERT_FALSE(
        CompareFiles(PlatformCliOs(), tree.Path("abc"), tree.Path(c.other), result, compared));
    EXPECT_EQ(result, c.result);
    if (c.result == Comparison::Same) {
      EXPECT_EQ(compared.sha256, kAbcSha256);
    }
  }
  Comparison result = Comparison::Same;
  EXPECT_TRUE(
      CompareFiles(PlatformCliOs(), tree.Path("abc"), tree.Path("missing"), result, digest));
}

#ifndef _WIN32
TEST(FileDigestTest, APipeSwappedInForAFileIsRefusedWithoutWaiting) {
  test::TestTree tree;
  tree.Write("abc", "abc");
  ASSERT_EQ(mkfifo(tree.Path("pipe").c_str(), 0600), 0);
  FileDigest digest;
  EXPECT_EQ(DigestFile(tree.Path("pipe"), digest), std::errc::operation_not_supported);
  Comparison result = Comparison::Same;
  EXPECT_EQ(CompareFiles(PlatformCliOs(), tree.Path("abc"), tree.Path("pipe"), result, digest),
            std::errc::operation_not_supported);
  EXPECT_EQ(PlatformCliOs().CopyToNewFile(tree.Path("pipe"), tree.Path("copy")),
            std::errc::operation_not_supported);
  EXPECT_FALSE(tree.Exists("copy"));
}
#endif

TEST(QuotePathTest, QuotesOnlyWhatATerminalOrALineWouldMisread) {
  struct Case {
    std::string path;
    std::string shown;
  };
  const Case cases[] = {
      {"C:\\Windows\\System32\\a b.exe", "C:\\Windows\\System32\\a b.exe"},
      {"/x/it's caf\xC3\xA9\xE9.exe", "/x/it's caf\xC3\xA9\xE9.exe"},
      {"/x/a\nb.exe", "$'/x/a\\nb.exe'"},
      {"/x/\x1b[2J\\'\t\r\x7f.exe", "$'/x/\\x1b[2J\\\\\\'\\t\\r\\x7f.exe'"},
      // Written plainly, a name that starts like a quoted one could not be told from it.
      {"$'x'", "$'$\\'x\\''"},
      // U+009B in UTF-8 is the one-character CSI to some terminals; U+00A0 is text.
      {"/x/a\xC2\x9B"
       "2Jb\xC2\xA0.exe",
       "$'/x/a\\xc2\\x9b2Jb\xC2\xA0.exe'"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(QuotePath(c.path), c.shown);
  }
}

TEST(ManifestFieldTest, EncodesOnlyWhatWouldBreakALine) {
  EXPECT_EQ(ManifestField("C:\\a b\\100%\tx\r\ny.exe"), "C:\\a b\\100%25%09x%0D%0Ay.exe");
}

TEST(ManifestTest, ReadsBackWhatItWritesAndPassesOverLinesThatAreNoRecord) {
  const std::string sha(64, 'a');
  // Built in steps: GCC 12 warns falsely of the digest in one braced record.
  ManifestRecord kept;
  kept.time = "2026-05-01T09:30:00Z";
  kept.originalPath = "/srv/100%\tx\ny.exe";
  kept.quarantineName = "y (2).exe";
  kept.digest = {7, sha};
  kept.registeredPath = "C:\\L%\tx";
  ManifestRecord restored = kept;
  restored.restored = true;
  restored.registeredPath.clear();
  const std::string text = std::string(kManifestHeader) + ManifestLine(kept) + "t\t/a\tb\tseven\t" +
                           sha + "\t\tquarantined\n" +                          // size no number
                           "t\t/a%zz\tb\t7\t" + sha + "\t\trestored\n" +        // unknown escape
                           "t\t/a\tb\t7\t" + sha + "\t%zz\trestored\n" +        // ... registered
                           "t\t/a\tb\t7\t" + sha + "\t\tgone\n" +               // unknown action
                           "t\t/a\tb\t7\t" + sha.substr(1) + "\t\trestored\n" + // short digest
                           ManifestLine(restored) + "t\t/torn";                 // cut short
  const std::optional<Manifest> manifest = ParseManifest(text);
  ASSERT_TRUE(manifest);
  ASSERT_EQ(manifest->records.size(), 2u);
  for (const ManifestRecord &record : manifest->records) {
    EXPECT_EQ(record.originalPath, kept.originalPath);
    EXPECT_EQ(record.quarantineName, kept.quarantineName);
    EXPECT_EQ(record.digest.size, 7u);
    EXPECT_EQ(record.digest.sha256, sha);
  }
  EXPECT_FALSE(manifest->records[0].restored);
  EXPECT_EQ(manifest->records[0].registeredPath, kept.registeredPath);
  EXPECT_TRUE(manifest->records[1].restored);
  EXPECT_EQ(manifest->records[1].registeredPath, "");
  EXPECT_EQ(manifest->badLines, (std::vector<std::size_t>{3, 4, 5, 6, 7, 9}));
  EXPECT_FALSE(ParseManifest("t\t/a\tb\t7\t" + sha + "\n")) << "no header";
}

TEST(ManifestTest, StillReadsFiveFieldManifestsAndWhatIsAppendedToThem) {
  const std::string sha(64, 'b');
  const std::string line = "t\t/a\tb\t7\t" + sha;
  const std::optional<Manifest> manifest =
      ParseManifest(std::string(kFiveFieldManifestHeader) + line + "\n" + line + "\trestored\n" +
                    line + "\tquarantined\n" + line + "\tC:\\A~1.EXE\trestored\n");
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->badLines, (std::vector<std::size_t>{4})) << "six fields name no action";
  ASSERT_EQ(manifest->records.size(), 3u);
  EXPECT_FALSE(manifest->records[0].restored);
  EXPECT_TRUE(manifest->records[1].restored);
  EXPECT_TRUE(manifest->records[2].restored);
  EXPECT_EQ(manifest->records[2].registeredPath, "C:\\A~1.EXE");
}

TEST(UtcTimestampTest, WritesTheCivilTimeInUtcWithMilliseconds) {
  using std::chrono::milliseconds;
  const std::pair<std::int64_t, const char *> cases[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {951'782'400'000, "2000-02-29T00:00:00.000Z"},
      {1'777'627'800'250, "2026-05-01T09:30:00.250Z"},
      {4'107'542'399'999, "2100-02-28T23:59:59.999Z"},
  };
  for (const auto &[millis, text] : cases)
    EXPECT_EQ(UtcTimestamp(std::chrono::system_clock::time_point(milliseconds(millis))), text);
}

TEST(PendingDeletesTest, TakesOutOnlyThatFilesDeletions) {
  const std::u16string kern = u"\\??\\C:\\Windows\\kern.exe";
  const std::u16string sources[] = {kern, u"\\??\\C:\\WINDOWS\\KERN~1.EXE"};
  using namespace std::string_literals;
  struct Case {
    const char *name;
    std::u16string value;
    std::u16string left;
    std::size_t removed;
  };
  const Case cases[] = {
      {"among others, case ignored",
       u"\\??\\C:\\a\0\0\\??\\c:\\windows\\KERN.exe\0\0\\??\\C:\\b\0!\\??\\C:\\c\0\0"s,
       u"\\??\\C:\\a\0\0\\??\\C:\\b\0!\\??\\C:\\c\0\0"s, 1},
      {"the short form, first and last", kern + u"\0\0\\??\\C:\\WINDOWS\\KERN~1.EXE\0\0\0"s, u"\0"s,
       2},
      {"a rename of it is no deletion", kern + u"\0\\??\\C:\\x\0\0"s, kern + u"\0\\??\\C:\\x\0\0"s,
       0},
      {"a target named like it", u"\\??\\C:\\x\0"s + kern + u"\0\0"s,
       u"\\??\\C:\\x\0"s + kern + u"\0\0"s, 0},
      {"a longer name", kern + u"2\0\0\0"s, kern + u"2\0\0\0"s, 0},
      {"no closing NUL", kern + u"\0"s, u""s, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::u16string value = c.value;
    EXPECT_EQ(RemovePendingDeletes(value, sources), c.removed);
    EXPECT_TRUE(value == c.left);
  }
  EXPECT_TRUE(HoldsNoPendingOperation(u"\0"s));
  EXPECT_FALSE(HoldsNoPendingOperation(kern + u"\0\0\0"s));
}

/// The registrations of one family, in memory; \p afterWrite stands for another program that
/// acts right after each write of ours.
struct FakeRestartRegistrations final : RestartRegistrations {
  std::int32_t family = kPlatformNT;
  std::string pending;
  std::string wininit;
  std::function<void(std::string &)> afterWrite = [](std::string &) {};
  int writes = 0;

  std::int32_t Family() override { return family; }
  std::u16string Widen(const std::string &Path) override {
    return std::u16string(Path.begin(), Path.end());
  }
  std::error_code ReadPendingOperations(std::string &Bytes, bool &Present) override {
    Present = !pending.empty();
    Bytes = pending;
    return {};
  }
  std::error_code WritePendingOperations(std::string_view Bytes) override {
    ++writes;
    pending = Bytes;
    afterWrite(pending);
    return {};
  }
  std::error_code ReadWininit(std::string &Text, bool &Present) override {
    Present = !wininit.empty();
    Text = wininit;
    return {};
  }
  std::error_code ReplaceWininit(const std::string &Text) override {
    ++writes;
    wininit = Text;
    return {};
  }
};

/// \p Units as the registry stores them.
std::string Bytes(std::u16string_view Units) {
  std::string bytes(Units.size() * 2, '\0');
  std::memcpy(bytes.data(), Units.data(), bytes.size());
  return bytes;
}

TEST(PendingDeletesTest, WithdrawsByEveryNameAndChecksTheEditHoldsAgainstOtherWriters) {
  using namespace std::string_literals;
  const std::string names[] = {"C:\\Windows\\SysWOW64\\kern.exe",
                               "C:\\Windows\\System32\\kern.exe"};
  const std::string ours = Bytes(u"\\??\\C:\\Windows\\SysWOW64\\kern.exe\0\0"s);
  const std::string other = Bytes(u"\\??\\C:\\a\0\0\\??\\C:\\b\0\\??\\C:\\c\0"s);
  const std::string theirs = Bytes(u"\\??\\C:\\t\0\0"s);
  struct Case {
    const char *name;
    std::string before;
    std::function<void(std::string &)> afterWrite;
    std::string after;
    int writes;
    bool withdrawn;
  };
  const Case cases[] = {
      {"by the registered name, others kept", other + ours + "\0\0"s, nullptr, other + "\0\0"s, 1,
       true},
      {"nothing of it: nothing written", other, nullptr, other, 0, false},
      {"the odd byte of a malformed value stays", ours + other + "x", nullptr, other + "x", 1,
       true},
      {"the last entry taken: the value goes", ours, nullptr, "", 1, true},
      {"another program puts its older copy back with its own entry", other + ours,
       [&, done = false](std::string &Value) mutable {
         if (!std::exchange(done, true))
           Value = other + ours + theirs;
       },
       other + theirs, 2, true},
      {"another program keeps putting it back", other + ours,
       [&](std::string &Value) { Value = other + ours; }, other + ours, 2, false},
      {"another program takes out an entry that was there", other + ours,
       [&](std::string &Value) { Value = theirs; }, theirs, 1, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    FakeRestartRegistrations registrations;
    registrations.pending = c.before;
    if (c.afterWrite)
      registrations.afterWrite = c.afterWrite;
    bool withdrawn = !c.withdrawn;
    const std::error_code error = WithdrawDeleteAtRestart(registrations, names, withdrawn);
    EXPECT_EQ(!error, c.withdrawn || c.writes == 0) << error.message();
    EXPECT_EQ(withdrawn, c.withdrawn);
    EXPECT_EQ(registrations.writes, c.writes);
    EXPECT_TRUE(registrations.pending == c.after);
  }
}

TEST(PendingDeletesTest, OnThe9xFamilyTakesOutTheRegisteredShortFormsLineOnly) {
  FakeRestartRegistrations registrations;
  registrations.family = kPlatform9x;
  registrations.pending = Bytes(u"\\??\\C:\\KERN~1.EXE");
  const std::string kept = "[Settings]\r\nNUL=C:\\KERN~1.EXE\r\n[rename]\r\nNUL=C:\\A~1.EXE\r\n";
  registrations.wininit = kept + "nul=c:\\kern~1.exe\r\nNUL=C:\\WINDOWS\\KERN~1.EXE\r\n";
  const std::string names[] = {"C:\\KERN~1.EXE", "C:\\Kernel Long.exe"};
  bool withdrawn = false;
  EXPECT_FALSE(WithdrawDeleteAtRestart(registrations, names, withdrawn));
  EXPECT_TRUE(withdrawn);
  EXPECT_EQ(registrations.wininit, kept + "NUL=C:\\WINDOWS\\KERN~1.EXE\r\n");
  EXPECT_EQ(registrations.pending, Bytes(u"\\??\\C:\\KERN~1.EXE")) << "no registry on 9x";
}

} // namespace
} // namespace vorse
