// SHA-256 of our own (FIPS 180-4), for systems whose own cryptography has none: Windows before
// XP SP3, the 9x family.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vorse {

/// An incremental SHA-256 digest computed in the program itself.
class PortableSha256 {
public:
  void Update(std::span<const std::byte> Bytes);
  /// The digest of everything given so far; the object is spent afterwards.
  std::array<std::uint8_t, 32> Final();

private:
  void Compress(const std::uint8_t *Block);

  std::array<std::uint32_t, 8> state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::array<std::uint8_t, 64> block_ = {};
  /// Bytes of block_ in use.
  std::size_t filled_ = 0;
  /// Bytes given so far, whatever their count: the length field holds it modulo 2^64 bits.
  std::uint64_t length_ = 0;
};

} // namespace vorse
