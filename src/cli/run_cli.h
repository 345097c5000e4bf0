// RunVorsescan: the whole command-line scanner behind main, on any seams and streams.
#pragma once

#include "cli/cli_os.h"
#include "cli/progress.h"
#include "scan/scan_os.h"

#include <ostream>
#include <span>
#include <string>

namespace vorse {

/// The exit statuses, as scanners' users expect them.
enum ExitStatus : int {
  kExitClean = 0,
  kExitInfected = 1,
  kExitError = 2,
};

/// Runs vorsescan with \p Args (without the program name): findings to \p Out, messages,
/// progress and the summary to \p Err. Returns the exit status.
int RunVorsescan(std::span<const std::string> Args, ScanOs &Scan, CliOs &Cli, std::ostream &Out,
                 std::ostream &Err, Progress::Clock Now = std::chrono::steady_clock::now);

} // namespace vorse
