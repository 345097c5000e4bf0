// Progress: the one-line display of a running scan on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace vorse {

/// Running totals of a scan.
struct ScanCounts {
  std::uint64_t directories = 0;
  std::uint64_t files = 0;
  std::uint64_t infected = 0;
  /// Every step that failed: an entry not examined, a quarantine, a removal, a restore.
  std::uint64_t errors = 0;
  /// The files and directories among the errors that could not be examined.
  std::uint64_t notExamined = 0;
  /// What became of the infected files (failed: a step for it did not succeed), and of the
  /// files put back.
  std::uint64_t quarantined = 0;
  std::uint64_t removed = 0;
  std::uint64_t scheduled = 0;
  std::uint64_t failed = 0;
  std::uint64_t restored = 0;
};

/// \p Count and the noun that fits it: "1 error", "2 errors".
std::string Counted(std::uint64_t Count, const char *One, const char *Many);

/// Redraws one line on \p Out (with a carriage return, no line feed) a few times a second:
/// the counts and the directory being searched. Disabled, it writes nothing.
class Progress {
public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  Progress(std::ostream &Out, bool Enabled, Clock Now = std::chrono::steady_clock::now);

  /// The directory now being searched; shown from the next redraw on.
  void SetDirectory(const std::string &Dir) { directory_ = Dir; }
  /// Redraws with \p Counts when the last redraw is long enough ago (or there was none).
  void Update(const ScanCounts &Counts);
  /// Blanks the line, so that other text can be written; the next Update draws it again.
  void Clear();

private:
  std::ostream &out_;
  bool enabled_;
  Clock now_;
  std::string directory_;
  std::chrono::steady_clock::time_point lastDraw_;
  std::size_t shown_ = 0;
};

} // namespace vorse
