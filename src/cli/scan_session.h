// ScanRoot: the window's search and detection over one root, reporting each event as it comes.
#pragma once

#include "cli/cli_os.h"
#include "scan/scan_os.h"

#include <string>

namespace vorse {

/// What a scan reports, as it happens. Paths are in the system's own form.
class ScanListener {
public:
  virtual ~ScanListener() = default;
  /// A directory's search begins.
  virtual void OnDirectory(const std::string &Dir) = 0;
  /// A matching entry is about to be examined. \p Row is the path as the search wrote it, not
  /// in the system's own form: making that form costs every row, and most listeners only count.
  virtual void OnFileExamined(const std::string &Row) = 0;
  /// \p Path carries one of the two signatures; \p InternalName is the value as read. \p Found
  /// is the file examined, held for acting on it, and still carrying the signature when read
  /// through what holds it; null where it could not be held, for the reason \p NotHeld.
  virtual void OnInfected(const std::string &Path, const std::u16string &InternalName,
                          FoundFile *Found, std::error_code NotHeld) = 0;
  /// A directory or file could not be examined; the scan goes on.
  virtual void OnProblem(const std::string &Path, const std::string &Reason) = 0;
  /// \p Dir is not searched: it leads back to \p Ancestor, whose search is under way. Nothing
  /// is missed for it.
  virtual void OnLoop(const std::string &Dir, const std::string &Ancestor) = 0;
};

/// Searches \p Root for "*.exe" with FindFilesAPI, in its order, and examines every row with
/// GetFileVersionData as it is found; nothing but the current directory's search is held.
/// Unlike the window, it tells what it cannot read: an unreadable directory or file, a
/// directory that leads back to one of its own ancestors (which is not entered again). A
/// \p Root that is a file is examined itself, whatever its name.
/// Returns false when the root itself cannot be searched (reported through OnProblem).
bool ScanRoot(ScanOs &Scan, CliOs &Cli, const std::string &Root, ScanListener &Listener);

/// The text of \p Error for a message: the system's wording without a trailing line break.
std::string ErrorText(std::error_code Error);

} // namespace vorse
