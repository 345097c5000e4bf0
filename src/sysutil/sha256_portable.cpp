// PortableSha256: the compression function and padding of FIPS 180-4, section 6.2.
#include "sysutil/sha256_portable.h"

#include <algorithm>
#include <cstring>

namespace vorse {
namespace {

constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t Rotr(std::uint32_t X, int N) {
  return (X >> N) | (X << (32 - N));
}

} // namespace

void PortableSha256::Compress(const std::uint8_t *Block) {
  std::array<std::uint32_t, 64> w{};
  for (std::size_t i = 0; i < 16; ++i)
    w[i] = std::uint32_t{Block[4 * i]} << 24 | std::uint32_t{Block[4 * i + 1]} << 16 |
           std::uint32_t{Block[4 * i + 2]} << 8 | std::uint32_t{Block[4 * i + 3]};
  for (std::size_t i = 16; i < 64; ++i) {
    const std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::array<std::uint32_t, 8> v = state_;
  for (std::size_t i = 0; i < 64; ++i) {
    const std::uint32_t s1 = Rotr(v[4], 6) ^ Rotr(v[4], 11) ^ Rotr(v[4], 25);
    const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
    const std::uint32_t t1 = v[7] + s1 + choice + kRound[i] + w[i];
    const std::uint32_t s0 = Rotr(v[0], 2) ^ Rotr(v[0], 13) ^ Rotr(v[0], 22);
    const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
    std::copy_backward(v.begin(), v.end() - 1, v.end());
    v[4] += t1;
    v[0] = t1 + s0 + majority;
  }
  for (std::size_t i = 0; i < 8; ++i)
    state_[i] += v[i];
}

void PortableSha256::Update(std::span<const std::byte> Bytes) {
  length_ += Bytes.size();
  const auto *data = reinterpret_cast<const std::uint8_t *>(Bytes.data());
  std::size_t left = Bytes.size();
  if (filled_ > 0) {
    const std::size_t take = std::min(left, block_.size() - filled_);
    std::memcpy(block_.data() + filled_, data, take);
    filled_ += take;
    data += take;
    left -= take;
    if (filled_ < block_.size())
      return;
    Compress(block_.data());
    filled_ = 0;
  }
  for (; left >= block_.size(); data += block_.size(), left -= block_.size())
    Compress(data);
  std::memcpy(block_.data(), data, left);
  filled_ = left;
}

std::array<std::uint8_t, 32> PortableSha256::Final() {
  const std::uint64_t bits = length_ * 8;
  // A one bit, zeros up to 56 bytes into a block, then the length in bits, big-endian.
  std::array<std::uint8_t, 72> tail = {0x80};
  const std::size_t zeros = (filled_ < 56 ? 56 : 120) - filled_;
  for (std::size_t i = 0; i < 8; ++i)
    tail[zeros + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  Update(std::as_bytes(std::span(tail.data(), zeros + 8)));
  std::array<std::uint8_t, 32> digest{};
  for (std::size_t i = 0; i < 32; ++i)
    digest[i] = static_cast<std::uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
  return digest;
}

} // namespace vorse
