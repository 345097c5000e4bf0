// WriteTextFile: one whole text-file write step, shared by both bodies of the app seam.
#pragma once

#include <string>

namespace vorse {

/// Opens \p Path with the stdio \p Mode ("ab" to append, "wb" to start from empty), writes
/// \p Lines as they stand and closes it. Throws RuntimeError naming the file and the reason
/// when it cannot be opened, written or closed.
void WriteTextFile(const std::string &Path, const char *Mode, const std::string &Lines);

} // namespace vorse
