// RunRestore: puts quarantined files back where they were found, as manifest.tsv recorded them.
#pragma once

#include "cli/cli_options.h"
#include "cli/cli_os.h"
#include "cli/progress.h"

#include <ostream>

namespace vorse {

/// Puts back every file recorded in the manifest of \p Options.restore, or only those whose
/// original path is among \p Options.roots. Each copy must still hold what its record says;
/// nothing is written over an existing file (an identical one counts as put back); a pending
/// deletion at restart of the path is withdrawn; each restore is recorded in the manifest, and
/// the copy stays. Restored paths to \p Out, one a line (or the events with --json-lines),
/// messages and the summary to \p Err. Returns the exit status: 0 when every file asked for
/// is back, 2 otherwise. \p Now times the run for the summary event.
int RunRestore(const CliOptions &Options, CliOs &Os, std::ostream &Out, std::ostream &Err,
               const Progress::Clock &Now);

} // namespace vorse
