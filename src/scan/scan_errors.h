// What the reason for a failed directory search or version query means for the search.
#pragma once

#include <system_error>

namespace vorse {

/// True when \p Error, the reason a directory search could not start, only means that nothing
/// is there to list (no such entry, no match, not a directory).
bool MeansNothingThere(std::error_code Error);

/// True when \p Error, the reason a directory search's next step gave no entry, means that the
/// listing reached its end. Anything else (a read of the directory that failed on the way, a
/// share that went away) leaves the directory not completely searched.
bool MeansNoMoreFiles(std::error_code Error);

/// True when \p Error, the reason the version size query gave 0, means the file was read and
/// holds no version resource, as opposed to a file that could not be opened or read.
bool MeansNoVersionResource(std::error_code Error);

} // namespace vorse
