// The "NUL=" lines of wininit.ini: where one goes so that start-up reads it, and taking one out.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vorse {

/// How to add a line to an existing wininit.ini. At start-up the 9x family (and Wine) carries
/// out only the lines of the file's first [rename] section: a line appended under some other
/// section, or under a second [rename], is never carried out.
struct WininitEdit {
  /// False: append Text to the file. True: Text is the whole new file.
  bool Rewrite = false;
  std::string Text;
};

/// The edit that adds \p Line (with its CR LF) to the file holding \p Existing: appended when
/// the file ends in its first [rename] section, as it does when this program made it; appended
/// under a new "[rename]" header when the file has none; inserted after the last entry of the
/// first [rename] section otherwise. A file whose last line has no line end gets one first.
WininitEdit PlanWininitLine(std::string_view Existing, std::string_view Line);

/// \p Existing without the "NUL=" lines of its first [rename] section that name one of
/// \p Paths (case ignored), every other byte as it was; nothing when there is no such line.
std::optional<std::string> WithoutWininitDeletes(std::string_view Existing,
                                                 std::span<const std::string> Paths);

} // namespace vorse
