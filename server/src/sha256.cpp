#include "sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace kqs {

struct Sha256::Context {
  EVP_MD_CTX* md = nullptr;
  ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
  context_->md = EVP_MD_CTX_new();
  if (context_->md == nullptr || EVP_DigestInit_ex(context_->md, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 is not available from libcrypto");
  }
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(std::string_view data) {
  if (!data.empty() && EVP_DigestUpdate(context_->md, data.data(), data.size()) != 1) {
    throw std::runtime_error("SHA-256 update failed");
  }
}

std::string Sha256::hexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_->md, digest, &length) != 1) {
    throw std::runtime_error("SHA-256 final failed");
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0x0f];
  }
  return hex;
}

std::string sha256Hex(std::string_view data) {
  Sha256 sha;
  sha.update(data);
  return sha.hexDigest();
}

}  // namespace kqs
