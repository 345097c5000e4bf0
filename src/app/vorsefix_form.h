// The form's logic: start-up, the Find and Fix run, the quarantine step, on any controls and
// any platform. The Win32 window (main_window) owns one and forwards its events to it.
#pragma once

#include "app/app_os.h"
#include "app/form_controls.h"
#include "scan/scan_os.h"
#include "sysutil/sysutil_os.h"

#include <string>

namespace vorse {

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

  /// The whole repair: search, detect, quarantine, schedule, and the restart prompt.
  /// Throws RuntimeError when a step cannot go on.
  void CmdFFix_Click();

  const std::string &SysDir() const { return sysDir_; }
  const std::string &WinDir() const { return winDir_; }

private:
  FormControls &controls_;
  FormPlatform platform_;
  std::string sysDir_;
  std::string winDir_;
};

} // namespace vorse
