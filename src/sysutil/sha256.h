// SHA-256 from the platform's own cryptography (CryptoAPI on Windows, libcrypto elsewhere), or
// our own where the platform has none.
#pragma once

#include "sysutil/hex.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace vorse {

/// An incremental SHA-256 digest. Throws std::runtime_error when the platform's provider fails
/// midway.
class Sha256 {
public:
  Sha256();
  Sha256(const Sha256 &) = delete;
  Sha256 &operator=(const Sha256 &) = delete;
  ~Sha256();
  void Update(std::span<const std::byte> Bytes);
  /// The digest of everything given so far; the object is spent afterwards.
  std::array<std::uint8_t, 32> Final();

private:
  struct State;
  std::unique_ptr<State> state_;
};

/// The digest of everything \p Hash was given, as 64 lower-case hex digits; \p Hash is spent.
inline std::string HexDigest(Sha256 &Hash) {
  const std::array<std::uint8_t, 32> digest = Hash.Final();
  return ToHex(std::string_view(reinterpret_cast<const char *>(digest.data()), digest.size()));
}

} // namespace vorse
