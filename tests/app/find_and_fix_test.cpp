// The Find and Fix run on fake controls and platforms: its texts, its detection, the quarantine
// and scheduling of each family, and the restart.
#include "app/runtime_error.h"
#include "app/vorsefix_form.h"
#include "fakes/fake_app_os.h"
#include "fakes/fake_controls.h"
#include "fakes/fake_scan_os.h"
#include "fakes/fake_sysutil_os.h"
#include "fakes/pe_image.h"

#include <gtest/gtest.h>

#include <algorithm>
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

    // The quarantine asked twice before; the restart's own calls follow.
    ASSERT_GE(sys.Calls.size(), 2u);
    const std::vector<std::string> restart(sys.Calls.begin() + 2, sys.Calls.end());
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
    EXPECT_EQ(AppCalls("CreateDirectoryExA"),
              std::vector<std::string>{"CreateDirectoryExA  C:  C:\\!VorseFix"});
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
  AddInfected(kSys + "\\evil.exe");
  app_.Files[kIni] = "[rename]\r\nNUL=C:\\OLD.EXE\r\n[other]\r\nkey=value\r\n";
  form_.CmdFFix_Click();
  EXPECT_EQ(app_.Files[kIni], "[rename]\r\nNUL=C:\\OLD.EXE\r\nNUL=SHORT " + kSys +
                                  "\\evil.exe\r\n[other]\r\nkey=value\r\n");
  EXPECT_TRUE(AppCalls("AppendLines").empty());

  // A write that fails part-way leaves every pending line of the file as it was.
  const std::string before = app_.Files[kIni];
  app_.FailedWrites = {kIni};
  EXPECT_THROW(form_.CmdFFix_Click(), RuntimeError);
  EXPECT_EQ(app_.Files[kIni], before);

  // A wininit.ini that cannot be read is not rewritten blind: the run ends naming it.
  app_.FailedWrites.clear();
  app_.UnreadableSources = {kIni};
  EXPECT_THROW(form_.CmdFFix_Click(), RuntimeError);
  EXPECT_EQ(AppCalls("ReplaceWithLines").size(), 2u);
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
  // Under WOW64 the row's path reaches the 32-bit system directory; start-up would not.
  const std::string row = kSys + "\\evil.exe";
  const std::string real = "C:\\WINDOWS\\SysWOW64\\evil.exe";
  for (const std::uint32_t id : {kNT, k9x}) {
    SCOPED_TRACE(id);
    FamilyRun run(*this, id);
    auto &[app, controls, form] = run;
    AddInfected(row);
    app.Files = {{row, "infected"}, {real, "infected"}};
    app.RealLocations[row] = real;
    app.ShortNames = {{row, "SHORT ROW"}, {real, "SHORT REAL"}};
    app.Attributes[real] = 0x7; // read-only, hidden, system
    controls.Answers = {kIdCancel};

    form.CmdFFix_Click();

    EXPECT_EQ(app.Attributes[real], 0x6u);
    const auto cleared =
        std::find(app.Calls.begin(), app.Calls.end(), "SetFileAttributesA " + real + " 6");
    ASSERT_NE(cleared, app.Calls.end());
    if (id == kNT) {
      EXPECT_EQ(app.Scheduled, std::vector<std::string>{"SHORT REAL"});
      EXPECT_LT(cleared - app.Calls.begin(),
                std::find(app.Calls.begin(), app.Calls.end(), "MoveFileExA SHORT REAL null 4") -
                    app.Calls.begin());
    } else {
      EXPECT_EQ(app.Files[kIni], "[rename]\r\nNUL=SHORT REAL\r\n");
    }
    EXPECT_EQ(controls.Boxes().size(), 1u);
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

} // namespace
} // namespace vorse
