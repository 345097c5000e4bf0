// Names for quarantine copies that never destroy an earlier copy.
#pragma once

#include <functional>
#include <string>

namespace vorse {

/// What stands at a candidate name in the quarantine folder.
enum class QuarantineSlot { Free, SameContents, OtherContents };

/// The path in \p Folder (no trailing separator) under which to keep a copy of \p Source named
/// \p FileName: FileName itself when that is free or already holds the same bytes, else the
/// first of "name (2).ext", "name (3).ext", ... that is free or holds the same bytes.
/// \p Probe tells what stands at a candidate path.
std::string QuarantineTarget(const std::string &Folder, const std::string &FileName,
                             const std::function<QuarantineSlot(const std::string &)> &Probe);

} // namespace vorse
