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
#include <cstdio>
#include <memory>

namespace vorse {
namespace {

/// A manifest is a few lines per file kept; anything larger is not one.
constexpr std::size_t kLargestManifest = 256u << 20;

/// The whole manifest of \p Folder, opened as it stands: a link there is not followed.
std::error_code ReadManifest(HeldFolder &Folder, std::string &Text) {
  StdioFile file;
  if (const std::error_code error = Folder.OpenEntry(kManifestName, file))
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
    // Only a folder and a manifest that nobody but root and this user could have written say
    // what is put back where.
    if (const std::error_code error = os_.OpenQuarantineFolder(*options_.restore, folder_)) {
      Error(*options_.restore, "not restored from: " + ErrorText(error));
      return Finish();
    }
    const std::string path = store_.ManifestPath();
    std::string text;
    if (const std::error_code error = ReadManifest(*folder_, text)) {
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
    StdioFile copy;
    FileDigest digest;
    std::error_code error = folder_->OpenEntry(Record.quarantineName, copy);
    if (!error)
      error = DigestStream(copy.get(), digest);
    if (error)
      return Fail(restore, "cannot read its copy " + QuotePath(restore.quarantinePath) + ": " +
                               ErrorText(error));
    if (!Matches(digest, Record.digest))
      return Fail(restore, "its copy " + QuotePath(restore.quarantinePath) +
                               " no longer holds what was recorded (SHA-256 " + digest.sha256 +
                               ")");
    restore.digest = digest;
    std::unique_ptr<HeldFolder> target;
    std::string name;
    if (const std::error_code refused = os_.OpenFolderOf(restore.path, target, name))
      return Fail(restore, "not put back, its folder is not reached safely: " + ErrorText(refused));
    std::unique_ptr<NewFile> made;
    bool existed = false;
    if (const std::error_code failed = target->CreateEntry(name, made, existed); existed) {
      // Only a trusted regular file of its own with the very bytes counts as already back; a
      // link there cannot even be opened to compare.
      if (!HoldsRecordedBytes(*target, name, Record.digest))
        return Fail(restore, "another file is there; it is not overwritten");
    } else if (failed) {
      return Fail(restore, "cannot write it back: " + ErrorText(failed));
    } else if (const std::optional<std::string> problem =
                   WriteBack(*made, copy.get(), Record.digest)) {
      return Fail(restore, *problem);
    }
    if (const std::error_code failed = os_.CancelDeleteAtRestart(
            restore.path, Record.registeredPath, restore.registrationWithdrawn))
      return Fail(restore, "put back, but still registered for deletion at the next restart: " +
                               ErrorText(failed));
    ManifestRecord restored = Record;
    restored.time = ManifestTime(os_.WallClock());
    restored.restored = true;
    if (const std::optional<std::string> problem = store_.AppendRecord(restored))
      return Fail(restore, "put back, but not recorded: " + *problem);
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

  static bool Matches(const FileDigest &Digest, const FileDigest &Recorded) {
    return Digest.size == Recorded.size && Digest.sha256 == Recorded.sha256;
  }

  /// True when the entry \p Name of \p Folder, opened as it stands, holds the recorded bytes.
  static bool HoldsRecordedBytes(HeldFolder &Folder, const std::string &Name,
                                 const FileDigest &Recorded) {
    StdioFile file;
    FileDigest digest;
    return !Folder.OpenEntry(Name, file) && !DigestStream(file.get(), digest) &&
           Matches(digest, Recorded);
  }

  /// Fills \p Made, just created, from the start of \p Copy and reads it back; a file that does
  /// not hold the recorded bytes is taken away again through its own handle.
  static std::optional<std::string> WriteBack(NewFile &Made, std::FILE *Copy,
                                              const FileDigest &Recorded) {
    StdioFile back;
    FileDigest digest;
    std::error_code error = std::fseek(Copy, 0, SEEK_SET) != 0 ? StreamError() : Made.Fill(Copy);
    if (!error)
      error = Made.ReadBack(back);
    if (!error)
      error = DigestStream(back.get(), digest);
    if (!error && Matches(digest, Recorded))
      return std::nullopt;
    std::string problem = "it could not be written back whole";
    if (error)
      problem += ": " + ErrorText(error);
    if (const std::error_code undo = Made.Discard())
      problem += "; taking it away again failed too: " + ErrorText(undo);
    return problem;
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
  std::unique_ptr<HeldFolder> folder_;
  std::optional<EventLog> events_;
  ScanCounts counts_;
};

} // namespace

int RunRestore(const CliOptions &Options, CliOs &Os, std::ostream &Out, std::ostream &Err,
               const Progress::Clock &Now) {
  return Restorer(Options, Os, Out, Err, Now).Run();
}

} // namespace vorse
