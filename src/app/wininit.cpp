// PlanWininitLine: keeps every "NUL=" line inside the one section that start-up reads.
#include "app/wininit.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace vorse {
namespace {

/// The name of the section \p Line (without its line end) opens, as the profile functions read
/// a header: blanks may stand before the bracket. Nothing when the line is no header.
std::optional<std::string_view> SectionName(std::string_view Line) {
  const std::size_t open = Line.find_first_not_of(" \t");
  if (open == std::string_view::npos || Line[open] != '[')
    return std::nullopt;
  const std::size_t close = Line.find(']', open);
  if (close == std::string_view::npos)
    return std::nullopt;
  return Line.substr(open + 1, close - open - 1);
}

bool IsRename(std::string_view Name) {
  constexpr std::string_view kRename = "rename";
  return Name.size() == kRename.size() &&
         std::equal(Name.begin(), Name.end(), kRename.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         });
}

} // namespace

WininitEdit PlanWininitLine(std::string_view Existing, std::string_view Line) {
  // Where the first [rename] section's last non-blank line ends, and whether another section
  // follows it.
  std::optional<std::size_t> renameEnd;
  bool otherAfterRename = false;
  bool inRename = false;
  for (std::size_t start = 0; start < Existing.size();) {
    std::size_t end = Existing.find('\n', start);
    end = end == std::string_view::npos ? Existing.size() : end + 1;
    std::string_view text = Existing.substr(start, end - start);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
      text.remove_suffix(1);
    if (const std::optional<std::string_view> section = SectionName(text)) {
      if (inRename)
        otherAfterRename = true;
      // Only the first [rename] counts; a later one is read by nobody.
      inRename = !renameEnd && IsRename(*section);
      if (inRename)
        renameEnd = end;
    } else if (inRename && text.find_first_not_of(" \t") != std::string_view::npos) {
      renameEnd = end;
    }
    start = end;
  }

  const bool endsLine = Existing.empty() || Existing.back() == '\n';
  const std::string lineEnd = endsLine ? "" : "\r\n";
  if (!renameEnd)
    return {false, lineEnd + "[rename]\r\n" + std::string(Line)};
  if (!otherAfterRename)
    return {false, lineEnd + std::string(Line)};

  // Another section follows, so the section's last line has its line end already.
  std::string text(Existing.substr(0, *renameEnd));
  text += Line;
  text += Existing.substr(*renameEnd);
  return {true, text};
}

} // namespace vorse
