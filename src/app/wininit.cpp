// PlanWininitLine: keeps every "NUL=" line inside the one section that start-up reads.
#include "app/wininit.h"

#include <cctype>
#include <optional>

namespace vorse {
namespace {

/// True when \p Line (without its line end) is a section header named \p Name, case ignored,
/// as the profile functions read it: blanks around the brackets are allowed.
bool IsSection(std::string_view Line, std::string_view Name) {
  const std::size_t open = Line.find_first_not_of(" \t");
  if (open == std::string_view::npos || Line[open] != '[')
    return false;
  const std::size_t close = Line.find(']', open);
  if (close == std::string_view::npos)
    return false;
  const std::string_view found = Line.substr(open + 1, close - open - 1);
  if (found.size() != Name.size())
    return false;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(found[i])) !=
        std::tolower(static_cast<unsigned char>(Name[i])))
      return false;
  }
  return true;
}

bool IsAnySection(std::string_view Line) {
  const std::size_t open = Line.find_first_not_of(" \t");
  return open != std::string_view::npos && Line[open] == '[' &&
         Line.find(']', open) != std::string_view::npos;
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
    if (IsAnySection(text)) {
      if (inRename)
        otherAfterRename = true;
      // Only the first [rename] counts; a later one is read by nobody.
      inRename = !renameEnd && IsSection(text, "rename");
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
