// The quarantine step: a copy of an infected file in !VorseFix on its drive, and the deletion
// of the file itself at the next start of Windows.
#pragma once

#include "app/app_os.h"
#include "app/manifest.h"
#include "sysutil/sysutil_os.h"

#include <optional>
#include <string>
#include <string_view>

namespace vorse {

/// \p Text without its leading and trailing spaces (only spaces: tabs and the like stay).
std::string Trim(std::string_view Text);

/// The short (8.3) form of \p strFileName, or the empty string when the platform gives none.
/// A short form too long for the first 165 characters of room is asked for once more, with the
/// room the platform reports it needs, and comes back whole.
std::string ShortPath(AppOs &Os, const std::string &strFileName);

/// The size and SHA-256 of the file at \p A when \p B can be read as well and holds the same
/// bytes; nothing otherwise. Reads both in chunks, so files of any size are compared without
/// being held whole.
std::optional<FileDigest> DigestIfEqual(AppOs &Os, const std::string &A, const std::string &B);

/// True when the files at \p A and \p B can both be read and hold the same bytes.
bool FilesEqual(AppOs &Os, const std::string &A, const std::string &B);

/// The infected file of the row under examination, as the run hands it over.
struct InfectedFile {
  /// The row's text as the list holds it, spaces included.
  std::string RowText;
  /// The drive part and the bare file name of RowText, as ParsePath split it.
  std::string Drive;
  std::string FileName;
};

/// What became of one infected file.
struct QuarantineOutcome {
  /// Whether its deletion at the next start of Windows was registered.
  bool Scheduled = false;
  /// A message for the user, naming the file, when it was left in place or something could
  /// not be done; nothing when all went well.
  std::optional<std::string> Problem;
};

/// Copies \p File into Drive\!VorseFix and schedules its deletion at the next start of Windows
/// in the way of the family OS_Detect reports (asked anew for each family): the delayed-move
/// facility on the NT family, a "NUL=" line in WinDir\wininit.ini on the 9x family, nothing on
/// any other. An earlier copy is never overwritten: a copy with the same bytes is reused, one
/// with other bytes keeps its name and the new copy is numbered, and so does a name that turns
/// out to be taken when the copy is made. A file whose copy fails is left in place and not
/// scheduled. Before anything is scheduled, the copy is checked against the file and recorded
/// in !VorseFix\manifest.tsv (its real location, the copy's name, size and SHA-256, and the
/// path as registered); a file whose record cannot be written is not scheduled. What is
/// scheduled is the file's real location, cleared of its read-only bit.
/// On the NT family !VorseFix is one that only administrators own and may change (made for
/// Administrators and SYSTEM alone, or found so: no copy goes into any other), and a file whose
/// path a folder that others may change could redirect before the restart is first moved, by its
/// handle, into !VorseFix\Deleted at restart, and scheduled there; a file that can do neither is
/// left in place. Throws RuntimeError when wininit.ini cannot be written.
QuarantineOutcome QuarantineFile(AppOs &App, SysutilOs &Sys, const std::string &WinDir,
                                 const InfectedFile &File);

} // namespace vorse
