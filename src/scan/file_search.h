// FindFilesAPI and StripNulls: the depth-first search that lists every match below a directory.
#pragma once

#include "row_sink.h"
#include "scan_os.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vorse {

/// Cuts \p OriginalStr at its first NUL, in place, and returns the result.
std::string StripNulls(std::string &OriginalStr);

/// The entry's name in \p Data: its name field cut at the first NUL, as StripNulls cuts it,
/// without a copy. Valid while \p Data is.
std::string_view RecordName(const FindData &Data);

/// Appends Path & name to \p List1 for every entry matching \p SearchStr in \p Path and every
/// directory below it: a directory's own matches first, then each subdirectory's tree in the
/// order found. \p Path gains a trailing "\" when it lacks one. \p FileCount counts the rows
/// appended and \p DirCount the subdirectories collected, over the whole tree; both are 64-bit,
/// so no real tree overflows them. At most one directory search is open at a time.
void FindFilesAPI(ScanOs &Os, std::string &Path, const std::string &SearchStr,
                  std::int64_t &FileCount, std::int64_t &DirCount, RowSink &List1);

} // namespace vorse
