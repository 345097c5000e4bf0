// ParsePath: splits a path into its drive part and its bare file name.
#pragma once

#include <string>
#include <string_view>

namespace vorse {

/// Splits \p Path and keeps the result in module state until the next call: the drive part
/// (everything up to and including the first colon) and, for a file path, the bare file name
/// (everything after the last "\" or "/"). Purely textual; accepts every string. Positions are
/// held in size_t, so no path is too long for it.
void ParsePath(std::string_view Path);

/// The drive part of the last path given to ParsePath, or empty. A copy; reading changes nothing.
std::string ParsedDrive();

/// The file-name part of the last path given to ParsePath, or empty. A copy.
std::string ParsedFile();

} // namespace vorse
