// Checked little-endian reads from byte buffers, for parsing untrusted file structures.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace vorse {

/// True when the \p Length bytes at \p Offset lie inside a buffer of \p Size bytes. Written in
/// subtraction form, so no sum can wrap however large the operands are.
constexpr bool RangeFits(std::uint64_t Size, std::uint64_t Offset, std::uint64_t Length) {
  return Length <= Size && Offset <= Size - Length;
}

/// The little-endian unsigned integer of type \p T at \p Offset of \p Bytes, or nothing when it
/// does not lie wholly inside. The bytes are copied into a local first (no misaligned access)
/// and put together in a fixed order, so the host's byte order plays no part.
template <std::unsigned_integral T>
std::optional<T> ReadLe(std::span<const std::byte> Bytes, std::uint64_t Offset) {
  if (!RangeFits(Bytes.size(), Offset, sizeof(T)))
    return std::nullopt;
  std::array<std::byte, sizeof(T)> local{};
  std::memcpy(local.data(), Bytes.data() + Offset, sizeof(T));
  // Each byte shifted to its place, lowest first: compilers see this as one load.
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i)
    value = static_cast<T>(value | (std::to_integer<T>(local[i]) << (8 * i)));
  return value;
}

/// The 16-bit little-endian value at \p Offset of \p Bytes, or nothing when out of range.
inline std::optional<std::uint16_t> ReadU16(std::span<const std::byte> Bytes,
                                            std::uint64_t Offset) {
  return ReadLe<std::uint16_t>(Bytes, Offset);
}

/// The 32-bit little-endian value at \p Offset of \p Bytes, or nothing when out of range.
inline std::optional<std::uint32_t> ReadU32(std::span<const std::byte> Bytes,
                                            std::uint64_t Offset) {
  return ReadLe<std::uint32_t>(Bytes, Offset);
}

} // namespace vorse
