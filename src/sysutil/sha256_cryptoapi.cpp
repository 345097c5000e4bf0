// Sha256 over Windows' CryptoAPI (advapi32): its AES provider has SHA-256 from XP SP3 on, where
// CNG (bcrypt.dll) needs Vista. Where it has none (older Windows, the 9x family), our own.
#include "sysutil/sha256.h"
#include "sysutil/sha256_portable.h"
#include "sysutil/win32_support.h"

#include <wincrypt.h>

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace vorse {
namespace {

void Check(BOOL Ok, const char *Step) {
  if (!Ok)
    throw std::runtime_error(std::string("SHA-256 failed: ") + Step + " failed");
}

} // namespace

struct Sha256::State {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  /// Set where the system's provider has no SHA-256.
  std::optional<PortableSha256> own;
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
  // A verify-only context: no key container is opened or created. Before XP SP3 there is no
  // AES provider, or it knows no SHA-256.
  if (!::CryptAcquireContextA(&state_->provider, nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT) ||
      !::CryptCreateHash(state_->provider, CALG_SHA_256, 0, 0, &state_->hash))
    state_->own.emplace();
}

Sha256::~Sha256() = default;

void Sha256::Update(std::span<const std::byte> Bytes) {
  if (state_->own) {
    state_->own->Update(Bytes);
    return;
  }
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
  if (state_->own)
    return state_->own->Final();
  std::array<std::uint8_t, 32> digest{};
  DWORD length = static_cast<DWORD>(digest.size());
  Check(::CryptGetHashParam(state_->hash, HP_HASHVAL, digest.data(), &length, 0),
        "CryptGetHashParam");
  if (length != digest.size())
    throw std::runtime_error("SHA-256 failed: CryptGetHashParam gave a short digest");
  return digest;
}

} // namespace vorse
