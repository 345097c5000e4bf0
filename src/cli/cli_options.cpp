// The command line of vorsescan: its options and their parsing.
#include "cli/cli_options.h"

#include "cli/path_quoting.h"

namespace vorse {

std::string_view UsageText() {
  return "Usage: vorsescan [OPTIONS] [DIR...]\n"
         "Lists every *.exe below each DIR whose InternalName is Kern32 or wowex32 (case\n"
         "ignored), one full path a line on standard output. Without DIR, scans the Windows\n"
         "system directory (on Windows only). A path holding a control character is written\n"
         "$'...' with C escapes (\\n, \\x1b, \\\\, \\').\n"
         "\n"
         "Options:\n"
         "  --json             write one JSON document instead: roots, counts, each infected\n"
         "                     file with its size, SHA-256 and what was done, every error\n"
         "  -0, --print0       end each path with a NUL instead of a line feed, its bytes\n"
         "                     unescaped (for xargs -0)\n"
         "  --quarantine DIR   copy each infected file into DIR (created when missing), never\n"
         "                     overwriting another file, and record it in DIR/manifest.tsv\n"
         "  --remove           with --quarantine: delete each original once its copy is\n"
         "                     verified (on Windows, a file in use at the next restart)\n"
         "  -q, --quiet        no progress display and no summary on standard error\n"
         "  -h, --help         show this text\n"
         "  --version          show the version\n"
         "\n"
         "Exit status: 0 nothing found, 1 infected files found and handled as asked,\n"
         "2 an error (bad arguments, an unreadable DIR, a failed quarantine or removal, a\n"
         "report that could not be written) or nothing found where a file or directory\n"
         "could not be examined.\n";
}

std::optional<std::string> ParseCliOptions(std::span<const std::string> Args, CliOptions &Options) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string &arg = Args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      // Most likely an unset variable: scanning from the top of the file system instead
      // could remove files anywhere.
      if (arg.empty())
        return "an empty directory name is not a directory to scan";
      Options.roots.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--json") {
      Options.json = true;
    } else if (arg == "-q" || arg == "--quiet") {
      Options.quiet = true;
    } else if (arg == "--remove") {
      Options.remove = true;
    } else if (arg == "-0" || arg == "--print0") {
      Options.print0 = true;
    } else if (arg == "-h" || arg == "--help") {
      Options.help = true;
    } else if (arg == "--version") {
      Options.version = true;
    } else if (arg == "--quarantine" || arg.starts_with("--quarantine=")) {
      if (Options.quarantine)
        return "--quarantine given twice";
      if (arg == "--quarantine" && i + 1 == Args.size())
        return "--quarantine needs a directory";
      Options.quarantine = arg == "--quarantine" ? Args[++i] : arg.substr(13);
      if (Options.quarantine->empty())
        return "--quarantine needs a directory";
      // "--quarantine --remove DIR" forgot the folder; a folder of such a name is written
      // "--quarantine=--remove" or "./--remove".
      if (arg == "--quarantine" && Options.quarantine->front() == '-')
        return "--quarantine needs a directory, not the option " + QuotePath(*Options.quarantine) +
               " (write --quarantine=" + QuotePath(*Options.quarantine) +
               " for a folder of that name)";
    } else {
      return "unknown option " + QuotePath(arg);
    }
  }
  if (Options.print0 && Options.json)
    return "--print0 and --json cannot be combined";
  if (Options.remove && !Options.quarantine)
    return "--remove needs --quarantine DIR: originals are only removed once a copy is kept";
  return std::nullopt;
}

} // namespace vorse
