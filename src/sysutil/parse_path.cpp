// ParsePath: the drive and file-name split, kept in module state between a call and its readers.
#include "parse_path.h"

namespace vorse {
namespace {

// Every call overwrites all three; callers read the accessors right after their own call.
struct ParsedState {
  std::string WorkingCopy;
  std::string Drive;
  std::string File;
};

ParsedState &State() {
  static ParsedState state;
  return state;
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

} // namespace

void ParsePath(std::string_view Path) {
  ParsedState &state = State();
  state.WorkingCopy.assign(Path);
  state.Drive.clear();
  state.File.clear();
  const std::string &path = state.WorkingCopy;

  // The drive runs to the first colon wherever it stands, for file and directory paths alike.
  if (const std::size_t colon = path.find(':'); colon != std::string::npos)
    state.Drive = path.substr(0, colon + 1);

  // A directory path ends in a separator or has no dot anywhere (drive and directory names
  // included); the empty path is one too.
  const bool isDirectory =
      path.empty() || IsSeparator(path.back()) || path.find('.') == std::string::npos;
  if (isDirectory)
    return;

  // The file name is everything after the last separator; a colon does not end it.
  const std::size_t separator = path.find_last_of("\\/");
  state.File = separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string ParsedDrive() {
  return State().Drive;
}

std::string ParsedFile() {
  return State().File;
}

} // namespace vorse
