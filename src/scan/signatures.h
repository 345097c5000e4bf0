// The two detection signatures and the case-blind comparison that recognises them.
#pragma once

#include <string>
#include <string_view>

namespace vorse {

/// True when \p Entry, a version entry as GetFileVersionData returns it, equals
/// "InternalName: Kern32" or "InternalName: wowex32" once both sides are lower-cased. Only
/// whole-entry equality counts: "InternalName: Kern321" or a trailing blank do not match.
bool IsVorseSignature(const std::u16string &Entry);

/// The signature \p Entry carries, as written ("InternalName: Kern32"); empty when none.
std::string_view MatchedSignature(const std::u16string &Entry);

} // namespace vorse
