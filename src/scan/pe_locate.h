// Our own reader of a PE file's version resource, for systems without the Win32 version calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vorse {

/// Random access to a file's bytes. Read fails (false) unless all of [Offset, Offset+Out.size())
/// lies inside the source.
class ByteSource {
public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  virtual bool Read(std::uint64_t Offset, std::span<std::byte> Out) = 0;
};

/// The RT_VERSION block (type 16, name 1, the language Windows would pick) of a PE32 or PE32+
/// file, exactly as stored. Nothing when the file is not PE, has no version resource, or any
/// structure on the way does not hold up.
std::optional<std::vector<std::byte>> LocateVersionBlock(ByteSource &File);

/// LocateVersionBlock on the file at \p Path, reading only the bytes it needs.
std::optional<std::vector<std::byte>> ReadVersionBlock(const std::string &Path);

} // namespace vorse
