// Progress: the one-line display of a running scan on a terminal.
#include "cli/progress.h"

namespace vorse {
namespace {

/// Four redraws a second: lively, and cheap even when the terminal is slow.
constexpr std::chrono::milliseconds kInterval{250};
/// Short enough for an 80-column terminal without wrapping.
constexpr std::size_t kWidth = 79;

/// The last \p Room bytes of \p Text, led by "..." when cut, never starting inside a UTF-8
/// sequence.
std::string Tail(const std::string &Text, std::size_t Room) {
  if (Text.size() <= Room)
    return Text;
  std::size_t start = Text.size() - (Room - 3);
  while (start < Text.size() && (static_cast<unsigned char>(Text[start]) & 0xC0) == 0x80)
    ++start;
  return "..." + Text.substr(start);
}

} // namespace

std::string Counted(std::uint64_t Count, const char *One, const char *Many) {
  return std::to_string(Count) + ' ' + (Count == 1 ? One : Many);
}

Progress::Progress(std::ostream &Out, bool Enabled, Clock Now)
    : out_(Out), enabled_(Enabled), now_(std::move(Now)) {}

void Progress::Update(const ScanCounts &Counts) {
  if (!enabled_)
    return;
  const auto now = now_();
  if (shown_ != 0 && now - lastDraw_ < kInterval)
    return;
  lastDraw_ = now;
  std::string line = std::to_string(Counts.directories) + " dirs, " + std::to_string(Counts.files) +
                     " files, " + std::to_string(Counts.infected) + " infected  ";
  if (line.size() < kWidth)
    line += Tail(directory_, kWidth - line.size());
  const std::size_t length = line.size();
  // Blanks cover what a longer earlier line left behind.
  if (length < shown_)
    line.append(shown_ - length, ' ');
  out_ << '\r' << line << std::flush;
  shown_ = length;
}

void Progress::Clear() {
  if (!enabled_ || shown_ == 0)
    return;
  out_ << '\r' << std::string(shown_, ' ') << '\r' << std::flush;
  shown_ = 0;
}

} // namespace vorse
