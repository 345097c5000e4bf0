// What vorsescan reports for other programs: the --json document's shared fields and the
// --json-lines events, in Elastic Common Schema names where one fits.
#pragma once

#include "cli/cli_os.h"
#include "cli/file_digest.h"
#include "cli/json_writer.h"
#include "cli/progress.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorse {

/// The version of the fields below: raised when a field changes meaning or goes away.
inline constexpr int kReportSchemaVersion = 1;

/// One infected file and what became of it.
struct Finding {
  std::string path;
  std::u16string internalName;
  std::optional<FileDigest> digest;
  /// reported, quarantined, removed, removal_scheduled or already_quarantined: the last step
  /// that was done.
  std::string action = "reported";
  /// The step that failed (quarantine or removal), when one did.
  std::string failedStep;
  std::string quarantinePath;
  std::string error;
};

/// One file put back from the quarantine folder.
struct Restore {
  std::string path;
  std::string quarantinePath;
  std::optional<FileDigest> digest;
  /// A pending delete-at-restart registration of the path was withdrawn.
  bool registrationWithdrawn = false;
  std::string error;
};

/// The members every report carries: "@timestamp", "ecs", "agent", "host" and, opened and left
/// open for the caller's own members, the object "vorsescan" with "schema_version".
void BeginReport(JsonWriter &Json, CliOs &Os);

/// \p Counts as an object of numbers, one member per count.
void WriteCounts(JsonWriter &Json, const ScanCounts &Counts);

/// The --json-lines stream: one JSON object a line, each handed on as it happens.
class EventLog {
public:
  /// Takes each line, with its line feed, to where it goes (and notes when that fails).
  using LineWriter = std::function<void(std::string_view)>;
  EventLog(LineWriter Write, CliOs &Os) : write_(std::move(Write)), os_(Os) {}

  void OnFinding(const Finding &Found);
  /// A directory or file that could not be examined.
  void OnProblem(const std::string &Path, const std::string &Reason);
  void OnRestore(const Restore &Restored);
  /// The last event: the counts, the exit status and how long the run took.
  void OnSummary(const ScanCounts &Counts, int ExitStatus, std::chrono::nanoseconds Duration);

private:
  void Write(JsonWriter &Json);

  LineWriter write_;
  CliOs &os_;
};

} // namespace vorse
