// Sha256 over OpenSSL's libcrypto (EVP interface).
#include "sysutil/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace vorse {

struct Sha256::State {
  EVP_MD_CTX *context = EVP_MD_CTX_new();
  State() = default;
  State(const State &) = delete;
  State &operator=(const State &) = delete;
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (state_->context == nullptr || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 is not available from libcrypto");
}

Sha256::~Sha256() = default;

void Sha256::Update(std::span<const std::byte> Bytes) {
  if (EVP_DigestUpdate(state_->context, Bytes.data(), Bytes.size()) != 1)
    throw std::runtime_error("SHA-256 update failed in libcrypto");
}

std::array<std::uint8_t, 32> Sha256::Final() {
  std::array<std::uint8_t, 32> digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->context, digest.data(), &length) != 1 || length != digest.size())
    throw std::runtime_error("SHA-256 final step failed in libcrypto");
  return digest;
}

} // namespace vorse
