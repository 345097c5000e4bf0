// The platform operations of the command-line scanner that the scan seam does not offer.
#pragma once

#include "cli/held_folder.h"
#include "cli/stdio_file.h"
#include "scan/found_file.h"
#include "sysutil/append_file.h"
#include "sysutil/file_location.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace vorse {

/// What makes a file itself, whatever path leads to it: the same pair as for a directory.
using FileId = DirectoryId;

/// How a file was removed: at once, or registered for deletion at the next start of Windows.
enum class RemoveOutcome { Removed, ScheduledAtRestart };

/// The seam of vorsescan. Paths are narrow text in the system's own form (NativePath) unless
/// a method says otherwise: UTF-8 where ProgramArguments turned the wide calls on, else the code
/// page; errors come back as error_code values naming the system's reason.
class CliOs {
public:
  virtual ~CliOs() = default;
  /// A path as the search writes it ("dir\sub\a.exe") in this system's own form.
  virtual std::string NativePath(const std::string &SearchPath) = 0;
  /// A path in this system's own form as the search writes it: NativePath undone.
  virtual std::string SearchForm(const std::string &NativePath) = 0;
  /// The most characters a full path may have for the system's calls to reach it (Windows'
  /// MAX_PATH less its NUL); 0 where depth sets no limit.
  virtual std::size_t PathLimit() = 0;
  /// The roots to scan when none is given: the system directory, and on 64-bit Windows the
  /// 32-bit one too; none where there is no Windows.
  virtual std::vector<std::string> DefaultRoots() = 0;
  virtual bool StderrIsTerminal() = 0;
  /// False when standard output is closed: a file the scanner opens could take its place and
  /// receive the report.
  virtual bool StdoutIsOpen() = 0;
  /// True when \p Error, the reason a directory search could not start, only means that
  /// nothing is there to list (no such entry, no match, not a directory).
  virtual bool MeansNothingThere(std::error_code Error) = 0;
  /// True when \p Error, why a directory search's next step gave no entry, means that the
  /// listing reached its end (see scan/scan_errors.h).
  virtual bool MeansNoMoreFiles(std::error_code Error) = 0;
  /// True when the calls that examine entries cannot open \p Name, a listed name, as itself
  /// (see scan/narrow_names.h); never on POSIX systems.
  virtual bool NarrowCallsRewrite(std::string_view Name) = 0;
  /// True when \p Error, the reason the version size query gave 0, means the file was read
  /// and holds no version resource (as opposed to a file that could not be read).
  virtual bool MeansNoVersionResource(std::error_code Error) = 0;
  /// The identity of the directory that \p Path (search form) leads to, links followed.
  virtual std::optional<DirectoryId> IdentifyDirectory(const std::string &SearchPath) = 0;
  virtual bool Exists(const std::string &Path) = 0;
  /// Creates \p Path and every parent it lacks; an existing directory is no error.
  virtual std::error_code CreateDirectories(const std::string &Path) = 0;
  /// Copies \p Source (a regular file) to \p Target, which must not exist yet, not even as a
  /// link: nothing is ever overwritten, and nothing is written through a link.
  virtual std::error_code CopyToNewFile(const std::string &Source, const std::string &Target) = 0;
  /// CopyToNewFile from the file the scan found and holds as \p Source.
  virtual std::error_code CopyFoundToNewFile(FoundFile &Source, const std::string &Target) = 0;
  /// Opens \p Path for reading, but only a regular file, and never through a link (or a
  /// reparse point) at \p Path itself: what stands in the quarantine folder is taken as it is.
  virtual std::error_code OpenEntryToRead(const std::string &Path, StdioFile &File) = 0;
  /// Which file \p File is open on.
  virtual std::optional<FileId> IdentifyFile(std::FILE *File) = 0;
  /// Opens \p Path to append to, creating it when missing (\p Created says so), but only a
  /// regular file, and never through a link at \p Path. \p Length is its length when opened.
  virtual std::error_code OpenAppendFile(const std::string &Path, std::unique_ptr<AppendFile> &File,
                                         std::uint64_t &Length, bool &Created) = 0;
  /// Removes \p Path at once where the system allows it; on Windows a file in use is
  /// registered for deletion at the next start instead (\p Outcome says which).
  virtual std::error_code RemoveFile(const std::string &Path, RemoveOutcome &Outcome) = 0;
  /// Removes the file the scan found at \p Path and holds as \p File, through what it holds
  /// (FoundFile::Remove). On Windows a file in use cannot go at once: while \p Path still leads
  /// to that very file and nobody else could redirect it, \p Registered is then the path to
  /// register for its deletion at the next start (DeleteAtRestart), left to the caller so that
  /// it is recorded first. \p Registered stays empty when the file is gone.
  virtual std::error_code RemoveFound(FoundFile &File, const std::string &Path,
                                      std::string &Registered) = 0;
  /// Registers \p Registered, as RemoveFound gave it, for deletion at the next start of Windows.
  virtual std::error_code DeleteAtRestart(const std::string &Registered) = 0;
  /// \p Path made absolute against the working directory, without resolving links.
  virtual std::string AbsolutePath(const std::string &Path) = 0;
  /// True when \p A and \p B name the same path as this system compares names (case ignored
  /// on Windows).
  virtual bool SamePath(const std::string &A, const std::string &B) = 0;
  /// Withdraws a pending delete-at-restart registration of the file at \p Path (absolute),
  /// registered as \p Registered (empty when not known) or by another name of that file,
  /// leaving every other registration as it was; \p Withdrawn tells whether there was one.
  /// Systems without such registrations have nothing to withdraw.
  virtual std::error_code CancelDeleteAtRestart(const std::string &Path,
                                                const std::string &Registered, bool &Withdrawn) = 0;
  /// Opens the quarantine folder \p Path to restore from, but only one that root (on Windows
  /// Administrators or SYSTEM) or the invoking user owns and nobody else may change.
  virtual std::error_code OpenQuarantineFolder(const std::string &Path,
                                               std::unique_ptr<HeldFolder> &Folder) = 0;
  /// Opens the folder that holds \p Path (absolute) to put a file back in; \p Name is the
  /// entry's name in it. Every link on the way must have been placed by root or the invoking
  /// user in a folder that only they may change (on Windows: no reparse point that another
  /// user could have made or changed), else nothing is opened.
  virtual std::error_code OpenFolderOf(const std::string &Path, std::unique_ptr<HeldFolder> &Folder,
                                       std::string &Name) = 0;
  /// The time of day, for the times that reports carry.
  virtual std::chrono::system_clock::time_point WallClock() = 0;
  /// This machine's name, as reports name the host.
  virtual std::string HostName() = 0;
  /// \p Text (narrow, the system's code page) as UTF-8; unchanged where it cannot be converted
  /// or already is UTF-8 (POSIX names are taken as UTF-8 bytes).
  virtual std::string ToUtf8(const std::string &Text) = 0;
};

/// The body for the build's target OS.
CliOs &PlatformCliOs();

/// The program's arguments after its name, as the scanner takes them. On the NT family they are
/// read wide and given as UTF-8, and every path from here on reaches the system through its wide
/// calls (win32::UseWidePaths); elsewhere they are argv's own bytes.
std::vector<std::string> ProgramArguments(int Argc, char **Argv);

/// Writes \p Text to \p File as the console behind it needs, where it is a console that takes
/// UTF-8 text only through the wide calls; false, with nothing written, where \p File is no
/// such console (a file, a pipe, or any stream on POSIX) and takes the bytes as they are.
bool WriteToConsole(std::FILE *File, std::string_view Text);

} // namespace vorse
