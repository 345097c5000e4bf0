// The "NUL=" lines of wininit.ini, kept inside the one section that start-up reads.
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

bool EqualIgnoringCase(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

bool IsRename(std::string_view Name) {
  return EqualIgnoringCase(Name, "rename");
}

/// Where a line of wininit.ini stands, as start-up reads the file.
enum class LinePlace {
  /// The header of the first [rename] section.
  RenameHeader,
  /// A line inside the first [rename] section.
  InRename,
  /// A header after the first [rename] section's own.
  LaterHeader,
  /// Any other line.
  Elsewhere,
};

/// Calls \p Visit(Text, Start, End, Place) for every line of \p File: its text without the
/// line end, where it starts and where its line end ends.
template <typename Visitor> void WalkLines(std::string_view File, Visitor Visit) {
  bool seenRename = false;
  bool inRename = false;
  for (std::size_t start = 0; start < File.size();) {
    std::size_t end = File.find('\n', start);
    end = end == std::string_view::npos ? File.size() : end + 1;
    std::string_view text = File.substr(start, end - start);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
      text.remove_suffix(1);
    LinePlace place = inRename ? LinePlace::InRename : LinePlace::Elsewhere;
    if (const std::optional<std::string_view> section = SectionName(text)) {
      // Only the first [rename] counts; a later one is read by nobody.
      inRename = !seenRename && IsRename(*section);
      place = inRename ? LinePlace::RenameHeader
                       : (seenRename ? LinePlace::LaterHeader : LinePlace::Elsewhere);
      seenRename = seenRename || inRename;
    }
    Visit(text, start, end, place);
    start = end;
  }
}

} // namespace

WininitEdit PlanWininitLine(std::string_view Existing, std::string_view Line) {
  // Where the first [rename] section's last non-blank line ends, and whether another section
  // follows it.
  std::optional<std::size_t> renameEnd;
  bool otherAfterRename = false;
  WalkLines(Existing, [&](std::string_view Text, std::size_t, std::size_t End, LinePlace Place) {
    if (Place == LinePlace::RenameHeader ||
        (Place == LinePlace::InRename && Text.find_first_not_of(" \t") != std::string_view::npos))
      renameEnd = End;
    otherAfterRename = otherAfterRename || Place == LinePlace::LaterHeader;
  });

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

std::optional<std::string> WithoutWininitDeletes(std::string_view Existing,
                                                 std::span<const std::string> Paths) {
  std::string kept;
  bool dropped = false;
  WalkLines(Existing, [&](std::string_view Text, std::size_t Start, std::size_t End,
                          LinePlace Place) {
    const std::size_t begin = Text.find_first_not_of(" \t");
    const std::string_view entry = begin == std::string_view::npos ? "" : Text.substr(begin);
    const bool nul = Place == LinePlace::InRename && EqualIgnoringCase(entry.substr(0, 4), "NUL=");
    const std::string_view target = nul ? entry.substr(4) : std::string_view();
    if (nul && std::any_of(Paths.begin(), Paths.end(), [&](const std::string &Path) {
          return !Path.empty() && EqualIgnoringCase(target, Path);
        })) {
      dropped = true;
      return;
    }
    kept.append(Existing.substr(Start, End - Start));
  });
  if (!dropped)
    return std::nullopt;
  return kept;
}

} // namespace vorse
