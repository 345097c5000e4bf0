// The Find and Fix run on fake controls and platforms: its texts, its detection, the quarantine
// and scheduling of each family, and the restart.
#include "app/manifest.h"
#include "app/quarantine.h"
#include "app/runtime_error.h"
#include "app/vorsefix_form.h"
#include "fakes/fake_app_os.h"
#include "fakes/fake_controls.h"
#include "fakes/fake_scan_os.h"
#include "fakes/fake_sysutil_os.h"
#include "fakes/pe_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vorse {
namespace {

const std::string kSys = "C:\\WINDOWS\\SYSTEM32";
const std::string kQuarantine = "C:\\!VorseFix";
const std::string kIni = "C:\\WINDOWS\\wininit.ini";
constexpr std::uint32_t kNT = 2;
constexpr std::uint32_t k9x = 1;

class FindAndFixTest : public ::testing::Test {
protected:
  void SetUp() override {
    scan_.AddDir(kSys);
    form_.Form_Load();
  }

  /// A file below the system directory, with the InternalName \p Name (none: no version
  /// resource), a short form and contents of its own.
  void AddExe(const std::string &Path, const std::u16string *Name = nullptr) {
    scan_.AddFile(Path);
    app_.Files[Trimmed(Path)] = "bytes of " + Trimmed(Path);
    app_.ShortNames[Path] = "SHORT " + Path;
    app_.ShortNames[Trimmed(Path)] = "SHORT " + Trimmed(Path);
    if (Name == nullptr)
      return;
    std::vector<std::byte> block = pe_image::VersionBlock({{u"InternalName", *Name}});
    const auto size = static_cast<std::uint32_t>(block.size());
    scan_.SetVersionBlock(Trimmed(Path), std::move(block), size);
  }
  void AddInfected(const std::string &Path) {
    const std::u16string name = u"Kern32";
    AddExe(Path, &name);
  }

  static std::string Trimmed(const std::string &Path) {
    const std::size_t first = Path.find_first_not_of(' ');
    return Path.substr(first, Path.find_last_not_of(' ') - first + 1);
  }

  /// The calls of the app seam that start with \p Prefix.
  std::vector<std::string> AppCalls(const std::string &Prefix) const {
    std::vector<std::string> calls;
    std::copy_if(app_.Calls.begin(), app_.Calls.end(), std::back_inserter(calls),
                 [&](const std::string &Call) { return Call.rfind(Prefix, 0) == 0; });
    return calls;
  }
  std::vector<std::string> FoundCaptions() const {
    std::vector<std::string> captions;
    for (const std::string &line : controls_.Log())
      if (line.rfind("LblFound.Caption=", 0) == 0)
        captions.push_back(line.substr(17));
    return captions;
  }

  /// A window and app seam of their own on the family \p Id, over the fixture's file tree.
  struct FamilyRun {
    FamilyRun(FindAndFixTest &Test, std::uint32_t Id)
        : form(controls, {app, Test.scan_, Test.sys_}) {
      Test.sys_.PlatformId = Id;
      form.Form_Load();
    }
    FakeAppOs app;
    FakeControls controls;
    VorseFixForm form;
  };

  FakeControls controls_;
  FakeAppOs app_;
  FakeScanOs scan_;
  FakeSysutilOs sys_;
  VorseFixForm form_{controls_, {app_, scan_, sys_}};
};

TEST_F(FindAndFixTest, NothingFoundEndsWithItsNotice) {
  AddExe(kSys + "\\clean.exe");
  AddExe(kSys + "\\noversion.exe");
  const std::u16string other = u"notepad";
  AddExe(kSys + "\\notepad.exe", &other);
  controls_.ClearLog();

  form_.CmdFFix_Click();

  const ControlLog expected = {"LblFound.Caption=",
                               "LblFound.Refresh",
                               "LblFound.Visible=0",
                               "List1.Clear",
                               "List1.AddItem=" + kSys + "\\clean.exe",
                               "KeepAlive",
                               "List1.AddItem=" + kSys + "\\noversion.exe",
                               "KeepAlive",
                               "List1.AddItem=" + kSys + "\\notepad.exe",
                               "KeepAlive",
                               "KeepAlive",
                               "List1.ListIndex=0",
                               "KeepAlive",
                               "List1.ListIndex=1",
                               "KeepAlive",
                               "List1.ListIndex=2",
                               "LblFound.Visible=1",
                               "LblFound.Caption=No Vorse Files were Detected",
                               "LblFound.Refresh"};
  EXPECT_EQ(controls_.Log(), expected);
  EXPECT_TRUE(app_.Calls.empty());
  EXPECT_TRUE(sys_.Calls.empty());
}

TEST_F(FindAndFixTest, AnEmptySearchStillEndsWithTheNotice) {
  form_.CmdFFix_Click();
  EXPECT_EQ(controls_.Found().Caption(), "No Vorse Files were Detected");
  EXPECT_TRUE(controls_.Found().Visible());
  EXPECT_TRUE(controls_.Boxes().empty());
}

TEST_F(FindAndFixTest, OnlyWholeSignaturesMatchCaseIgnored) {
  struct Case {
    const char *File;
    std::u16string Name;
    bool Infected;
  };
  const Case cases[] = {
      {"a.exe", u"Kern32", true},
      {"b.exe", u"KERN32", true},
      {"c.exe", u"WoWeX32", true},
      {"d.exe", u"wowex32", true},
      {"e.exe", u"Kern32 ", false},
      {"f.exe", u"Kern321", false},
      {"g.exe", u" Kern32", false},
      {"h.exe", u"Kern3", false},
      {"i.exe", u"wowex", false},
      {"j.exe", u"", false},
      // Units whose low byte spells a signature letter are not that letter.
      {"k.exe", u"\u014Bern32", false},
      {"l.exe",
       u"wowe\u0158"
       u"32",
       false},
  };
  std::vector<std::string> expected;
  for (const Case &c : cases) {
    AddExe(kSys + "\\" + c.File, &c.Name);
    if (c.Infected)
      expected.push_back("CopyFileA " + kSys + "\\" + c.File + " " + kQuarantine + "\\" + c.File +
                         " 1");
  }
  controls_.Answers = {kIdCancel};

  form_.CmdFFix_Click();

  EXPECT_EQ(AppCalls("CopyFileA"), expected);
  EXPECT_EQ(FoundCaptions().back(), "You Must reboot to fix these files");
}

TEST_F(FindAndFixTest, TheCountShowsEachFindWithTwoBlanksThenThePromptFollows) {
  AddInfected(kSys + "\\one.exe");
  AddExe(kSys + "\\clean.exe");
  AddInfected(kSys + "\\two.exe");
  AddInfected(kSys + "\\three.exe");
  controls_.Answers = {kIdCancel};

  form_.CmdFFix_Click();

  const std::vector<std::string> expected = {"", "Files Found so far =  1",
                                             "Files Found so far =  2", "Files Found so far =  3",
                                             "You Must reboot to fix these files"};
  EXPECT_EQ(FoundCaptions(), expected);
  ASSERT_EQ(controls_.Boxes().size(), 1u);
  EXPECT_EQ(controls_.Boxes()[0].Text,
            "You need to Reboot to finish Repairing the Vorse Infection");
  EXPECT_EQ(controls_.Boxes()[0].Title, "Reboot Notice");
  EXPECT_EQ(controls_.Boxes()[0].Style, 49u);
  EXPECT_TRUE(controls_.Found().Visible());
  // Shown before the quarantine of its file, and in that order: visible, caption, redraw.
  const ControlLog &log = controls_.Log();
  const auto first = std::find(log.begin(), log.end(), "LblFound.Caption=Files Found so far =  1");
  ASSERT_NE(first, log.end());
  EXPECT_EQ(*(first - 1), "LblFound.Visible=1");
  EXPECT_EQ(*(first + 1), "LblFound.Refresh");
}

TEST_F(FindAndFixTest, OkRestartsTheFamilyOsDetectReports) {
  struct Case {
    const char *Name;
    std::uint32_t PlatformId;
    bool QuerySucceeds;
    std::vector<std::string> RestartCalls;
    std::vector<std::string> ShellCalls;
    std::string Caption = "Rebooting Windows...";
  };
  const std::string query = "GetVersionExA 148";
  const Case cases[] = {
      {"NT",
       kNT,
       true,
       {query, query, "GetCurrentProcess", "OpenProcessToken 119 40",
        "LookupPrivilegeValueA '' SeShutdownPrivilege",
        "AdjustTokenPrivileges 153 0 count=1 luid=19:0 attributes=2 length=16 previous=0",
        "ExitWindowsEx 6 0", query},
       {}},
      {"9x",
       k9x,
       true,
       {query, query},
       {"ShellExecuteA 4660 open C:\\WINDOWS\\rundll32.exe | shell32.dll,SHExitWindowsEx 2 | "
        "C:\\WINDOWS 3"}},
      // Nothing was scheduled, so no restart is asked for.
      {"unknown id", 3, true, {}, {}, "Vorse Files found were left in place"},
      {"failed query", kNT, false, {}, {}, "Vorse Files found were left in place"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    FakeControls controls;
    FakeSysutilOs sys;
    sys.PlatformId = c.PlatformId;
    sys.VersionQuerySucceeds = c.QuerySucceeds;
    VorseFixForm form(controls, {app_, scan_, sys});
    form.Form_Load();
    AddInfected(kSys + "\\evil.exe");
    controls.Answers = {kIdOk};
    app_.Calls.clear();

    form.CmdFFix_Click();

    // The quarantine asked three times before (whether to hold the folder, then for each
    // family); the restart's own calls follow.
    ASSERT_GE(sys.Calls.size(), 3u);
    const std::vector<std::string> restart(sys.Calls.begin() + 3, sys.Calls.end());
    EXPECT_EQ(restart, c.RestartCalls);
    EXPECT_EQ(AppCalls("ShellExecuteA"), c.ShellCalls);
    EXPECT_EQ(controls.Found().Caption(), c.Caption);
    EXPECT_TRUE(sys.RecordsArrivedClean);
  }
}

TEST_F(FindAndFixTest, CancelLeavesTheWindowReadyForAnotherRun) {
  AddInfected(kSys + "\\evil.exe");
  AddExe(kSys + "\\clean.exe");
  sys_.PlatformId = kNT;
  controls_.Answers = {kIdCancel, kIdCancel};

  form_.CmdFFix_Click();
  EXPECT_EQ(controls_.Found().Caption(), "You Must reboot to fix these files");
  EXPECT_TRUE(AppCalls("ShellExecuteA").empty());
  EXPECT_EQ(std::count(sys_.Calls.begin(), sys_.Calls.end(), "ExitWindowsEx 6 0"), 0);

  form_.CmdFFix_Click();
  // The list is rebuilt, not added to, and the last row stays selected.
  EXPECT_EQ(controls_.List().Rows().size(), 2u);
  EXPECT_EQ(controls_.List().Selected(), 1);
  // The copy of the first run is reused; the file is scheduled again.
  EXPECT_EQ(AppCalls("CopyFileA").size(), 1u);
  EXPECT_EQ(app_.Scheduled, (std::vector<std::string>{"SHORT " + kSys + "\\evil.exe",
                                                      "SHORT " + kSys + "\\evil.exe"}));
  EXPECT_EQ(controls_.Boxes().size(), 2u);
  EXPECT_EQ(FoundCaptions().back(), "You Must reboot to fix these files");
}

TEST_F(FindAndFixTest, UsesTheTrimmedRowForReadingAndCopyingOnly) {
  // A system directory reported with a leading space makes every row start with one.
  app_.SysDir = " " + kSys;
  scan_.AddDir(" " + kSys);
  form_.Form_Load();
  const std::string row = " " + kSys + "\\evil.exe";
  const std::string trimmed = kSys + "\\evil.exe";
  AddInfected(row);
  for (const std::uint32_t id : {kNT, k9x}) {
    SCOPED_TRACE(id);
    sys_.PlatformId = id;
    app_.Calls.clear();
    form_.CmdFFix_Click();
    // ParsePath on the untrimmed row gives the drive " C:".
    const std::vector<std::string> copies = {"CopyFileA " + trimmed + " " +
                                             " C:\\!VorseFix\\evil.exe 1"};
    EXPECT_EQ(AppCalls("Create"),
              std::vector<std::string>{id == kNT ? "CreatePrivateDirectory  C:\\!VorseFix"
                                                 : "CreateDirectoryExA  C:  C:\\!VorseFix"});
    EXPECT_EQ(AppCalls("CopyFileA"), id == kNT ? copies : std::vector<std::string>{});
  }
  EXPECT_EQ(app_.Scheduled, std::vector<std::string>{"SHORT " + row});
  EXPECT_EQ(app_.Files[kIni], "[rename]\r\nNUL=SHORT " + trimmed + "\r\n");
}

TEST_F(FindAndFixTest, The9xFamilyWritesOneLinePerFileInListOrder) {
  sys_.PlatformId = k9x;
  for (const char *name : {"c.exe", "a.exe", "b.exe"})
    AddInfected(kSys + "\\" + name);

  form_.CmdFFix_Click();
  EXPECT_EQ(app_.Files[kIni], "[rename]\r\nNUL=SHORT " + kSys + "\\c.exe\r\nNUL=SHORT " + kSys +
                                  "\\a.exe\r\nNUL=SHORT " + kSys + "\\b.exe\r\n");
  // Opened once per file: created by the first, added to by the others.
  EXPECT_EQ(AppCalls("WriteNewFile").size(), 1u);
  EXPECT_EQ(AppCalls("AppendLines").size(), 2u);
  EXPECT_TRUE(AppCalls("MoveFileExA").empty());

  // An existing file whose last section is another gets a [rename] section of its own at its
  // end, since start-up would never read lines under [other]; the later lines join it.
  app_.Files[kIni] = "[other]\r\nkey=value\r\n";
  form_.CmdFFix_Click();
  EXPECT_EQ(app_.Files[kIni], "[other]\r\nkey=value\r\n[rename]\r\nNUL=SHORT " + kSys +
                                  "\\c.exe\r\nNUL=SHORT " + kSys + "\\a.exe\r\nNUL=SHORT " + kSys +
                                  "\\b.exe\r\n");
}

TEST_F(FindAndFixTest, OtherPlatformIdsCopyButScheduleNothing) {
  sys_.PlatformId = 0;
  AddInfected(kSys + "\\evil.exe");
  form_.CmdFFix_Click();
  EXPECT_EQ(app_.Files[kQuarantine + "\\evil.exe"], "bytes of " + kSys + "\\evil.exe");
  EXPECT_TRUE(AppCalls("MoveFileExA").empty());
  EXPECT_FALSE(app_.Files.count(kIni));
}

TEST_F(FindAndFixTest, QuarantineNeverOverwritesAnEarlierCopy) {
  sys_.PlatformId = kNT;
  AddInfected(kSys + "\\evil.exe");
  AddInfected(kSys + "\\drivers\\evil.exe");
  AddInfected(kSys + "\\wbem\\evil.exe");
  // An unrelated file of that name from some earlier run, and a copy identical to the third.
  app_.Dirs.insert(kQuarantine);
  app_.Files[kQuarantine + "\\evil.exe"] = "kept";
  app_.Files[kQuarantine + "\\evil (3).exe"] = "bytes of " + kSys + "\\wbem\\evil.exe";

  form_.CmdFFix_Click();

  EXPECT_EQ(app_.Files[kQuarantine + "\\evil.exe"], "kept");
  EXPECT_EQ(app_.Files[kQuarantine + "\\evil (2).exe"], "bytes of " + kSys + "\\evil.exe");
  EXPECT_EQ(app_.Files[kQuarantine + "\\evil (4).exe"], "bytes of " + kSys + "\\drivers\\evil.exe");
  EXPECT_EQ(app_.Files[kQuarantine + "\\evil (3).exe"], "bytes of " + kSys + "\\wbem\\evil.exe");
  EXPECT_EQ(AppCalls("CopyFileA").size(), 2u);
  EXPECT_EQ(app_.Scheduled.size(), 3u);
  EXPECT_EQ(controls_.Boxes().size(), 1u);
}

TEST_F(FindAndFixTest, AFileThatCannotBeCopiedIsLeftInPlaceAndTheUserTold) {
  for (const std::uint32_t id : {kNT, k9x}) {
    SCOPED_TRACE(id);
    FamilyRun run(*this, id);
    auto &[app, controls, form] = run;
    AddInfected(kSys + "\\locked.exe");
    AddInfected(kSys + "\\evil.exe");
    app.Files = app_.Files;
    app.ShortNames = app_.ShortNames;
    app.UnreadableSources = {kSys + "\\locked.exe"};
    controls.Answers = {kIdOk, kIdCancel};

    form.CmdFFix_Click();

    ASSERT_EQ(controls.Boxes().size(), 2u);
    EXPECT_EQ(controls.Boxes()[0].Text,
              kSys + "\\locked.exe could not be copied to " + kQuarantine +
                  "\\locked.exe: Permission denied. It was left in place and will not be deleted.");
    EXPECT_EQ(controls.Boxes()[0].Style, 48u);
    // Still counted as found; the next file is handled as usual.
    EXPECT_EQ(controls.Boxes()[1].Title, "Reboot Notice");
    EXPECT_NE(std::find(controls.Log().begin(), controls.Log().end(),
                        "LblFound.Caption=Files Found so far =  2"),
              controls.Log().end());
    const std::string evil = "SHORT " + kSys + "\\evil.exe";
    if (id == kNT)
      EXPECT_EQ(app.Scheduled, std::vector<std::string>{evil});
    else
      EXPECT_EQ(app.Files[kIni], "[rename]\r\nNUL=" + evil + "\r\n");
  }
}

TEST_F(FindAndFixTest, SchedulingThatFailsIsReportedNamingTheFile) {
  AddInfected(kSys + "\\evil.exe");
  app_.ShortNames.clear();
  const std::string notScheduled =
      kSys + "\\evil.exe could not be scheduled for deletion at restart: ";
  const std::string copy = ". Its copy is " + kQuarantine + "\\evil.exe.";

  // Without a short form the NT family registers the long path, which it accepts.
  sys_.PlatformId = kNT;
  form_.CmdFFix_Click();
  EXPECT_EQ(app_.Scheduled, std::vector<std::string>{kSys + "\\evil.exe"});
  EXPECT_EQ(controls_.Boxes().size(), 1u);

  // A 9x line without a short form would name nothing: none is written, and the user is told.
  sys_.PlatformId = k9x;
  form_.CmdFFix_Click();
  EXPECT_FALSE(app_.Files.count(kIni));
  // With nothing scheduled there is no restart to ask for.
  ASSERT_EQ(controls_.Boxes().size(), 2u);
  EXPECT_EQ(controls_.Boxes()[1].Text,
            notScheduled + "Windows gives no short (8.3) name for it" + copy);

  sys_.PlatformId = kNT;
  app_.MoveFails = true;
  form_.CmdFFix_Click();
  ASSERT_EQ(controls_.Boxes().size(), 3u);
  EXPECT_EQ(controls_.Boxes()[2].Text, notScheduled + "Permission denied" + copy);
  EXPECT_EQ(controls_.Found().Caption(), "Vorse Files found were left in place");
}

TEST_F(FindAndFixTest, AWininitWithALaterSectionGetsTheLineInsideItsRenameSection) {
  sys_.PlatformId = k9x;
  // The 9x family has no MoveFileExA: the file is replaced with the calls it has.
  app_.MoveFails = true;
  AddInfected(kSys + "\\evil.exe");
  app_.Files[kIni] = "[rename]\r\nNUL=C:\\OLD.EXE\r\n[other]\r\nkey=value\r\n";
  form_.CmdFFix_Click();
  EXPECT_EQ(app_.Files[kIni], "[rename]\r\nNUL=C:\\OLD.EXE\r\nNUL=SHORT " + kSys +
                                  "\\evil.exe\r\n[other]\r\nkey=value\r\n");
  EXPECT_TRUE(AppCalls("AppendLines").empty());
  EXPECT_EQ(app_.Files.count(kIni + ".new") + app_.Files.count(kIni + ".new.old"), 0u);
  EXPECT_TRUE(AppCalls("HoldFolder").empty());

  // A rename that fails leaves one whole file at the name, the old one, and nothing beside;
  // where the old file cannot go back either, the error names where both are.
  const struct {
    std::set<std::string> Failing;
    std::string Beside;
  } renames[] = {{{kIni}, ""},
                 {{kIni + ".new"}, ""},
                 {{kIni + ".new", kIni + ".new.old"}, kIni + ".new.old, its new ones in " + kIni}};
  for (const auto &r : renames) {
    const std::string old = app_.Files[kIni];
    app_.FailedRenames = r.Failing;
    try {
      form_.CmdFFix_Click();
      ADD_FAILURE() << "no error";
    } catch (const RuntimeError &error) {
      EXPECT_NE(std::string(error.what()).find(r.Beside), std::string::npos) << error.what();
    }
    if (r.Beside.empty()) {
      EXPECT_EQ(app_.Files[kIni], old);
      EXPECT_EQ(app_.Files.count(kIni + ".new") + app_.Files.count(kIni + ".new.old"), 0u);
    }
  }
  app_.FailedRenames.clear();
  app_.Files.erase(kIni + ".new");
  app_.Files[kIni] = app_.Files[kIni + ".new.old"];
  app_.Files.erase(kIni + ".new.old");

  // A write that fails part-way leaves every pending line of the file as it was.
  const std::string before = app_.Files[kIni];
  app_.FailedWrites = {kIni};
  EXPECT_THROW(form_.CmdFFix_Click(), RuntimeError);
  EXPECT_EQ(app_.Files[kIni], before);

  // A wininit.ini that cannot be read is not rewritten blind: the run ends naming it.
  app_.FailedWrites.clear();
  app_.UnreadableSources = {kIni};
  EXPECT_THROW(form_.CmdFFix_Click(), RuntimeError);
  EXPECT_EQ(AppCalls("WriteBeside").size(), 5u);
  EXPECT_TRUE(AppCalls("WriteNewFile").empty());
}

TEST_F(FindAndFixTest, AnUnwritableWininitEndsTheRunNamingTheFile) {
  sys_.PlatformId = k9x;
  AddInfected(kSys + "\\evil.exe");
  AddInfected(kSys + "\\later.exe");
  app_.ReadOnlyFiles = {kIni};
  try {
    form_.CmdFFix_Click();
    FAIL() << "no error";
  } catch (const RuntimeError &error) {
    EXPECT_NE(std::string(error.what()).find(kIni), std::string::npos) << error.what();
  }
  // The file in hand is copied; nothing after it is touched.
  EXPECT_TRUE(app_.Files.count(kQuarantine + "\\evil.exe"));
  EXPECT_FALSE(app_.Files.count(kQuarantine + "\\later.exe"));
}

TEST_F(FindAndFixTest, AnIncompleteSearchIsToldNamingAFewOfWhatWasMissed) {
  sys_.PlatformId = kNT;
  scan_.AddDir(kSys + "\\Secret");
  scan_.FailSearch(kSys + "\\Secret\\*");
  scan_.FailSearch(kSys + "\\Secret\\*.exe");
  AddInfected(kSys + "\\held.exe");
  scan_.FailOpen(kSys + "\\held.exe");
  AddExe(kSys + "\\noversion.exe");
  const std::string notice = "Not everything could be examined, so Vorse Files may remain: ";

  form_.CmdFFix_Click();
  ASSERT_EQ(controls_.Boxes().size(), 1u);
  EXPECT_EQ(controls_.Boxes()[0].Text,
            notice + "1 folder could not be searched and 1 file could not be opened.\r\n\r\n" +
                kSys + "\\Secret\\\r\n" + kSys + "\\held.exe");
  EXPECT_EQ(controls_.Found().Caption(), "Search incomplete: no Vorse Files found");

  // With finds, the notice comes before the prompt; past three, the rest are counted.
  for (const char *name : {"a", "b", "c"}) {
    AddInfected(kSys + "\\" + name + ".exe");
    scan_.FailOpen(kSys + "\\" + name + ".exe");
  }
  AddInfected(kSys + "\\evil.exe");
  controls_.Answers = {kIdOk, kIdCancel};
  form_.CmdFFix_Click();
  ASSERT_EQ(controls_.Boxes().size(), 3u);
  EXPECT_EQ(controls_.Boxes()[1].Text,
            notice + "1 folder could not be searched and 4 files could not be opened.\r\n\r\n" +
                kSys + "\\Secret\\\r\n" + kSys + "\\held.exe\r\n" + kSys + "\\a.exe\r\nand 2 more");
  EXPECT_EQ(controls_.Boxes()[2].Title, "Reboot Notice");
}

TEST_F(FindAndFixTest, AListingCutOffOnTheWayLeavesItsFolderNotSearched) {
  sys_.PlatformId = kNT;
  AddExe(kSys + "\\Deep\\clean.exe");
  AddInfected(kSys + "\\Deep\\evil.exe");
  // ".", ".." and clean.exe are listed; the listing then fails instead of ending.
  scan_.FailListingAfter(kSys + "\\Deep\\", 3);

  form_.CmdFFix_Click();
  ASSERT_EQ(controls_.Boxes().size(), 1u);
  EXPECT_EQ(controls_.Boxes()[0].Text,
            "Not everything could be examined, so Vorse Files may remain: 1 folder could not be "
            "searched.\r\n\r\n" +
                kSys + "\\Deep\\");
  EXPECT_EQ(controls_.Found().Caption(), "Search incomplete: no Vorse Files found");
}

TEST_F(FindAndFixTest, ANameTheNarrowCallsCannotOpenIsNotedNotReadAsClean) {
  sys_.PlatformId = kNT;
  // Each would open the device, another file or none: no version resource would be read.
  for (const char *name : {"Kern32.exe.", "nul.exe", "Kern?32.exe", "evil.exe "})
    AddExe(kSys + "\\" + name);
  AddExe(kSys + "\\plain.exe");

  form_.CmdFFix_Click();
  ASSERT_EQ(controls_.Boxes().size(), 1u);
  EXPECT_EQ(controls_.Boxes()[0].Text,
            "Not everything could be examined, so Vorse Files may remain: 4 files could not be "
            "opened.\r\n\r\n" +
                kSys + "\\Kern32.exe.\r\n" + kSys + "\\nul.exe\r\n" + kSys +
                "\\Kern?32.exe\r\nand 1 more");
  EXPECT_EQ(controls_.Found().Caption(), "Search incomplete: no Vorse Files found");
  // The rows keep the listing's names; only plain.exe is read.
  EXPECT_EQ(controls_.List1().ListCount(), 3);
  EXPECT_EQ(std::count_if(scan_.Calls().begin(), scan_.Calls().end(),
                          [](const std::string &Call) {
                            return Call.rfind("GetFileVersionInfoSizeA", 0) == 0;
                          }),
            1);
}

TEST_F(FindAndFixTest, NoRestartIsAskedForWhenNothingWasScheduled) {
  for (const std::uint32_t id : {kNT, k9x}) {
    SCOPED_TRACE(id);
    sys_.PlatformId = id;
    AddInfected(kSys + "\\evil.exe");
    app_.UnreadableSources = {kSys + "\\evil.exe"};
    controls_.Answers = {kIdOk};
    form_.CmdFFix_Click();
    EXPECT_EQ(controls_.Boxes().back().Title, "Quintarel Vorse Fix");
    EXPECT_EQ(controls_.Found().Caption(), "Vorse Files found were left in place");
    EXPECT_TRUE(controls_.Found().Visible());
  }
  EXPECT_TRUE(app_.Scheduled.empty());
  EXPECT_FALSE(app_.Files.count(kIni));
}

TEST_F(FindAndFixTest, SchedulesTheRealLocationClearedOfItsReadOnlyBit) {
  // Under WOW64 the row's path reaches the 32-bit system directory, or the real one through
  // Sysnative; start-up reaches neither way, and this program reaches the real location's twin
  // by that location's name. The twin's 8.3 alias may name another file where start-up looks.
  const std::string wow64 = "C:\\WINDOWS\\SysWOW64\\Long Name.exe";
  const std::string native = "C:\\WINDOWS\\Sysnative\\Long Name.exe";
  const std::string system = kSys + "\\Long Name.exe";
  struct Case {
    std::uint32_t Family;
    std::string Row;
    std::string Real;
    std::string Cleared;
    std::string Registered;
  };
  const Case cases[] = {
      {kNT, system, wow64, system, wow64},
      {kNT, native, system, native, system},
      {k9x, system, wow64, wow64, "NUL=SHORT " + wow64},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Row + " " + std::to_string(c.Family));
    sys_.PlatformId = c.Family;
    FakeAppOs app;
    app.Files = {{c.Row, "infected"}, {c.Real, "infected"}};
    app.RealLocations[c.Row] = c.Real;
    app.ShortNames = {{c.Row, "SHORT " + c.Row}, {c.Real, "SHORT " + c.Real}};
    app.Attributes[c.Cleared] = 0x7; // read-only, hidden, system

    const QuarantineOutcome outcome =
        QuarantineFile(app, sys_, app.WinDir, {c.Row, "C:", "Long Name.exe"});

    EXPECT_TRUE(outcome.Scheduled);
    EXPECT_FALSE(outcome.Problem);
    EXPECT_EQ(app.Attributes[c.Cleared], 0x6u);
    const auto cleared =
        std::find(app.Calls.begin(), app.Calls.end(), "SetFileAttributesA " + c.Cleared + " 6");
    ASSERT_NE(cleared, app.Calls.end());
    if (c.Family == kNT) {
      EXPECT_EQ(app.Scheduled, std::vector<std::string>{c.Registered});
      EXPECT_LT(cleared, std::find(app.Calls.begin(), app.Calls.end(),
                                   "MoveFileExA " + c.Registered + " null 4"));
    } else {
      EXPECT_EQ(app.Files[kIni], "[rename]\r\n" + c.Registered + "\r\n");
    }
  }
}

TEST_F(FindAndFixTest, EachCopyIsRecordedBeforeItsDeletionIsRegistered) {
  const std::string manifest = kQuarantine + "\\manifest.tsv";
  const std::string a = kSys + "\\a\\evil.exe";
  const std::string b = kSys + "\\b\\evil.exe";
  // b is reached through a view of its own (WOW64): its record names where start-up finds it,
  // and on the NT family the path registered whole (its short form would be the twin's).
  const std::string real = "C:\\WINDOWS\\SysWOW64\\b\\evil.exe";
  for (const std::uint32_t id : {kNT, k9x}) {
    SCOPED_TRACE(id);
    FamilyRun run(*this, id);
    auto &[app, controls, form] = run;
    AddInfected(a);
    AddInfected(b);
    app.Files = app_.Files;
    app.ShortNames = app_.ShortNames;
    app.RealLocations[b] = real;
    app.ShortNames[real] = "SHORT REAL";
    controls.Answers = {kIdCancel};

    form.CmdFFix_Click();

    const std::optional<Manifest> parsed = ParseManifest(app.Files[manifest]);
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->badLines.empty());
    ASSERT_EQ(parsed->records.size(), 2u);
    const std::string digests[] = {
        "4f64a6a1ac9406a9f115d9acf46b1b6ef8fce38494af9fa9eb70d8057fc9fbdb",
        "fb4f9bd1465df654672408e3e642cc4e0fe22963892f565dffaf8613a6d63457"};
    const ManifestRecord expected[] = {
        {"", a, "evil.exe", {app.Files[a].size(), digests[0]}, false, "SHORT " + a},
        {"",
         real,
         "evil (2).exe",
         {app.Files[b].size(), digests[1]},
         false,
         id == kNT ? real : "SHORT REAL"}};
    for (std::size_t i = 0; i < 2; ++i) {
      const ManifestRecord &record = parsed->records[i];
      EXPECT_EQ(record.time.size(), 20u) << record.time;
      EXPECT_EQ(ManifestLine({"", record.originalPath, record.quarantineName, record.digest,
                              record.restored, record.registeredPath}),
                ManifestLine(expected[i]));
    }
    // Each file's record is there before its deletion is registered.
    std::vector<std::string> order;
    for (const std::string &call : app.Calls)
      for (const char *step : {"OpenAppendFile", "MoveFileExA", "AppendLines", "WriteNewFile"})
        if (call.starts_with(step))
          order.push_back(step);
    const std::vector<std::string> nt = {"OpenAppendFile", "MoveFileExA", "OpenAppendFile",
                                         "MoveFileExA"};
    const std::vector<std::string> nineX = {"OpenAppendFile", "WriteNewFile", "OpenAppendFile",
                                            "AppendLines"};
    EXPECT_EQ(order, id == kNT ? nt : nineX);
  }
}

TEST_F(FindAndFixTest, AFileWhoseRecordCannotBeWrittenIsLeftInPlaceScheduledNowhere) {
  const std::string manifest = kQuarantine + "\\manifest.tsv";
  // Built in steps: GCC 12 warns falsely of the digest in one braced record.
  ManifestRecord old;
  old.time = "2026-01-01T00:00:00Z";
  old.originalPath = "C:\\old.exe";
  old.quarantineName = "old.exe";
  old.digest = {3, std::string(64, 'a')};
  old.registeredPath = "C:\\OLD.EXE";
  const std::string earlier = std::string(kManifestHeader) + ManifestLine(old);
  struct Case {
    const char *Name;
    bool Directory;
    int Error;
  };
  const Case cases[] = {{"a folder at its name", true, EISDIR}, {"a full disk", false, ENOSPC}};
  for (const Case &c : cases) {
    for (const std::uint32_t id : {kNT, k9x}) {
      SCOPED_TRACE(std::string(c.Name) + " " + std::to_string(id));
      FamilyRun run(*this, id);
      auto &[app, controls, form] = run;
      AddInfected(kSys + "\\evil.exe");
      app.Files = app_.Files;
      app.ShortNames = app_.ShortNames;
      app.Attributes[kSys + "\\evil.exe"] = kFileAttributeReadOnly;
      if (c.Directory) {
        app.Dirs.insert(manifest);
      } else {
        app.Files[manifest] = earlier;
        app.FailedWrites = {manifest};
      }
      controls.Answers = {kIdOk};

      form.CmdFFix_Click();

      ASSERT_EQ(controls.Boxes().size(), 1u);
      EXPECT_EQ(controls.Boxes()[0].Text, kSys + "\\evil.exe could not be recorded in " + manifest +
                                              ": " + std::generic_category().message(c.Error) +
                                              ". It was left in place and will not be deleted.");
      EXPECT_EQ(controls.Found().Caption(), "Vorse Files found were left in place");
      EXPECT_TRUE(app.Scheduled.empty());
      EXPECT_FALSE(app.Files.count(kIni));
      EXPECT_EQ(app.Attributes[kSys + "\\evil.exe"], kFileAttributeReadOnly);
      // Half a record would glue the next one onto it: the manifest is cut back.
      EXPECT_EQ(app.Files[manifest], c.Directory ? "" : earlier);
    }
  }
}

TEST_F(FindAndFixTest, ANameTakenWhenTheCopyIsMadeMovesOnToTheNextNumber) {
  sys_.PlatformId = kNT;
  AddInfected(kSys + "\\evil.exe");
  app_.Dirs.insert(kQuarantine);
  app_.Files[kQuarantine + "\\evil.exe"] = "kept";
  // A dangling link: nothing there to the existence test, but the name is taken.
  app_.HiddenTaken = {kQuarantine + "\\evil (2).exe"};
  controls_.Answers = {kIdCancel};
  form_.CmdFFix_Click();
  EXPECT_EQ(app_.Files[kQuarantine + "\\evil (3).exe"], "bytes of " + kSys + "\\evil.exe");
  EXPECT_EQ(app_.Scheduled.size(), 1u);
  EXPECT_EQ(controls_.Boxes().size(), 1u);
}

TEST_F(FindAndFixTest, NoCopyGoesThroughALinkAtTheQuarantineFolder) {
  sys_.PlatformId = kNT;
  AddInfected(kSys + "\\evil.exe");
  // A junction planted at the folder's name would carry the copy wherever it points, a
  // start-up folder say.
  app_.Dirs.insert(kQuarantine);
  app_.Attributes[kQuarantine] = kFileAttributeDirectory | kFileAttributeReparsePoint;
  controls_.Answers = {kIdOk};
  form_.CmdFFix_Click();
  EXPECT_TRUE(AppCalls("CopyFileA").empty());
  EXPECT_TRUE(app_.Scheduled.empty());
  EXPECT_EQ(controls_.Boxes().front().Text,
            kSys + "\\evil.exe could not be copied to " + kQuarantine +
                ": it is a link or junction, not a folder of its own. It was left in place and "
                "will not be deleted.");
}

TEST_F(FindAndFixTest, TheQuarantineFolderIsHeldFromItsCheckUntilTheCopyIsMade) {
  AddInfected(kSys + "\\evil.exe");
  controls_.Answers = {kIdCancel};
  form_.CmdFFix_Click();
  std::vector<std::string> calls;
  for (const std::string &call : app_.Calls) {
    if (call.find("Folder ") != std::string::npos || call.starts_with("CopyFileA"))
      calls.push_back(call);
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"HoldFolder " + kQuarantine,
                                             "CopyFileA " + kSys + "\\evil.exe " + kQuarantine +
                                                 "\\evil.exe 1",
                                             "ReleaseFolder " + kQuarantine}));
}

TEST_F(FindAndFixTest, WalksListsLongerThanSixteenBitCounters) {
  controls_.List().LogRows = false;
  constexpr int kRows = 32770;
  for (int i = 0; i < kRows - 1; ++i)
    scan_.AddFile(kSys + "\\f" + std::to_string(i) + ".exe");
  AddInfected(kSys + "\\last.exe");
  form_.CmdFFix_Click();
  EXPECT_EQ(controls_.List().ListCount(), kRows);
  EXPECT_EQ(controls_.List().Selected(), kRows - 1);
  EXPECT_EQ(FoundCaptions()[1], "Files Found so far =  1");
  // Kept alive once per row added and once per row examined.
  EXPECT_EQ(controls_.KeepAlives(), 2u * kRows);
}

TEST_F(FindAndFixTest, OnWow64EachBuildSearchesTheOtherSystemDirectoryToo) {
  const std::string wow64 = "C:\\WINDOWS\\SysWOW64";
  const std::string native = "C:\\WINDOWS\\Sysnative";
  app_.Wow64Dir = wow64;
  app_.Dirs.insert(native);
  AddInfected(kSys + "\\a.exe");
  AddInfected(wow64 + "\\b.exe");
  AddInfected(native + "\\c.exe");
  controls_.Answers = {kIdCancel};
  form_.CmdFFix_Click();
  // The 64-bit build sees the real system directory as SysDir; the 32-bit one reaches it
  // through its alias.
  std::vector<std::string> rows = {kSys + "\\a.exe"};
  rows.push_back(kSearchesWow64Directory ? wow64 + "\\b.exe" : native + "\\c.exe");
  EXPECT_EQ(controls_.List().Rows(), rows);
  EXPECT_EQ(AppCalls("CopyFileA").size(), rows.size());

  // Without a 32-bit system directory (32-bit Windows) SysDir is all there is.
  app_.Wow64Dir.clear();
  form_.CmdFFix_Click();
  EXPECT_EQ(controls_.List().Rows(), std::vector<std::string>{kSys + "\\a.exe"});
}

/// A folder others may change: Users may add files to it.
FolderSecurity OpenToUsers() {
  return {kFileAttributeDirectory,
          std::string(kSidAdministrators),
          true,
          {{0, 0, 0x1F01FF, std::string(kSidAdministrators)}, {0, 0, 0x2, "S-1-5-32-545"}}};
}

TEST_F(FindAndFixTest, ADeletionOthersCouldRedirectIsOfTheFileMovedOutOfTheirReach) {
  // Users may add to color: they could swap sub for a junction to the system directory before
  // the restart, and start-up would delete its namesake there.
  const std::string color = kSys + "\\spool\\drivers\\color";
  const std::string sub = color + "\\sub";
  const std::string pending = kQuarantine + "\\Deleted at restart";
  struct Case {
    const char *Name;
    std::function<void(FakeAppOs &)> Plant;
    bool Moved;
  };
  const Case cases[] = {
      {"every folder theirs", [](FakeAppOs &) {}, false},
      {"owned by the running user", [&](FakeAppOs &App) { App.Security[sub].Owner = App.UserSid; },
       false},
      {"a folder open to users", [&](FakeAppOs &App) { App.Security[color] = OpenToUsers(); },
       true},
      {"a folder owned by another user",
       [&](FakeAppOs &App) { App.Security[sub].Owner = "S-1-5-21-1-2-3-1001"; }, true},
      {"a junction on the way",
       [&](FakeAppOs &App) { App.Security[sub].Attributes |= kFileAttributeReparsePoint; }, true},
      {"a folder that cannot be read", [&](FakeAppOs &App) { App.UnreadableSecurity = {color}; },
       true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    FamilyRun run(*this, kNT);
    auto &[app, controls, form] = run;
    AddInfected(sub + "\\x.exe");
    app.ShortNames = app_.ShortNames;
    app.Files[sub + "\\x.exe"] = "infected";
    app.Files[pending + "\\x.exe"] = "an earlier one";
    app.Attributes[sub + "\\x.exe"] = 0x21;
    app.Security[sub] = *app.ReadFolderSecurity(sub);
    c.Plant(app);
    controls.Answers = {kIdCancel};

    form.CmdFFix_Click();

    const std::string moved = pending + "\\x (2).exe";
    EXPECT_EQ(app.Files[kQuarantine + "\\x.exe"], "infected");
    EXPECT_EQ(app.Scheduled,
              std::vector<std::string>{c.Moved ? moved : "SHORT " + sub + "\\x.exe"});
    EXPECT_EQ(app.Files.count(sub + "\\x.exe"), c.Moved ? 0u : 1u);
    if (c.Moved) {
      EXPECT_EQ(app.Files[moved], "infected");
      EXPECT_EQ(app.Attributes[moved], 0x20u);
      EXPECT_EQ(app.Files[pending + "\\x.exe"], "an earlier one");
      EXPECT_EQ(std::count(app.Calls.begin(), app.Calls.end(), "CreatePrivateDirectory " + pending),
                1);
    }
    EXPECT_EQ(controls.Boxes().size(), 1u) << "the restart question alone";
  }
}

TEST_F(FindAndFixTest, AFileThatCanNeitherStayNorMoveIsLeftInPlaceAndTheUserTold) {
  const std::string sub = kSys + "\\open\\sub";
  const std::string source = sub + "\\x.exe";
  struct Case {
    const char *Name;
    std::function<void(FakeAppOs &)> Plant;
    std::string Reason;
  };
  const Case cases[] = {
      {"another volume", [](FakeAppOs &App) { App.MoveIntoFails = true; },
       std::error_code(EXDEV, std::generic_category()).message()},
      {"swapped since the copy",
       [&](FakeAppOs &App) { App.SwappedBeforeMove[source] = "a clean file"; },
       "it no longer holds what was copied"},
      {"a shared folder for the moved files",
       [&](FakeAppOs &App) { App.Security[kQuarantine + "\\Deleted at restart"] = OpenToUsers(); },
       kQuarantine +
           "\\Deleted at restart: users other than administrators own it or may change it"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    FamilyRun run(*this, kNT);
    auto &[app, controls, form] = run;
    AddInfected(source);
    app.Files = app_.Files;
    app.Security[kSys + "\\open"] = OpenToUsers();
    c.Plant(app);
    controls.Answers = {kIdCancel};

    form.CmdFFix_Click();

    EXPECT_TRUE(app.Scheduled.empty());
    EXPECT_TRUE(app.Files.count(source));
    ASSERT_EQ(controls.Boxes().size(), 1u) << "no restart is offered";
    EXPECT_EQ(controls.Boxes()[0].Text,
              source +
                  " was left in place and will not be deleted: users other than administrators "
                  "may change a folder on its path, and it could not be moved into " +
                  kQuarantine + "\\Deleted at restart: " + c.Reason + ". Its copy is " +
                  kQuarantine + "\\x.exe.");
  }
}

TEST_F(FindAndFixTest, CopiesGoOnlyIntoAQuarantineFolderOfAdministratorsAlone) {
  struct Case {
    const char *Name;
    std::function<void(FakeAppOs &)> Plant;
    bool Copied;
  };
  const Case cases[] = {
      {"made by the run", [](FakeAppOs &) {}, true},
      {"made by another user beforehand",
       [](FakeAppOs &App) {
         App.Dirs.insert(kQuarantine);
         App.Security[kQuarantine] = OpenToUsers();
         App.Security[kQuarantine].Owner = "S-1-5-21-1-2-3-1001";
       },
       false},
      {"open to users", [](FakeAppOs &App) { App.Security[kQuarantine] = OpenToUsers(); }, false},
      {"unreadable", [](FakeAppOs &App) { App.UnreadableSecurity = {kQuarantine}; }, false},
      {"a copy that lands elsewhere",
       [](FakeAppOs &App) {
         App.RealLocations[kQuarantine + "\\evil.exe"] = "C:\\Startup\\evil.exe";
       },
       false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    FamilyRun run(*this, kNT);
    auto &[app, controls, form] = run;
    AddInfected(kSys + "\\evil.exe");
    app.Files = app_.Files;
    c.Plant(app);
    controls.Answers = {kIdCancel};

    form.CmdFFix_Click();

    EXPECT_EQ(app.Calls.front(), "CreatePrivateDirectory " + kQuarantine);
    EXPECT_EQ(app.Scheduled.size(), c.Copied ? 1u : 0u);
    if (!c.Copied) {
      EXPECT_TRUE(controls.Boxes()[0].Text.starts_with(kSys + "\\evil.exe could not be copied to " +
                                                       kQuarantine));
    }
  }
}

} // namespace
} // namespace vorse
