// QuarantineStore: verified copies of infected files, with a manifest to put them back by.
#include "cli/quarantine_store.h"

#include "app/manifest.h"
#include "app/quarantine_name.h"
#include "cli/path_quoting.h"
#include "cli/scan_session.h"

#include <memory>

namespace vorse {

QuarantineStore::QuarantineStore(CliOs &Os, std::string Folder)
    : os_(Os), folder_(std::move(Folder)) {}

std::string QuarantineStore::ManifestPath() const {
  return os_.NativePath(os_.SearchForm(folder_) + "\\" + kManifestName);
}

std::optional<std::string> QuarantineStore::Prepare() {
  if (const std::error_code error = os_.CreateDirectories(folder_))
    return "cannot create quarantine folder " + QuotePath(folder_) + ": " + ErrorText(error);
  folderId_ = os_.IdentifyDirectory(os_.SearchForm(folder_));
  return std::nullopt;
}

std::optional<std::string> QuarantineStore::Keep(FoundFile &Found, const std::string &Path,
                                                 KeptCopy &Kept) {
  // A copy found again inside the folder is its own quarantine copy: verifying it against
  // itself proves nothing, and removing it would lose the only copy.
  if (folderId_ && Found.FolderId() == folderId_) {
    Kept.alreadyQuarantined = true;
    return std::nullopt;
  }
  // Joined and split in the search's form, where a "\\" that a POSIX name holds is no
  // separator: the copy takes the whole name, in the folder itself.
  const std::string name = os_.SearchForm(Found.Name());
  // Only a regular file of its own with the same bytes may stand for a copy: a link, even one
  // to an identical file, or a hard link to the original itself is passed over.
  QuarantineSlot slot = QuarantineSlot::Free;
  const std::string chosen =
      QuarantineTarget(os_.SearchForm(folder_), name, [&](const std::string &Candidate) {
        const std::string native = os_.NativePath(Candidate);
        if (!os_.Exists(native))
          return slot = QuarantineSlot::Free;
        Comparison comparison = Comparison::Different;
        FileDigest unused;
        // A candidate that cannot be compared is taken as holding something else.
        const std::error_code error = CompareFiles(os_, Found, native, comparison, unused);
        return slot = !error && comparison == Comparison::Same ? QuarantineSlot::SameContents
                                                               : QuarantineSlot::OtherContents;
      });
  const std::string target = os_.NativePath(chosen);
  // A free name is taken only by a file created there now; should anything appear there
  // meanwhile, this copy fails.
  if (slot == QuarantineSlot::Free) {
    if (const std::error_code error = os_.CopyFoundToNewFile(Found, target))
      return "cannot copy to " + QuotePath(target) + ": " + ErrorText(error);
  }
  Comparison comparison = Comparison::Different;
  if (const std::error_code error = CompareFiles(os_, Found, target, comparison, Kept.digest))
    return "cannot verify the copy " + QuotePath(target) + ": " + ErrorText(error);
  if (comparison == Comparison::SameFile)
    return "the copy " + QuotePath(target) + " is the original itself";
  if (comparison != Comparison::Same)
    return "the copy " + QuotePath(target) + " differs from the original";
  Kept.path = target;
  Kept.name = os_.NativePath(chosen.substr(chosen.rfind('\\') + 1));
  return RecordCopy(Path, Kept, {});
}

std::optional<std::string> QuarantineStore::RecordCopy(const std::string &Path,
                                                       const KeptCopy &Kept,
                                                       const std::string &Registered) {
  // The path as found may be relative to where the scan ran; a restore may run elsewhere.
  return AppendRecord({ManifestTime(os_.WallClock()), os_.AbsolutePath(Path), Kept.name,
                       Kept.digest, false, Registered});
}

std::optional<std::string> QuarantineStore::AppendRecord(const ManifestRecord &Record) {
  const std::string manifest = ManifestPath();
  std::unique_ptr<AppendFile> file;
  std::uint64_t length = 0;
  bool created = false;
  if (const std::error_code error = os_.OpenAppendFile(manifest, file, length, created))
    return "cannot open " + QuotePath(manifest) + ": " + ErrorText(error);
  std::error_code undo;
  const std::error_code error = AppendManifestRecord(*file, length, Record, undo);
  if (!error)
    return std::nullopt;
  std::string message = "cannot write " + QuotePath(manifest) + ": " + ErrorText(error);
  if (undo)
    return message + "; cutting it back failed too: " + ErrorText(undo);
  file.reset();
  RemoveOutcome unused = RemoveOutcome::Removed;
  if (created && os_.RemoveFile(manifest, unused))
    message += "; it is left empty";
  return message;
}

} // namespace vorse
