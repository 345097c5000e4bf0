// The form's logic: start-up and the Find and Fix run.
#include "app/vorsefix_form.h"

#include "sysutil/parse_path.h"

namespace vorse {
namespace {

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

void VorseFixForm::CmdFFix_Click() {}

} // namespace vorse
