// The command line of vorsescan: its options and their parsing.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorse {

/// What the command line asks for.
struct CliOptions {
  /// The directories and files to scan; with --restore, the original paths to put back.
  std::vector<std::string> roots;
  std::optional<std::string> quarantine;
  /// --restore: the quarantine folder whose manifest says what to put back.
  std::optional<std::string> restore;
  bool json = false;
  bool jsonLines = false;
  /// Paths on standard output end with a NUL instead of a line feed, exactly as their bytes.
  bool print0 = false;
  bool quiet = false;
  bool remove = false;
  bool help = false;
  bool version = false;
};

/// Parses the arguments after the program name into \p Options. Returns the message to show
/// when they are not valid, or nothing.
std::optional<std::string> ParseCliOptions(std::span<const std::string> Args, CliOptions &Options);

/// The text of --help.
std::string_view UsageText();

} // namespace vorse
