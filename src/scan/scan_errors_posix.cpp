// The reasons of failed searches and version queries, as errno values of our POSIX bodies.
#include "scan/scan_errors.h"

namespace vorse {

bool MeansNothingThere(std::error_code Error) {
  return Error == std::errc::no_such_file_or_directory || Error == std::errc::not_a_directory;
}

bool MeansNoMoreFiles(std::error_code Error) {
  // The search's stand-in for Windows' "no more files" (scan_os_posix.cpp).
  return Error == std::errc::no_such_file_or_directory;
}

bool MeansNoVersionResource(std::error_code Error) {
  // ENODATA: read, but no version resource; EISDIR: a directory named like a match.
  return Error == std::errc::no_message_available || Error == std::errc::is_a_directory;
}

} // namespace vorse
