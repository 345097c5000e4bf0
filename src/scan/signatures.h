// The two detection signatures and the case-blind comparison that recognises them.
#pragma once

#include <string>

namespace vorse {

/// True when \p Entry, a version entry as GetFileVersionData returns it, equals
/// "InternalName: Kern32" or "InternalName: wowex32" once both sides are lower-cased. Only
/// whole-entry equality counts: "InternalName: Kern321" or a trailing blank do not match.
bool IsVorseSignature(const std::u16string &Entry);

} // namespace vorse
