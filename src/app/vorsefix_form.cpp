// The form's logic: start-up and the Find and Fix run.
#include "app/vorsefix_form.h"

#include "app/quarantine.h"
#include "scan/file_search.h"
#include "scan/signatures.h"
#include "scan/version_data.h"
#include "sysutil/os_detect.h"
#include "sysutil/parse_path.h"
#include "sysutil/shutdown_nt.h"

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
  Search();

  // The count is read anew before every row; the text anew at every use.
  while (row < list.ListCount()) {
    controls_.KeepAlive();
    list.SetListIndex(row);
    ParsePath(list.Text());
    const std::optional<VersionEntries> entries =
        GetFileVersionData(platform_.Scan, Trim(list.Text()));
    if (entries) {
      for (const std::u16string &entry : *entries) {
        if (!IsVorseSignature(entry))
          continue;
        ++foundCount;
        found.SetVisible(true);
        // The number keeps a blank where its sign would stand: it is never negative.
        found.SetCaption("Files Found so far =  " + std::to_string(foundCount));
        found.Refresh();
        QuarantineSelectedRow();
      }
    }
    ++row;
  }

  // The label's visibility is the run's record of whether anything was found.
  if (!found.Visible()) {
    found.SetVisible(true);
    found.SetCaption("No Vorse Files were Detected");
    found.Refresh();
    return;
  }
  OfferRestart();
}

void VorseFixForm::Search() {
  KeepAliveSink sink(controls_);
  std::int64_t fileCount = 0;
  std::int64_t dirCount = 0;
  std::string path = sysDir_;
  FindFilesAPI(platform_.Scan, path, "*.exe", fileCount, dirCount, sink);
  if (!kSearchesWow64Directory)
    return;
  // 0 where there is no 32-bit system directory; a directory too long for the room is
  // skipped rather than searched under a cut name.
  std::string wow64(255, '\0');
  const std::uint32_t n = platform_.App.GetSystemWow64DirectoryA(wow64.data(), 255);
  if (n == 0 || n >= wow64.size())
    return;
  wow64.resize(n);
  FindFilesAPI(platform_.Scan, wow64, "*.exe", fileCount, dirCount, sink);
}

void VorseFixForm::QuarantineSelectedRow() {
  const std::string rowText = controls_.List1().Text();
  const InfectedFile file{rowText, ParsedDrive(), ParsedFile()};
  const std::optional<std::string> problem =
      QuarantineFile(platform_.App, platform_.Sys, winDir_, file);
  if (problem)
    controls_.MsgBox(*problem, kMbIconExclamation, "Quintarel Vorse Fix");
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
