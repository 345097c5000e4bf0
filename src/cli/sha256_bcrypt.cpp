// Sha256 over Windows' CNG (bcrypt).
#include "cli/sha256.h"
#include "sysutil/win32_support.h"

#include <bcrypt.h>

#include <algorithm>
#include <stdexcept>

namespace vorse {
namespace {

void Check(NTSTATUS Status, const char *Step) {
  // NTSTATUS values below 0 are errors; BCRYPT_SUCCESS is the same test.
  if (Status < 0)
    throw std::runtime_error(std::string("SHA-256 unavailable: ") + Step + " failed");
}

} // namespace

struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  State() = default;
  State(const State &) = delete;
  State &operator=(const State &) = delete;
  ~State() {
    if (hash != nullptr)
      ::BCryptDestroyHash(hash);
    if (algorithm != nullptr)
      ::BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  Check(::BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0),
        "BCryptOpenAlgorithmProvider");
  // A null object buffer lets CNG keep the hash object itself (Windows 7 and later).
  Check(::BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0),
        "BCryptCreateHash");
}

Sha256::~Sha256() = default;

void Sha256::Update(std::span<const std::byte> Bytes) {
  // BCryptHashData takes a ULONG length: feed larger spans in pieces.
  constexpr std::size_t kMaxPiece = 1u << 30;
  for (std::size_t done = 0; done < Bytes.size(); done += kMaxPiece) {
    const std::span<const std::byte> piece =
        Bytes.subspan(done, std::min(kMaxPiece, Bytes.size() - done));
    Check(::BCryptHashData(state_->hash,
                           reinterpret_cast<PUCHAR>(const_cast<std::byte *>(piece.data())),
                           static_cast<ULONG>(piece.size()), 0),
          "BCryptHashData");
  }
}

std::array<std::uint8_t, 32> Sha256::Final() {
  std::array<std::uint8_t, 32> digest{};
  Check(::BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0),
        "BCryptFinishHash");
  return digest;
}

} // namespace vorse
