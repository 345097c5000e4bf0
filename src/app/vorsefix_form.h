// The form's logic: start-up, the Find and Fix run, the quarantine step, on any controls and
// any platform. The Win32 window (main_window) owns one and forwards its events to it.
#pragma once

#include "app/app_os.h"
#include "app/form_controls.h"
#include "scan/scan_os.h"
#include "sysutil/sysutil_os.h"

#include <string>

namespace vorse {

/// The 64-bit build searches the 32-bit system directory too, where the platform has one: a
/// 64-bit process sees only the 64-bit one as SysDir. Under WOW64 the 32-bit build's SysDir
/// is the 32-bit directory, and it searches the 64-bit one through its Sysnative alias.
inline constexpr bool kSearchesWow64Directory = sizeof(void *) == 8;

/// The platform seams the form reaches.
struct FormPlatform {
  AppOs &App;
  ScanOs &Scan;
  SysutilOs &Sys;
};

class VorseFixForm {
public:
  VorseFixForm(FormControls &Controls, FormPlatform Platform);

  /// Reads SysDir and WinDir and writes the instruction text into LblInfo.
  void Form_Load();

  /// The whole repair: search, detect, quarantine, schedule, and the restart prompt. Runs to
  /// its end, calling KeepAlive as it goes. Throws RuntimeError when a step cannot go on.
  void CmdFFix_Click();

  const std::string &SysDir() const { return sysDir_; }
  const std::string &WinDir() const { return winDir_; }

private:
  /// Fills List1 with every "*.exe" below SysDir and, on 64-bit Windows, the other system
  /// directory, searching each directory once.
  void Search(ScanOs &Scan);
  /// Quarantines the selected row's file and tells the user what could not be done.
  /// \returns whether its deletion at restart was scheduled.
  bool QuarantineSelectedRow();
  /// The restart prompt and, on OK, the restart of the family OS_Detect reports.
  void OfferRestart();

  FormControls &controls_;
  FormPlatform platform_;
  std::string sysDir_;
  std::string winDir_;
};

} // namespace vorse
