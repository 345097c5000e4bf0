// Names that Windows' narrow calls cannot open as they are listed.
#pragma once

#include <string_view>

namespace vorse {

/// True when the narrow calls, given \p Name as the last part of a path, would open another
/// entry than the one a listing gave under that name, or none: Windows' path rules drop a
/// trailing dot or space ("Kern32.exe."), read a reserved device name ("nul.exe") as the
/// device, and a name whose characters the code page cannot hold is listed with "?" in their
/// place, which names nothing.
bool NarrowCallsRewrite(std::string_view Name);

} // namespace vorse
