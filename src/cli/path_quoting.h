// QuotePath: a path made safe to show on a terminal or in a line-based pipe.
#pragma once

#include <string>
#include <string_view>

namespace vorse {

/// \p Path as written for people and line-based tools. Unchanged unless it holds a control
/// character (0x01-0x1F, 0x7F) or starts with "$'"; then it is written the way shells quote
/// such text, $'...', with "\" as \\, "'" as \', tab, line feed and carriage return as \t, \n
/// and \r, and every other control character as \x and two hex digits. The result is one line
/// that no terminal acts on, and the path can be decoded from it exactly; ordinary Windows
/// paths, backslashes and all, keep their form.
std::string QuotePath(std::string_view Path);

} // namespace vorse
