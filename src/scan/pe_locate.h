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
  /// The source's length; where it is not known yet, a bound above it (the reads then tell
  /// where the source ends).
  virtual std::uint64_t Size() const = 0;
  virtual bool Read(std::uint64_t Offset, std::span<std::byte> Out) = 0;
  /// Reads as much of [Offset, Offset+Out.size()) as the source holds; returns the count read.
  virtual std::size_t ReadUpTo(std::uint64_t Offset, std::span<std::byte> Out);
};

/// A ByteSource over bytes already in memory, which must outlive it.
class MemoryByteSource : public ByteSource {
public:
  explicit MemoryByteSource(std::span<const std::byte> Bytes) : bytes_(Bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool Read(std::uint64_t Offset, std::span<std::byte> Out) override;

private:
  std::span<const std::byte> bytes_;
};

/// The largest version block returned. VS_VERSIONINFO states its length in a 16-bit field, so
/// nothing past this belongs to the block.
inline constexpr std::uint32_t kMaxVersionBlockSize = 0x10000;

/// The RT_VERSION block (type 16, name 1) of a PE32 or PE32+ file, exactly as stored, in the
/// language Windows picks (neutral, then U.S. English, then English, then the first listed),
/// and as long as its resource entry says, up to kMaxVersionBlockSize. Nothing when the file
/// is not PE, has no version resource, or any structure on the way does not hold up.
std::optional<std::vector<std::byte>> LocateVersionBlock(ByteSource &File);

/// LocateVersionBlock on the file at \p Path, reading only the bytes it needs. Nothing when the
/// file cannot be opened or read (errno, or on Windows the last error, then says why) or holds
/// no version block (on Windows ERROR_RESOURCE_TYPE_NOT_FOUND).
/// On POSIX \p Path may be longer than the system's path limit.
std::optional<std::vector<std::byte>> ReadVersionBlock(const std::string &Path);

#ifndef _WIN32
/// ReadVersionBlock on the entry \p Name of the open directory \p Dir. \p ListedRegular: the
/// directory's listing reported a regular file there, so it is opened without following a link
/// and without a further look at its type.
std::optional<std::vector<std::byte>> ReadVersionBlockAt(int Dir, const char *Name,
                                                         bool ListedRegular);
#endif

} // namespace vorse
