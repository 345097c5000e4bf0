// RunVorsescan: the whole command-line scanner behind main, on any seams and streams.
#include "cli/run_cli.h"

#include "cli/cli_options.h"
#include "cli/event_log.h"
#include "cli/file_digest.h"
#include "cli/json_writer.h"
#include "cli/path_quoting.h"
#include "cli/quarantine_store.h"
#include "cli/restore.h"
#include "cli/scan_session.h"
#include "cli/stdio_file.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace vorse {
namespace {

/// Writes \p Text to \p Out and flushes it; returns the reason when that fails.
std::error_code WriteOut(std::ostream &Out, std::string_view Text) {
  errno = 0;
  Out << Text << std::flush;
  return Out ? std::error_code() : StreamError();
}

/// The message for a report that did not reach standard output.
std::string CannotWriteOutput(std::error_code Error) {
  return "vorsescan: cannot write standard output: " + ErrorText(Error) + "\n";
}

struct Problem {
  std::string path;
  std::string reason;
};

class Session final : public ScanListener {
public:
  Session(const CliOptions &Options, CliOs &Cli, std::ostream &Out, std::ostream &Err,
          Progress::Clock Now)
      : options_(Options), cli_(Cli), out_(Out), err_(Err),
        progress_(Err, !Options.quiet && Cli.StderrIsTerminal(), std::move(Now)) {
    if (Options.jsonLines)
      events_.emplace([this](std::string_view Line) { Write(Line); }, Cli);
  }

  /// Prepares the quarantine folder; false when it cannot be used.
  bool Prepare(const std::vector<std::string> &Roots) {
    if (!options_.quarantine)
      return true;
    // Every file found there would be taken for a copy kept earlier and left as it is.
    const std::optional<DirectoryId> folder =
        cli_.IdentifyDirectory(cli_.SearchForm(*options_.quarantine));
    for (const std::string &root : Roots) {
      if (folder && cli_.IdentifyDirectory(cli_.SearchForm(root)) == folder) {
        Message("", "the quarantine folder " + QuotePath(*options_.quarantine) +
                        " is also a directory to scan: choose one outside the scanned tree");
        return false;
      }
    }
    store_.emplace(cli_, *options_.quarantine);
    if (const std::optional<std::string> error = store_->Prepare()) {
      Message("", *error);
      return false;
    }
    return true;
  }

  void Scan(ScanOs &Scan, const std::vector<std::string> &Roots) {
    for (const std::string &root : Roots)
      if (!ScanRoot(Scan, cli_, root, *this))
        failed_ = true;
    progress_.Clear();
  }

  void OnDirectory(const std::string &Dir) override {
    ++counts_.directories;
    progress_.SetDirectory(QuotePath(Dir));
    progress_.Update(counts_);
  }
  void OnFileExamined(const std::string &) override {
    ++counts_.files;
    progress_.Update(counts_);
  }
  void OnInfected(const std::string &Path, const std::u16string &InternalName, FoundFile *Found,
                  std::error_code NotHeld) override {
    ++counts_.infected;
    if (!options_.json && !events_) {
      progress_.Clear();
      Write(options_.print0 ? Path + '\0' : QuotePath(Path) + '\n');
    }
    Finding finding;
    finding.path = Path;
    finding.internalName = InternalName;
    Handle(finding, Found, NotHeld);
    if (store_ && finding.error.empty())
      Message(finding.path, ActionLine(finding));
    if (events_)
      events_->OnFinding(finding);
    if (options_.json)
      findings_.push_back(std::move(finding));
    progress_.Update(counts_);
  }
  void OnProblem(const std::string &Path, const std::string &Reason) override {
    ++counts_.notExamined;
    Report(Path, Reason);
  }
  void OnLoop(const std::string &Dir, const std::string &Ancestor) override {
    Report(Dir, "not searched: it leads back to " + QuotePath(Ancestor));
  }

  int Finish(const std::vector<std::string> &Roots, std::chrono::duration<double> Elapsed) {
    if (options_.json)
      Write(JsonReport(Roots));
    if (events_)
      events_->OnSummary(counts_, Status(),
                         std::chrono::duration_cast<std::chrono::nanoseconds>(Elapsed));
    if (!options_.quiet) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.2f", Elapsed.count());
      err_ << "vorsescan: " << Counted(counts_.files, "file", "files") << " examined in "
           << Counted(counts_.directories, "directory", "directories") << ", " << counts_.infected
           << " infected, ";
      if (store_)
        err_ << counts_.quarantined << " quarantined, " << counts_.removed << " removed, "
             << counts_.scheduled << " scheduled, " << counts_.failed << " failed, ";
      err_ << Counted(counts_.errors, "error", "errors") << ", "
           << (counts_.notExamined > 0 ? std::to_string(counts_.notExamined) + " not examined, "
                                       : "")
           << seconds << " s\n";
    }
    // The report is what the run was for: without it, nothing may pass for success.
    if (outError_)
      err_ << CannotWriteOutput(outError_) << std::flush;
    return Status();
  }

private:
  int Status() const {
    if (outError_ || failed_)
      return kExitError;
    if (counts_.infected > 0)
      return kExitInfected;
    // Nothing found is no all-clear when part of the tree was never looked at.
    return counts_.notExamined > 0 ? kExitError : kExitClean;
  }

  void Report(const std::string &Path, const std::string &Reason) {
    ++counts_.errors;
    Message(Path, Reason);
    if (events_)
      events_->OnProblem(Path, Reason);
    if (options_.json)
      problems_.push_back({Path, Reason});
  }

  /// Writes to standard output; the first failure is kept for the end of the run.
  void Write(std::string_view Text) {
    if (const std::error_code error = WriteOut(out_, Text); error && !outError_)
      outError_ = error;
  }

  void Message(const std::string &Path, const std::string &Text) {
    progress_.Clear();
    err_ << "vorsescan: " << (Path.empty() ? "" : QuotePath(Path) + ": ") << Text << '\n'
         << std::flush;
  }

  /// A step that failed for an infected file: the run ends with status 2.
  void Fail(Finding &Finding, const char *Step, const std::string &Error) {
    failed_ = true;
    ++counts_.errors;
    ++counts_.failed;
    Finding.failedStep = Step;
    Finding.error = Error;
    Message(Finding.path, Error);
  }

  /// What was done with a file whose steps all succeeded, for its line on standard error.
  static std::string ActionLine(const Finding &Finding) {
    if (Finding.action == "already_quarantined")
      return "left as it is: it lies in the quarantine folder";
    const std::string copy = QuotePath(Finding.quarantinePath);
    if (Finding.action == "removed")
      return "removed; its copy is " + copy;
    if (Finding.action == "removal_scheduled")
      return "in use: it will be deleted at the next restart of Windows; its copy is " + copy;
    return "quarantined as " + copy;
  }

  /// Acts on \p Found, the file the finding is of; null where it could not be held, for the
  /// reason \p NotHeld.
  void Handle(Finding &Finding, FoundFile *Found, std::error_code NotHeld) {
    if (!store_) {
      if (!options_.json && !events_)
        return;
      FileDigest digest;
      if (const std::error_code error = Found ? DigestFile(*Found, digest) : NotHeld)
        return Fail(Finding, "digest", "cannot read for its SHA-256: " + ErrorText(error));
      Finding.digest = digest;
      return;
    }
    if (!Found)
      return Fail(Finding, "quarantine",
                  NotHeld == FoundFileReplaced() ? ErrorText(NotHeld)
                                                 : "cannot open: " + ErrorText(NotHeld));
    KeptCopy kept;
    if (const std::optional<std::string> error = store_->Keep(*Found, Finding.path, kept))
      return Fail(Finding, "quarantine", *error);
    if (kept.alreadyQuarantined) {
      Finding.action = "already_quarantined";
      return;
    }
    Finding.digest = kept.digest;
    Finding.quarantinePath = kept.path;
    Finding.action = "quarantined";
    ++counts_.quarantined;
    if (!options_.remove)
      return;
    std::string registered;
    if (const std::error_code error = cli_.RemoveFound(*Found, Finding.path, registered))
      return Fail(Finding, "removal", "cannot remove (its copy is kept): " + ErrorText(error));
    if (registered.empty()) {
      Finding.action = "removed";
      ++counts_.removed;
      return;
    }
    // Recorded again with the path before it is registered, as the window records it: a restore
    // withdraws the registration by the very path handed to it.
    if (const std::optional<std::string> error = store_->RecordCopy(Finding.path, kept, registered))
      return Fail(Finding, "removal",
                  "not registered for deletion at the next restart (its copy is kept): " + *error);
    if (const std::error_code error = cli_.DeleteAtRestart(registered))
      return Fail(Finding, "removal",
                  "cannot register its deletion at the next restart (its copy is kept): " +
                      ErrorText(error));
    Finding.action = "removal_scheduled";
    ++counts_.scheduled;
  }

  std::string JsonReport(const std::vector<std::string> &Roots) {
    JsonWriter json;
    json.BeginObject();
    json.Key("version");
    json.String(VORSE_VERSION);
    BeginReport(json, cli_);
    json.EndObject();
    std::vector<std::string> roots;
    for (const std::string &root : Roots)
      roots.push_back(cli_.ToUtf8(root));
    json.Key("roots");
    json.BeginArray();
    for (const std::string &root : roots)
      json.String(root);
    json.EndArray();
    // As path_bytes does for a path: where a root is no valid text, every root's bytes.
    if (!std::all_of(roots.begin(), roots.end(), IsValidUtf8)) {
      json.Key("roots_bytes");
      json.BeginArray();
      for (const std::string &root : roots)
        json.String(ToHex(root));
      json.EndArray();
    }
    json.Key("counts");
    WriteCounts(json, counts_);
    json.Key("infected");
    json.BeginArray();
    for (const Finding &finding : findings_)
      WriteFinding(json, finding);
    json.EndArray();
    json.Key("errors");
    json.BeginArray();
    for (const Problem &problem : problems_) {
      json.BeginObject();
      json.PathMember("path", cli_.ToUtf8(problem.path));
      json.Key("reason");
      json.String(cli_.ToUtf8(problem.reason));
      json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return json.Finish();
  }

  void WriteFinding(JsonWriter &Json, const Finding &Finding) {
    Json.BeginObject();
    Json.PathMember("path", cli_.ToUtf8(Finding.path));
    Json.Key("internal_name");
    Json.String(Finding.internalName);
    if (Finding.digest) {
      Json.Key("size");
      Json.Number(Finding.digest->size);
      Json.Key("sha256");
      Json.String(Finding.digest->sha256);
    }
    Json.Key("action");
    Json.String(Finding.action);
    if (!Finding.quarantinePath.empty())
      Json.PathMember("quarantine_path", cli_.ToUtf8(Finding.quarantinePath));
    if (!Finding.error.empty()) {
      Json.Key("error");
      Json.String(cli_.ToUtf8(Finding.error));
    }
    Json.EndObject();
  }

  const CliOptions &options_;
  CliOs &cli_;
  std::ostream &out_;
  std::ostream &err_;
  Progress progress_;
  std::optional<QuarantineStore> store_;
  std::optional<EventLog> events_;
  ScanCounts counts_;
  std::vector<Finding> findings_;
  std::vector<Problem> problems_;
  bool failed_ = false;
  std::error_code outError_;
};

} // namespace

int RunVorsescan(std::span<const std::string> Args, ScanOs &Scan, CliOs &Cli, std::ostream &Out,
                 std::ostream &Err, Progress::Clock Now) {
  CliOptions options;
  if (const std::optional<std::string> error = ParseCliOptions(Args, options)) {
    Err << "vorsescan: " << *error << "\nTry 'vorsescan --help'.\n";
    return kExitError;
  }
  if (!Cli.StdoutIsOpen()) {
    Err << CannotWriteOutput(std::make_error_code(std::errc::bad_file_descriptor));
    return kExitError;
  }
  if (options.help || options.version) {
    const std::string text =
        options.help ? std::string(UsageText()) : "vorsescan " VORSE_VERSION "\n";
    if (const std::error_code error = WriteOut(Out, text)) {
      Err << CannotWriteOutput(error);
      return kExitError;
    }
    return kExitClean;
  }
  if (options.restore)
    return RunRestore(options, Cli, Out, Err, Now);
  std::vector<std::string> roots = options.roots;
  if (roots.empty())
    roots = Cli.DefaultRoots();
  if (roots.empty()) {
    Err << "vorsescan: a directory to scan is needed here: vorsescan DIR...\n";
    return kExitError;
  }
  const auto start = Now();
  Session session(options, Cli, Out, Err, Now);
  if (!session.Prepare(roots))
    return kExitError;
  session.Scan(Scan, roots);
  return session.Finish(roots, Now() - start);
}

} // namespace vorse
