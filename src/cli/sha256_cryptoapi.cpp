// Sha256 over Windows' CryptoAPI (advapi32): its AES provider has SHA-256 from XP SP3 on, where
// CNG (bcrypt.dll) needs Vista.
#include "cli/sha256.h"
#include "sysutil/win32_support.h"

#include <wincrypt.h>

#include <algorithm>
#include <stdexcept>

namespace vorse {
namespace {

void Check(BOOL Ok, const char *Step) {
  if (!Ok)
    throw std::runtime_error(std::string("SHA-256 unavailable: ") + Step + " failed");
}

} // namespace

struct Sha256::State {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  State() = default;
  State(const State &) = delete;
  State &operator=(const State &) = delete;
  ~State() {
    if (hash != 0)
      ::CryptDestroyHash(hash);
    if (provider != 0)
      ::CryptReleaseContext(provider, 0);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  // A verify-only context: no key container is opened or created.
  Check(::CryptAcquireContextA(&state_->provider, nullptr, nullptr, PROV_RSA_AES,
                               CRYPT_VERIFYCONTEXT),
        "CryptAcquireContext");
  Check(::CryptCreateHash(state_->provider, CALG_SHA_256, 0, 0, &state_->hash), "CryptCreateHash");
}

Sha256::~Sha256() = default;

void Sha256::Update(std::span<const std::byte> Bytes) {
  // CryptHashData takes a DWORD length: feed larger spans in pieces.
  constexpr std::size_t kMaxPiece = 1u << 30;
  for (std::size_t done = 0; done < Bytes.size(); done += kMaxPiece) {
    const std::span<const std::byte> piece =
        Bytes.subspan(done, std::min(kMaxPiece, Bytes.size() - done));
    Check(::CryptHashData(state_->hash, reinterpret_cast<const BYTE *>(piece.data()),
                          static_cast<DWORD>(piece.size()), 0),
          "CryptHashData");
  }
}

std::array<std::uint8_t, 32> Sha256::Final() {
  std::array<std::uint8_t, 32> digest{};
  DWORD length = static_cast<DWORD>(digest.size());
  Check(::CryptGetHashParam(state_->hash, HP_HASHVAL, digest.data(), &length, 0),
        "CryptGetHashParam");
  if (length != digest.size())
    throw std::runtime_error("SHA-256 unavailable: CryptGetHashParam gave a short digest");
  return digest;
}

} // namespace vorse
