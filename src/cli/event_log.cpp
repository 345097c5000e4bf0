// What vorsescan reports for other programs: the --json document's shared fields and the
// --json-lines events, in Elastic Common Schema names where one fits.
#include "cli/event_log.h"

#include "cli/run_cli.h"
#include "scan/signatures.h"
#include "sysutil/utc_time.h"

#include <cstdio>

namespace vorse {
namespace {

/// The version of the common schema whose field names the events use.
constexpr char kEcsVersion[] = "8.11.0";

/// The event's own members, "event" with its kind, categories, action and outcome.
void WriteEvent(JsonWriter &Json, const char *Kind, const char *Category, std::string_view Action,
                bool Succeeded) {
  Json.Key("event");
  Json.BeginObject();
  Json.Key("kind");
  Json.String(Kind);
  Json.Key("category");
  Json.BeginArray();
  Json.String(Category);
  Json.EndArray();
  Json.Key("action");
  Json.String(Action);
  Json.Key("outcome");
  Json.String(Succeeded ? "success" : "failure");
  Json.EndObject();
}

/// "file" with the path and, when known, the size and SHA-256.
void WriteFile(JsonWriter &Json, CliOs &Os, const std::string &Path,
               const std::optional<FileDigest> &Digest) {
  Json.Key("file");
  Json.BeginObject();
  Json.PathMember("path", Os.ToUtf8(Path));
  if (Digest) {
    Json.Key("size");
    Json.Number(Digest->size);
    Json.Key("hash");
    Json.BeginObject();
    Json.Key("sha256");
    Json.String(Digest->sha256);
    Json.EndObject();
  }
  Json.EndObject();
}

void WriteError(JsonWriter &Json, CliOs &Os, const std::string &Message) {
  if (Message.empty())
    return;
  Json.Key("error");
  Json.BeginObject();
  Json.Key("message");
  Json.String(Os.ToUtf8(Message));
  Json.EndObject();
}

} // namespace

void BeginReport(JsonWriter &Json, CliOs &Os) {
  Json.Key("@timestamp");
  Json.String(UtcTimestamp(Os.WallClock()));
  Json.Key("ecs");
  Json.BeginObject();
  Json.Key("version");
  Json.String(kEcsVersion);
  Json.EndObject();
  Json.Key("agent");
  Json.BeginObject();
  Json.Key("name");
  Json.String("vorsescan");
  Json.Key("type");
  Json.String("vorsescan");
  Json.Key("version");
  Json.String(VORSE_VERSION);
  Json.EndObject();
  Json.Key("host");
  Json.BeginObject();
  Json.Key("name");
  Json.String(Os.HostName());
  Json.EndObject();
  Json.Key("vorsescan");
  Json.BeginObject();
  Json.Key("schema_version");
  Json.Number(kReportSchemaVersion);
}

void WriteCounts(JsonWriter &Json, const ScanCounts &Counts) {
  const std::pair<const char *, std::uint64_t> members[] = {{"directories", Counts.directories},
                                                            {"files", Counts.files},
                                                            {"infected", Counts.infected},
                                                            {"errors", Counts.errors},
                                                            {"not_examined", Counts.notExamined},
                                                            {"quarantined", Counts.quarantined},
                                                            {"removed", Counts.removed},
                                                            {"scheduled", Counts.scheduled},
                                                            {"failed", Counts.failed},
                                                            {"restored", Counts.restored}};
  Json.BeginObject();
  for (const auto &[name, value] : members) {
    Json.Key(name);
    Json.Number(value);
  }
  Json.EndObject();
}

void EventLog::Write(JsonWriter &Json) {
  Json.EndObject();
  write_(Json.Finish());
}

void EventLog::OnFinding(const Finding &Found) {
  JsonWriter json(true);
  json.BeginObject();
  BeginReport(json, os_);
  json.Key("internal_name");
  json.String(Found.internalName);
  if (!Found.quarantinePath.empty())
    json.PathMember("quarantine_path", os_.ToUtf8(Found.quarantinePath));
  json.EndObject();
  const bool failed = !Found.error.empty();
  WriteEvent(json, "alert", "malware", failed ? Found.failedStep : Found.action, !failed);
  json.Key("rule");
  json.BeginObject();
  json.Key("name");
  json.String(MatchedSignature(u"InternalName: " + Found.internalName));
  json.EndObject();
  WriteFile(json, os_, Found.path, Found.digest);
  WriteError(json, os_, Found.error);
  Write(json);
}

void EventLog::OnProblem(const std::string &Path, const std::string &Reason) {
  JsonWriter json(true);
  json.BeginObject();
  BeginReport(json, os_);
  json.EndObject();
  WriteEvent(json, "event", "file", "examine", false);
  WriteFile(json, os_, Path, std::nullopt);
  WriteError(json, os_, Reason);
  Write(json);
}

void EventLog::OnRestore(const Restore &Restored) {
  JsonWriter json(true);
  json.BeginObject();
  BeginReport(json, os_);
  if (!Restored.quarantinePath.empty())
    json.PathMember("quarantine_path", os_.ToUtf8(Restored.quarantinePath));
  json.Key("registration_withdrawn");
  json.Bool(Restored.registrationWithdrawn);
  json.EndObject();
  WriteEvent(json, "event", "file", "restored", Restored.error.empty());
  WriteFile(json, os_, Restored.path, Restored.digest);
  WriteError(json, os_, Restored.error);
  Write(json);
}

void EventLog::OnSummary(const ScanCounts &Counts, int ExitStatus,
                         std::chrono::nanoseconds Duration) {
  JsonWriter json(true);
  json.BeginObject();
  BeginReport(json, os_);
  json.Key("counts");
  WriteCounts(json, Counts);
  json.Key("exit_status");
  json.Number(static_cast<std::uint64_t>(ExitStatus));
  json.EndObject();
  json.Key("event");
  json.BeginObject();
  json.Key("kind");
  json.String("event");
  json.Key("action");
  json.String("summary");
  json.Key("outcome");
  json.String(ExitStatus == kExitError ? "failure" : "success");
  json.Key("duration");
  json.Number(static_cast<std::uint64_t>(Duration.count() > 0 ? Duration.count() : 0));
  json.EndObject();
  Write(json);
}

} // namespace vorse
