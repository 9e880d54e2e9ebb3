#pragma once
// Sha256 hashes file content incrementally with libcrypto's SHA-256 (which uses
// the CPU's SHA instructions where there are any); the store index keeps the hex
// digest.
#include <memory>
#include <string>
#include <string_view>

namespace kqs {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(std::string_view data);
  // hexDigest finishes the hash; the object must not be updated afterwards.
  std::string hexDigest();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

// sha256Hex hashes a whole text.
std::string sha256Hex(std::string_view data);

}  // namespace kqs
