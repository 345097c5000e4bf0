// QuarantineStore: verified copies of infected files, with a manifest to put them back by.
#include "cli/quarantine_store.h"

#include "app/quarantine_name.h"
#include "cli/manifest.h"
#include "cli/scan_session.h"
#include "cli/stdio_file.h"
#include "sysutil/parse_path.h"

#include <cstdio>

namespace vorse {
namespace {

/// The directory part of \p Path, up to its last separator; "." when it has none.
std::string ParentOf(const std::string &Path) {
  const std::size_t separator = Path.find_last_of("\\/");
  return separator == std::string::npos ? "." : Path.substr(0, separator + 1);
}

} // namespace

std::string ManifestField(const std::string &Text) {
  std::string field;
  for (const char c : Text) {
    switch (c) {
    case '%':
      field += "%25";
      break;
    case '\t':
      field += "%09";
      break;
    case '\r':
      field += "%0D";
      break;
    case '\n':
      field += "%0A";
      break;
    default:
      field += c;
    }
  }
  return field;
}

QuarantineStore::QuarantineStore(CliOs &Os, std::string Folder)
    : os_(Os), folder_(std::move(Folder)) {}

std::string QuarantineStore::ManifestPath() const {
  return os_.NativePath(folder_ + "\\manifest.tsv");
}

std::optional<std::string> QuarantineStore::Prepare() {
  if (const std::error_code error = os_.CreateDirectories(folder_))
    return "cannot create quarantine folder " + folder_ + ": " + ErrorText(error);
  folderId_ = os_.IdentifyDirectory(folder_);
  return std::nullopt;
}

std::optional<std::string> QuarantineStore::Keep(const std::string &Path, KeptCopy &Kept) {
  // A copy found again inside the folder is its own quarantine copy: verifying it against
  // itself proves nothing, and removing it would lose the only copy.
  if (folderId_ && os_.IdentifyDirectory(ParentOf(Path)) == folderId_) {
    Kept.alreadyQuarantined = true;
    return std::nullopt;
  }
  ParsePath(Path);
  const std::string name = ParsedFile();
  const std::string target =
      os_.NativePath(QuarantineTarget(folder_, name, [&](const std::string &Candidate) {
        const std::string native = os_.NativePath(Candidate);
        if (!os_.Exists(native))
          return QuarantineSlot::Free;
        bool same = false;
        FileDigest unused;
        // A candidate that cannot be compared is taken as holding something else.
        const std::error_code error = CompareFiles(Path, native, same, unused);
        return !error && same ? QuarantineSlot::SameContents : QuarantineSlot::OtherContents;
      }));
  if (!os_.Exists(target)) {
    if (const std::error_code error = os_.CopyToNewFile(Path, target))
      return "cannot copy to " + target + ": " + ErrorText(error);
  }
  bool same = false;
  if (const std::error_code error = CompareFiles(Path, target, same, Kept.digest))
    return "cannot verify the copy " + target + ": " + ErrorText(error);
  if (!same)
    return "the copy " + target + " differs from the original";
  Kept.path = target;
  Kept.name = target.substr(target.find_last_of("\\/") + 1);
  // The path as found may be relative to where the scan ran; a restore may run elsewhere.
  return AppendRecord(
      {ManifestTime(os_.WallClock()), os_.AbsolutePath(Path), Kept.name, Kept.digest, false});
}

std::optional<std::string> QuarantineStore::AppendRecord(const ManifestRecord &Record) {
  const std::string manifest = ManifestPath();
  const bool created = !os_.Exists(manifest);
  errno = 0;
  StdioFile file(std::fopen(manifest.c_str(), "ab"));
  if (!file)
    return "cannot open " + manifest + ": " + ErrorText(StreamError());
  std::string lines = created ? std::string(kManifestHeader) : "";
  lines += ManifestLine(Record);
  if (std::fwrite(lines.data(), 1, lines.size(), file.get()) != lines.size() ||
      std::fclose(file.release()) != 0)
    return "cannot write " + manifest + ": " + ErrorText(StreamError());
  return std::nullopt;
}

} // namespace vorse
