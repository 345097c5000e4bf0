// RunRestore: puts quarantined files back where they were found, as manifest.tsv recorded them.
#include "cli/restore.h"

#include "app/manifest.h"
#include "cli/event_log.h"
#include "cli/path_quoting.h"
#include "cli/quarantine_store.h"
#include "cli/run_cli.h"
#include "cli/scan_session.h"
#include "cli/stdio_file.h"

#include <algorithm>

namespace vorse {
namespace {

/// A manifest is a few lines per file kept; anything larger is not one.
constexpr std::size_t kLargestManifest = 256u << 20;

/// The whole manifest, opened as it stands: a link there is not followed.
std::error_code ReadManifest(CliOs &Os, const std::string &Path, std::string &Text) {
  StdioFile file;
  if (const std::error_code error = Os.OpenEntryToRead(Path, file))
    return error;
  char buffer[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
    Text.append(buffer, got);
    if (Text.size() > kLargestManifest)
      return std::make_error_code(std::errc::file_too_large);
    if (got < sizeof buffer)
      return std::ferror(file.get()) != 0 ? StreamError() : std::error_code();
  }
}

/// A name the folder itself holds, not a way out of it.
bool IsPlainName(const std::string &Name) {
  return Name != "." && Name != ".." && Name.find_first_of("/\\") == std::string::npos;
}

class Restorer {
public:
  Restorer(const CliOptions &Options, CliOs &Os, std::ostream &Out, std::ostream &Err,
           const Progress::Clock &Now)
      : options_(Options), os_(Os), out_(Out), err_(Err), now_(Now), start_(Now()),
        store_(Os, *Options.restore) {
    if (Options.jsonLines)
      events_.emplace([this](std::string_view Line) { out_ << Line << std::flush; }, Os);
  }

  int Run() {
    const std::string path = store_.ManifestPath();
    std::string text;
    if (const std::error_code error = ReadManifest(os_, path, text)) {
      Error(path, "cannot read: " + ErrorText(error));
      return Finish();
    }
    const std::optional<Manifest> manifest = ParseManifest(text);
    if (!manifest) {
      Error(path, "not a manifest of vorsescan: its header is missing");
      return Finish();
    }
    for (const std::size_t line : manifest->badLines)
      Error(path, "line " + std::to_string(line) + " is no record and is passed over");
    for (const ManifestRecord *record : Chosen(manifest->records))
      PutBack(*record);
    return Finish();
  }

private:
  /// The last copy kept of each original path, in the order the paths first appear; only the
  /// paths given, when some are.
  std::vector<const ManifestRecord *> Chosen(const std::vector<ManifestRecord> &Records) {
    std::vector<const ManifestRecord *> chosen;
    for (const ManifestRecord &record : Records) {
      if (record.restored)
        continue;
      const auto same = std::find_if(chosen.begin(), chosen.end(), [&](const ManifestRecord *c) {
        return os_.SamePath(c->originalPath, record.originalPath);
      });
      if (same != chosen.end())
        *same = &record;
      else
        chosen.push_back(&record);
    }
    if (options_.roots.empty())
      return chosen;
    std::vector<const ManifestRecord *> asked;
    for (const std::string &given : options_.roots) {
      const std::string absolute = os_.AbsolutePath(given);
      const auto found = std::find_if(chosen.begin(), chosen.end(), [&](const ManifestRecord *c) {
        return os_.SamePath(c->originalPath, absolute) || os_.SamePath(c->originalPath, given);
      });
      if (found == chosen.end())
        Error(given, "not recorded in " + QuotePath(store_.ManifestPath()));
      else
        asked.push_back(*found);
    }
    return asked;
  }

  void PutBack(const ManifestRecord &Record) {
    Restore restore;
    restore.path = Record.originalPath;
    if (!IsPlainName(Record.quarantineName))
      return Fail(restore, "its record names no file of the quarantine folder");
    restore.quarantinePath = os_.NativePath(*options_.restore + "\\" + Record.quarantineName);
    FileDigest copy;
    if (const std::error_code error = DigestFile(restore.quarantinePath, copy))
      return Fail(restore, "cannot read its copy " + QuotePath(restore.quarantinePath) + ": " +
                               ErrorText(error));
    if (copy.size != Record.digest.size || copy.sha256 != Record.digest.sha256)
      return Fail(restore, "its copy " + QuotePath(restore.quarantinePath) +
                               " no longer holds what was recorded (SHA-256 " + copy.sha256 + ")");
    restore.digest = copy;
    if (os_.Exists(restore.path)) {
      // Only a regular file of its own with the very bytes counts as already back; a link
      // there cannot even be opened to compare.
      if (!HoldsRecordedBytes(restore.quarantinePath, restore.path, Record.digest))
        return Fail(restore, "another file is there; it is not overwritten");
    } else if (const std::optional<std::string> error = WriteBack(restore, Record.digest)) {
      return Fail(restore, *error);
    }
    if (const std::error_code error =
            os_.CancelDeleteAtRestart(restore.path, restore.registrationWithdrawn))
      return Fail(restore, "put back, but still registered for deletion at the next restart: " +
                               ErrorText(error));
    ManifestRecord restored = Record;
    restored.time = ManifestTime(os_.WallClock());
    restored.restored = true;
    if (const std::optional<std::string> error = store_.AppendRecord(restored))
      return Fail(restore, "put back, but not recorded: " + *error);
    ++counts_.restored;
    Message(restore.path,
            "restored from " + QuotePath(restore.quarantinePath) +
                (restore.registrationWithdrawn ? "; its deletion at the next restart is withdrawn"
                                               : ""));
    if (events_)
      events_->OnRestore(restore);
    else
      out_ << (options_.print0 ? restore.path + '\0' : QuotePath(restore.path) + '\n')
           << std::flush;
  }

  /// True when \p Path, opened as it stands, has the bytes of \p Copy and they are still the
  /// recorded ones (the copy might have changed since it was checked).
  bool HoldsRecordedBytes(const std::string &Copy, const std::string &Path,
                          const FileDigest &Recorded) {
    Comparison comparison = Comparison::Different;
    FileDigest digest;
    return !CompareFiles(os_, Copy, Path, comparison, digest) && comparison == Comparison::Same &&
           digest.size == Recorded.size && digest.sha256 == Recorded.sha256;
  }

  /// Copies the quarantined file to its original path, which must not exist, and checks the
  /// result; a file that does not hold the recorded bytes is taken away again.
  std::optional<std::string> WriteBack(const Restore &Item, const FileDigest &Recorded) {
    if (const std::error_code error = os_.CopyToNewFile(Item.quarantinePath, Item.path))
      return "cannot write it back: " + ErrorText(error);
    if (HoldsRecordedBytes(Item.quarantinePath, Item.path, Recorded))
      return std::nullopt;
    RemoveOutcome outcome = RemoveOutcome::Removed;
    os_.RemoveFile(Item.path, outcome);
    return "it could not be written back whole";
  }

  void Fail(Restore &Item, const std::string &Reason) {
    Item.error = Reason;
    Error(Item.path, Reason);
    if (events_)
      events_->OnRestore(Item);
  }

  void Message(const std::string &Path, const std::string &Text) {
    err_ << "vorsescan: " << QuotePath(Path) << ": " << Text << '\n' << std::flush;
  }

  void Error(const std::string &Path, const std::string &Text) {
    ++counts_.errors;
    Message(Path, Text);
  }

  int Finish() {
    // The list of what was put back is what the run was for.
    if (!out_)
      Error("standard output", "cannot be written");
    const int status = counts_.errors > 0 ? kExitError : kExitClean;
    if (events_)
      events_->OnSummary(counts_, status,
                         std::chrono::duration_cast<std::chrono::nanoseconds>(now_() - start_));
    if (!options_.quiet)
      err_ << "vorsescan: " << Counted(counts_.restored, "file", "files") << " restored, "
           << Counted(counts_.errors, "error", "errors") << '\n';
    return status;
  }

  const CliOptions &options_;
  CliOs &os_;
  std::ostream &out_;
  std::ostream &err_;
  const Progress::Clock &now_;
  std::chrono::steady_clock::time_point start_;
  QuarantineStore store_;
  std::optional<EventLog> events_;
  ScanCounts counts_;
};

} // namespace

int RunRestore(const CliOptions &Options, CliOs &Os, std::ostream &Out, std::ostream &Err,
               const Progress::Clock &Now) {
  return Restorer(Options, Os, Out, Err, Now).Run();
}

} // namespace vorse
