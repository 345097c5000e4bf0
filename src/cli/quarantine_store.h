// QuarantineStore: verified copies of infected files, with a manifest to put them back by.
#pragma once

#include "cli/cli_os.h"
#include "cli/file_digest.h"

#include <string>

namespace vorse {

struct ManifestRecord;

/// The manifest's name in its quarantine folder.
inline constexpr char kManifestName[] = "manifest.tsv";

/// One file kept: where its copy is and what it holds.
struct KeptCopy {
  /// The copy's full path, in the system's own form.
  std::string path;
  /// Its name within the folder.
  std::string name;
  FileDigest digest;
  /// The file lies in the quarantine folder itself: it is a copy, not an original, and was
  /// left as it is (nothing else is set).
  bool alreadyQuarantined = false;
};

/// The folder given to --quarantine. Copies take the window's quarantine naming rule, so no
/// copy ever overwrites another file; every copy is checked byte for byte against its original
/// and recorded in manifest.tsv before anyone may remove the original.
class QuarantineStore {
public:
  QuarantineStore(CliOs &Os, std::string Folder);

  /// Creates the folder when it is missing. Returns the message to show when it cannot.
  std::optional<std::string> Prepare();

  /// Copies \p Found, the file the scan found at \p Path, into the folder (or finds an identical
  /// copy there already), verifies the copy and appends its manifest line; a file of the folder
  /// itself is left alone. Returns the message to show when any step fails: then the original
  /// must stay where it is.
  std::optional<std::string> Keep(FoundFile &Found, const std::string &Path, KeptCopy &Kept);

  /// Appends the record of \p Kept, the copy of the file the scan found at \p Path, whose
  /// deletion at the next start is to be registered as \p Registered (empty for none). Returns
  /// the message to show when it cannot.
  std::optional<std::string> RecordCopy(const std::string &Path, const KeptCopy &Kept,
                                        const std::string &Registered);

  /// Appends \p Record to the manifest, which starts with its header line when it is new.
  /// Returns the message to show when it cannot.
  std::optional<std::string> AppendRecord(const ManifestRecord &Record);

  /// The manifest's full path.
  std::string ManifestPath() const;

private:
  CliOs &os_;
  std::string folder_;
  std::optional<DirectoryId> folderId_;
};

} // namespace vorse
