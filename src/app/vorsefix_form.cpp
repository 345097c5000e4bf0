// The form's logic: start-up and the Find and Fix run.
#include "app/vorsefix_form.h"

#include "app/quarantine.h"
#include "scan/file_search.h"
#include "scan/forwarding_scan_os.h"
#include "scan/signatures.h"
#include "scan/version_data.h"
#include "sysutil/os_detect.h"
#include "sysutil/parse_path.h"
#include "sysutil/shutdown_nt.h"

#include <cstdint>
#include <set>
#include <string_view>
#include <vector>

namespace vorse {
namespace {

/// ShutDownNT's Force as the window passes it: true, all bits set.
constexpr std::int16_t kForce = -1;
/// ShellExecuteA's show command for the restart helper: SW_SHOWMAXIMIZED.
constexpr std::int32_t kShowMaximized = 3;

/// List1 as the search's row sink: every row added also keeps the window alive.
class KeepAliveSink final : public RowSink {
public:
  explicit KeepAliveSink(FormControls &Controls) : controls_(Controls) {}
  void AddItem(const std::string &Text) override {
    controls_.List1().AddItem(Text);
    controls_.KeepAlive();
  }

private:
  FormControls &controls_;
};

/// How many of the folders and files that could not be examined the run's ending names.
constexpr std::size_t kNamedUnexamined = 3;

/// What a run could not examine: the folders whose search failed and the files that could not
/// be opened, with the first few of them by name.
struct Unexamined {
  std::int64_t Folders = 0;
  std::int64_t Files = 0;
  std::vector<std::string> Named;

  /// Counts \p Path in \p Count (Folders or Files), and names it while few are named.
  void Note(std::int64_t &Count, const std::string &Path) {
    ++Count;
    if (Named.size() < kNamedUnexamined)
      Named.push_back(Path);
  }
};

/// The scan seam as the run sees it, noting what could not be examined: a folder whose search
/// fails for another reason than "nothing there" or whose listing stops for another reason than
/// its end, and a file whose version resource cannot be read for another reason than its having
/// none (in use without sharing, access denied). A listed entry whose name the narrow calls
/// would read as another entry's or none (a trailing dot or blank, a device name) is noted as
/// not examined and not opened: its row, trimmed as the run trims it, reads nothing.
class NotingScanOs final : public ForwardingScanOs {
public:
  NotingScanOs(ScanOs &Inner, AppOs &App, Unexamined &Noted)
      : ForwardingScanOs(Inner), app_(App), noted_(Noted) {}

  FindHandle FindFirstFileA(const std::string &Pattern, FindData &Data) override {
    // The search holds one folder's search open at a time.
    searchedDir_ = Pattern.substr(0, Pattern.rfind('\\') + 1);
    const std::string_view dir = std::string_view(searchedDir_).substr(0, searchedDir_.size() - 1);
    if (!dir.empty() && app_.NarrowCallsRewrite(dir.substr(dir.rfind('\\') + 1))) {
      NoteUnopenable(noted_.Folders, searchedDir_);
      return kInvalidFindHandle;
    }
    const FindHandle handle = inner_.FindFirstFileA(Pattern, Data);
    if (handle == kInvalidFindHandle && !app_.MeansNothingThere(inner_.LastError()))
      NoteFolder();
    if (handle != kInvalidFindHandle)
      NoteIfUnopenable(Data);
    return handle;
  }
  std::int32_t FindNextFileA(FindHandle Handle, FindData &Data) override {
    const std::int32_t found = inner_.FindNextFileA(Handle, Data);
    if (found == 0 && !app_.MeansNoMoreFiles(inner_.LastError()))
      NoteFolder();
    if (found != 0)
      NoteIfUnopenable(Data);
    return found;
  }
  std::uint32_t GetFileVersionInfoSizeA(const std::string &FileName,
                                        std::uint32_t &Handle) override {
    if (unopenable_.count(FileName) != 0)
      return 0;
    const std::uint32_t size = inner_.GetFileVersionInfoSizeA(FileName, Handle);
    if (size == 0 && !app_.MeansNoVersionResource(inner_.LastError()) && !IsDirectory(FileName))
      noted_.Note(noted_.Files, FileName);
    return size;
  }
  std::int32_t GetFileVersionInfoA(const std::string &FileName, std::uint32_t Handle,
                                   std::uint32_t Size, void *Data) override {
    const std::int32_t read = inner_.GetFileVersionInfoA(FileName, Handle, Size, Data);
    if (read == 0)
      noted_.Note(noted_.Files, FileName);
    return read;
  }

private:
  /// Notes the entry in \p Data as not examined when the narrow calls cannot open it by its
  /// name: a file's row then reads nothing, and a folder is not searched, whatever its name
  /// would open instead.
  void NoteIfUnopenable(const FindData &Data) {
    const std::string_view name = RecordName(Data);
    if (!app_.NarrowCallsRewrite(name))
      return;
    const std::string path = searchedDir_ + std::string(name);
    if ((Data.dwFileAttributes & kFileAttributeDirectory) != 0)
      NoteUnopenable(noted_.Folders, path + "\\");
    else
      NoteUnopenable(noted_.Files, path);
  }

  /// Notes \p Path (a folder's ends with "\\") in \p Count, once: both searches of a folder
  /// list its entries.
  void NoteUnopenable(std::int64_t &Count, const std::string &Path) {
    if (unopenable_.insert(Trim(Path)).second)
      noted_.Note(Count, Path);
  }

  /// Notes the folder being searched as one that could not be searched, or not completely.
  void NoteFolder() {
    // Both searches of a folder fail alike; it is noted once.
    if (searchedDir_ == lastFailedDir_)
      return;
    lastFailedDir_ = searchedDir_;
    noted_.Note(noted_.Folders, searchedDir_);
  }

  /// A directory named like a match is a row too; it has no version resource to read.
  bool IsDirectory(const std::string &Path) {
    const std::uint32_t attributes = inner_.GetFileAttributesA(Path);
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) != 0;
  }

  AppOs &app_;
  Unexamined &noted_;
  std::string searchedDir_;
  std::string lastFailedDir_;
  /// The rows, trimmed, of the files noted as not examined for their names, and the folders.
  std::set<std::string> unopenable_;
};

/// "1 folder", "2 files": \p Count and the noun, in the plural where it needs one.
std::string Counted(std::int64_t Count, const std::string &Noun) {
  return std::to_string(Count) + " " + Noun + (Count == 1 ? "" : "s");
}

/// The notice at the end of a run that could not examine everything, naming a few of them.
std::string IncompleteNotice(const Unexamined &Noted) {
  std::string parts;
  if (Noted.Folders > 0)
    parts = Counted(Noted.Folders, "folder") + " could not be searched";
  if (Noted.Folders > 0 && Noted.Files > 0)
    parts += " and ";
  if (Noted.Files > 0)
    parts += Counted(Noted.Files, "file") + " could not be opened";
  std::string notice =
      "Not everything could be examined, so Vorse Files may remain: " + parts + ".\r\n";
  for (const std::string &path : Noted.Named)
    notice += "\r\n" + path;
  const std::int64_t unnamed =
      Noted.Folders + Noted.Files - static_cast<std::int64_t>(Noted.Named.size());
  if (unnamed > 0)
    notice += "\r\nand " + std::to_string(unnamed) + " more";
  return notice;
}

/// Reads a directory the way the window always has: 255 characters of room, the first n kept.
/// A failed query leaves the text empty; a directory too long for the room (the call then
/// returns the size it would need) leaves the room's 255 spaces.
template <typename Query> std::string ReadDirectory(Query query) {
  std::string buffer(255, ' ');
  const std::uint32_t n = query(buffer.data(), 255);
  buffer.resize(n <= buffer.size() ? n : buffer.size());
  return buffer;
}

} // namespace

VorseFixForm::VorseFixForm(FormControls &Controls, FormPlatform Platform)
    : controls_(Controls), platform_(Platform) {}

void VorseFixForm::Form_Load() {
  AppOs &app = platform_.App;
  sysDir_ = ReadDirectory(
      [&](char *buffer, std::uint32_t size) { return app.GetSystemDirectoryA(buffer, size); });
  winDir_ = ReadDirectory(
      [&](char *buffer, std::uint32_t size) { return app.GetWindowsDirectoryA(buffer, size); });
  ParsePath(winDir_);
  controls_.LblInfo().SetCaption(
      "Clicking Find and Fix will locate all Vorse Files, and copy them to " + ParsedDrive() +
      "\\!VorseFix\\  you will be prompted to Reboot and all files will be deleted");
}

void VorseFixForm::CmdFFix_Click() {
  Label &found = controls_.LblFound();
  ListBox &list = controls_.List1();
  found.SetCaption("");
  found.Refresh();
  found.SetVisible(false);
  list.Clear();

  std::int64_t row = 0;
  std::int64_t foundCount = 0;
  std::int64_t scheduledCount = 0;
  Unexamined unexamined;
  NotingScanOs scan(platform_.Scan, platform_.App, unexamined);
  Search(scan);

  // The count is read anew before every row; the text anew at every use.
  while (row < list.ListCount()) {
    controls_.KeepAlive();
    list.SetListIndex(row);
    ParsePath(list.Text());
    const std::optional<VersionEntries> entries = GetFileVersionData(scan, Trim(list.Text()));
    if (entries) {
      for (const std::u16string &entry : *entries) {
        if (!IsVorseSignature(entry))
          continue;
        ++foundCount;
        found.SetVisible(true);
        // The number keeps a blank where its sign would stand: it is never negative.
        found.SetCaption("Files Found so far =  " + std::to_string(foundCount));
        found.Refresh();
        if (QuarantineSelectedRow())
          ++scheduledCount;
      }
    }
    ++row;
  }

  // A search that missed folders or files must not read as a clean system.
  const bool incomplete = unexamined.Folders > 0 || unexamined.Files > 0;
  if (incomplete)
    controls_.MsgBox(IncompleteNotice(unexamined), kMbIconExclamation, "Quintarel Vorse Fix");
  // The label's visibility is the run's record of whether anything was found.
  if (!found.Visible()) {
    found.SetVisible(true);
    found.SetCaption(incomplete ? "Search incomplete: no Vorse Files found"
                                : "No Vorse Files were Detected");
    found.Refresh();
    return;
  }
  // A restart deletes only what was scheduled; with nothing scheduled it would fix nothing.
  if (scheduledCount == 0) {
    found.SetCaption("Vorse Files found were left in place");
    found.Refresh();
    return;
  }
  OfferRestart();
}

void VorseFixForm::Search(ScanOs &Scan) {
  KeepAliveSink sink(controls_);
  std::int64_t fileCount = 0;
  std::int64_t dirCount = 0;
  AppOs &app = platform_.App;
  const DirectoryIdentifier identify = [&](const std::string &Dir) {
    return app.IdentifyDirectory(Dir);
  };
  std::string path = sysDir_;
  FindFilesAPI(Scan, path, "*.exe", fileCount, dirCount, sink, identify);
  // 0 where there is no 32-bit system directory; a directory too long for the room is
  // skipped rather than searched under a cut name.
  std::string wow64(255, '\0');
  const std::uint32_t n = app.GetSystemWow64DirectoryA(wow64.data(), 255);
  if (n == 0 || n >= wow64.size())
    return;
  wow64.resize(n);
  if (kSearchesWow64Directory) {
    FindFilesAPI(Scan, wow64, "*.exe", fileCount, dirCount, sink, identify);
    return;
  }
  // A 32-bit program on 64-bit Windows: SysDir shows it the 32-bit system directory, and the
  // real one is reached through its alias (from Vista on).
  std::string native = winDir_ + "\\Sysnative";
  if (app.PathFileExistsA(native) != 0)
    FindFilesAPI(Scan, native, "*.exe", fileCount, dirCount, sink, identify);
}

bool VorseFixForm::QuarantineSelectedRow() {
  const std::string rowText = controls_.List1().Text();
  const InfectedFile file{rowText, ParsedDrive(), ParsedFile()};
  const QuarantineOutcome outcome = QuarantineFile(platform_.App, platform_.Sys, winDir_, file);
  if (outcome.Problem)
    controls_.MsgBox(*outcome.Problem, kMbIconExclamation, "Quintarel Vorse Fix");
  return outcome.Scheduled;
}

void VorseFixForm::OfferRestart() {
  Label &found = controls_.LblFound();
  const std::int32_t answer =
      controls_.MsgBox("You need to Reboot to finish Repairing the Vorse Infection",
                       kMbOkCancel | kMbIconExclamation, "Reboot Notice");
  if (answer != kIdOk) {
    found.SetVisible(true);
    found.SetCaption("You Must reboot to fix these files");
    found.Refresh();
    return;
  }
  found.SetCaption("Rebooting Windows...");
  found.Refresh();
  // Asked anew for each family. Neither result is looked at: Windows ends the program when
  // the restart goes ahead, and the label stays when it does not.
  if (OS_Detect(platform_.Sys) == kPlatformNT)
    ShutDownNT(platform_.Sys, kForce);
  if (OS_Detect(platform_.Sys) == kPlatform9x)
    platform_.App.ShellExecuteA(controls_.WindowHandle(), "open", winDir_ + "\\rundll32.exe",
                                "shell32.dll,SHExitWindowsEx 2", winDir_, kShowMaximized);
}

} // namespace vorse
