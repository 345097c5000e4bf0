// RunVorsescan: the whole command-line scanner behind main, on any seams and streams.
#include "cli/run_cli.h"

#include "cli/cli_options.h"
#include "cli/event_log.h"
#include "cli/file_digest.h"
#include "cli/json_writer.h"
#include "cli/quarantine_store.h"
#include "cli/restore.h"
#include "cli/scan_session.h"

#include <cstdio>
#include <optional>
#include <vector>

namespace vorse {
namespace {

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
      events_.emplace(Out, Cli);
  }

  /// Prepares the quarantine folder; false when it cannot be used.
  bool Prepare() {
    if (!options_.quarantine)
      return true;
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
    progress_.SetDirectory(Dir);
    progress_.Update(counts_);
  }
  void OnFileExamined(const std::string &) override {
    ++counts_.files;
    progress_.Update(counts_);
  }
  void OnInfected(const std::string &Path, const std::u16string &InternalName) override {
    ++counts_.infected;
    if (!options_.json && !events_) {
      progress_.Clear();
      out_ << Path << '\n' << std::flush;
    }
    Finding finding;
    finding.path = Path;
    finding.internalName = InternalName;
    Handle(finding);
    if (store_ && finding.error.empty())
      Message(finding.path, ActionLine(finding));
    if (events_)
      events_->OnFinding(finding);
    if (options_.json)
      findings_.push_back(std::move(finding));
    progress_.Update(counts_);
  }
  void OnProblem(const std::string &Path, const std::string &Reason) override {
    ++counts_.errors;
    Message(Path, Reason);
    if (events_)
      events_->OnProblem(Path, Reason);
    if (options_.json)
      problems_.push_back({Path, Reason});
  }

  int Finish(const std::vector<std::string> &Roots, std::chrono::duration<double> Elapsed) {
    const int status = failed_ ? kExitError : counts_.infected > 0 ? kExitInfected : kExitClean;
    if (options_.json)
      out_ << JsonReport(Roots) << std::flush;
    if (events_)
      events_->OnSummary(counts_, status,
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
      err_ << Counted(counts_.errors, "error", "errors") << ", " << seconds << " s\n";
    }
    return status;
  }

private:
  void Message(const std::string &Path, const std::string &Text) {
    progress_.Clear();
    err_ << "vorsescan: " << (Path.empty() ? "" : Path + ": ") << Text << '\n' << std::flush;
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
      return "lies in the quarantine folder itself: left as it is";
    if (Finding.action == "removed")
      return "removed; its copy is " + Finding.quarantinePath;
    if (Finding.action == "removal_scheduled")
      return "in use: it will be deleted at the next restart of Windows; its copy is " +
             Finding.quarantinePath;
    return "quarantined as " + Finding.quarantinePath;
  }

  void Handle(Finding &Finding) {
    if (!store_) {
      if (!options_.json && !events_)
        return;
      FileDigest digest;
      if (const std::error_code error = DigestFile(Finding.path, digest))
        return Fail(Finding, "digest", "cannot read for its SHA-256: " + ErrorText(error));
      Finding.digest = digest;
      return;
    }
    KeptCopy kept;
    if (const std::optional<std::string> error = store_->Keep(Finding.path, kept))
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
    RemoveOutcome outcome = RemoveOutcome::Removed;
    if (const std::error_code error = cli_.RemoveFile(Finding.path, outcome))
      return Fail(Finding, "removal", "cannot remove (its copy is kept): " + ErrorText(error));
    if (outcome == RemoveOutcome::Removed) {
      Finding.action = "removed";
      ++counts_.removed;
      return;
    }
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
    json.Key("roots");
    json.BeginArray();
    for (const std::string &root : Roots)
      json.String(cli_.ToUtf8(root));
    json.EndArray();
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
};

} // namespace

int RunVorsescan(std::span<const std::string> Args, ScanOs &Scan, CliOs &Cli, std::ostream &Out,
                 std::ostream &Err, Progress::Clock Now) {
  CliOptions options;
  if (const std::optional<std::string> error = ParseCliOptions(Args, options)) {
    Err << "vorsescan: " << *error << "\nTry 'vorsescan --help'.\n";
    return kExitError;
  }
  if (options.help) {
    Out << UsageText();
    return kExitClean;
  }
  if (options.version) {
    Out << "vorsescan " << VORSE_VERSION << '\n';
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
  if (!session.Prepare())
    return kExitError;
  session.Scan(Scan, roots);
  return session.Finish(roots, Now() - start);
}

} // namespace vorse
