// The names of a POSIX file system in the search's paths, and back.
//
// The search joins names with "\", as on Windows, and a POSIX body reads each "\" of a path as
// "/". A POSIX name may itself hold "\", an ordinary character there; inside the search such a
// "\" stands as the private-use character U+F05C, so it can never be taken for a separator.
// A name that already holds U+F05C, or U+F025 (the escape), has each of them written as U+F025
// followed by it. Every search path thus maps back to exactly one POSIX path, and every name
// to one search name. The mapping works on bytes: names need not be valid UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace vorse {

/// \p Native (a name or a path, "/" separated) as the search writes it.
std::string ToSearchForm(std::string_view Native);

/// \p Search (a path as the search writes it, "\" or "/" separated) in POSIX form: "\" becomes
/// "/" and each mapped character its own name's character again.
std::string ToPosixForm(std::string_view Search);

} // namespace vorse
