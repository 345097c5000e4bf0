// AppendFile: a file of records that grows only at its end, one whole record at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace vorse {

/// A file open for appending records, as OpenAppendFile gives it; closed when destroyed.
class AppendFile {
public:
  virtual ~AppendFile() = default;
  /// Writes \p Data at the end of the file in one call to the system and, when all of it got
  /// there, makes it durable. \p Written is how many bytes got there: fewer on a full disk.
  virtual std::error_code Append(std::string_view Data, std::size_t &Written) = 0;
  /// Cuts the file back to its first \p Length bytes.
  virtual std::error_code Truncate(std::uint64_t Length) = 0;
};

/// Opens \p Path (the system's own form) to append to, creating it when missing (\p Created
/// says so), but only a regular file, and never through a link (or a reparse point) at \p Path
/// itself. \p Length is its length when opened.
std::error_code OpenAppendFile(const std::string &Path, std::unique_ptr<AppendFile> &File,
                               std::uint64_t &Length, bool &Created);

} // namespace vorse
