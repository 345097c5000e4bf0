// GetFileVersionData: the InternalName entry of a file's version resource.
#pragma once

#include "scan_os.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vorse {

/// One entry per key of the key list ("InternalName"): key & ": " & value, or the bare key when
/// the key does not occur in the block.
using VersionEntries = std::vector<std::u16string>;

/// Reads the block as one 16-bit text of \p Size units (the buffer size the platform asked
/// for), first all spaces, then overlaid with the block's bytes as little-endian units, and
/// finds each key by a plain case-sensitive search. Only the first \p Size bytes of \p Block
/// count, as the platform writes no more; a shorter block leaves the rest of the text spaces.
VersionEntries ExtractVersionEntries(std::span<const std::byte> Block, std::uint32_t Size);

/// The entries of \p FileName's version resource, or nothing when it has none or it cannot
/// be read.
std::optional<VersionEntries> GetFileVersionData(ScanOs &Os, const std::string &FileName);

} // namespace vorse
