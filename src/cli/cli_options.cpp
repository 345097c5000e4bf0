// The command line of vorsescan: its options and their parsing.
#include "cli/cli_options.h"

#include "cli/path_quoting.h"

namespace vorse {

std::string_view UsageText() {
  return "Usage: vorsescan [OPTIONS] [DIR|FILE...]\n"
         "       vorsescan --restore DIR [PATH...]\n"
         "Lists every *.exe below each DIR, and each FILE whatever its name, whose InternalName\n"
         "is Kern32 or wowex32 (case ignored), one full path a line on standard output.\n"
         "Without DIR, scans the Windows system directory (on Windows only). A path holding a\n"
         "control character is written $'...' with C escapes (\\n, \\x1b, \\\\, \\').\n"
         "\n"
         "Options:\n"
         "  --json             write one JSON document instead: roots, counts, each infected\n"
         "                     file with its size, SHA-256 and what was done, every error\n"
         "  --json-lines       write one JSON event a line as things happen instead: each\n"
         "                     infected file, each error, and a summary at the end\n"
         "  -0, --print0       end each path with a NUL instead of a line feed, its bytes\n"
         "                     unescaped (for xargs -0)\n"
         "  --quarantine DIR   copy each infected file into DIR (created when missing), never\n"
         "                     overwriting another file, and record it in DIR/manifest.tsv\n"
         "  --remove           with --quarantine: delete each original once its copy is\n"
         "                     verified (on Windows, a file in use at the next restart)\n"
         "  --restore DIR      put back every file recorded in DIR/manifest.tsv (or only those\n"
         "                     whose original PATH is given), never over another file\n"
         "  -q, --quiet        no progress display and no summary on standard error\n"
         "  -h, --help         show this text (on Windows also /?)\n"
         "  -V, --version      show the version\n"
         "\n"
         "Exit status: 0 nothing found, 1 infected files found and handled as asked,\n"
         "2 an error (bad arguments, an unreadable DIR, a failed quarantine, removal or\n"
         "restore, a report that could not be written) or nothing found where a file or\n"
         "directory could not be examined.\n";
}

namespace {

/// Takes the value of an option that needs a directory, given as "--name DIR" or
/// "--name=DIR". Returns the message to show when it cannot.
std::optional<std::string> TakeDirectory(std::span<const std::string> Args, std::size_t &I,
                                         const std::string &Name,
                                         std::optional<std::string> &Value) {
  const std::string &arg = Args[I];
  if (Value)
    return Name + " given twice";
  if (arg == Name && I + 1 == Args.size())
    return Name + " needs a directory";
  Value = arg == Name ? Args[++I] : arg.substr(Name.size() + 1);
  if (Value->empty())
    return Name + " needs a directory";
  // "--quarantine --remove DIR" forgot the folder; a folder of such a name is written
  // "--quarantine=--remove" or "./--remove".
  if (arg == Name && Value->front() == '-')
    return Name + " needs a directory, not the option " + QuotePath(*Value) + " (write " + Name +
           "=" + QuotePath(*Value) + " for a folder of that name)";
  return std::nullopt;
}

bool IsOptionWithValue(const std::string &Arg, const std::string &Name) {
  return Arg == Name || Arg.starts_with(Name + "=");
}

/// Where help is asked for with "/?" as well.
#ifdef _WIN32
constexpr bool kSlashHelp = true;
#else
constexpr bool kSlashHelp = false;
#endif

} // namespace

std::optional<std::string> ParseCliOptions(std::span<const std::string> Args, CliOptions &Options) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string &arg = Args[i];
    if (!optionsEnded && kSlashHelp && arg == "/?") {
      Options.help = true;
    } else if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      // Most likely an unset variable: scanning from the top of the file system instead
      // could remove files anywhere.
      if (arg.empty())
        return "an empty directory name is not a directory to scan";
      Options.roots.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--json") {
      Options.json = true;
    } else if (arg == "--json-lines") {
      Options.jsonLines = true;
    } else if (arg == "-q" || arg == "--quiet") {
      Options.quiet = true;
    } else if (arg == "--remove") {
      Options.remove = true;
    } else if (arg == "-0" || arg == "--print0") {
      Options.print0 = true;
    } else if (arg == "-h" || arg == "--help") {
      Options.help = true;
    } else if (arg == "-V" || arg == "--version") {
      Options.version = true;
    } else if (IsOptionWithValue(arg, "--quarantine")) {
      if (std::optional<std::string> error =
              TakeDirectory(Args, i, "--quarantine", Options.quarantine))
        return error;
    } else if (IsOptionWithValue(arg, "--restore")) {
      if (std::optional<std::string> error = TakeDirectory(Args, i, "--restore", Options.restore))
        return error;
    } else {
      return "unknown option " + QuotePath(arg);
    }
  }
  if (Options.json && Options.jsonLines)
    return "--json and --json-lines: choose one";
  if (Options.print0 && (Options.json || Options.jsonLines))
    return "--print0 and --json or --json-lines cannot be combined";
  if (Options.restore && (Options.quarantine || Options.remove || Options.json))
    return "--restore puts files back: it takes neither --quarantine, --remove nor --json";
  if (Options.remove && !Options.quarantine)
    return "--remove needs --quarantine DIR: originals are only removed once a copy is kept";
  return std::nullopt;
}

} // namespace vorse
