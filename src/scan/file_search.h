// FindFilesAPI and StripNulls: the depth-first search that lists every match below a directory.
#pragma once

#include "row_sink.h"
#include "scan_os.h"
#include "sysutil/file_location.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vorse {

/// Cuts \p OriginalStr at its first NUL, in place, and returns the result.
std::string StripNulls(std::string &OriginalStr);

/// The entry's name in \p Data: its name field cut at the first NUL, as StripNulls cuts it,
/// without a copy. Valid while \p Data is.
std::string_view RecordName(const FindData &Data);

/// Tells which directory a path leads to, links followed; nothing where it cannot tell.
using DirectoryIdentifier = std::function<std::optional<DirectoryId>(const std::string &Dir)>;

/// Appends Path & name to \p List1 for every entry matching \p SearchStr in \p Path and every
/// directory below it: a directory's own matches first, then each subdirectory's tree in the
/// order found. \p Path gains a trailing "\" when it lacks one. \p FileCount counts the rows
/// appended and \p DirCount the subdirectories collected, over the whole tree; both are 64-bit,
/// so no real tree overflows them. At most one directory search is open at a time.
/// Given \p Identify, each directory is searched once: one reached again (through a link or a
/// junction, which may lead back to an ancestor) is passed over, so no loop of links traps the
/// search and no file is listed twice.
void FindFilesAPI(ScanOs &Os, std::string &Path, const std::string &SearchStr,
                  std::int64_t &FileCount, std::int64_t &DirCount, RowSink &List1,
                  const DirectoryIdentifier &Identify = {});

} // namespace vorse
