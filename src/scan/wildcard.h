// WildcardMatch: a directory search's name pattern, with the Win32 meaning of "*" and "?".
#pragma once

#include <string_view>

namespace vorse {

/// True when \p Name matches \p Pattern: "*" stands for any run of characters (none
/// included), "?" for any one character, every other character for itself without regard to
/// case (ASCII letters; other bytes of the code page compare exactly). Runs in time linear in
/// the product of the lengths at worst, without recursion, whatever the pattern.
bool WildcardMatch(std::string_view Pattern, std::string_view Name);

} // namespace vorse
