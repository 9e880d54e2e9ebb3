#pragma once
// Sha256 hashes file content incrementally; the store index keeps the hex digest.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kqs {

class Sha256 {
 public:
  Sha256();
  void update(std::string_view data);
  // hexDigest finishes the hash; the object must not be updated afterwards.
  std::string hexDigest();

 private:
  void block(const unsigned char* p);
  std::array<std::uint32_t, 8> h_;
  std::array<unsigned char, 64> buffer_{};
  std::size_t used_ = 0;
  std::uint64_t total_ = 0;
};

// sha256Hex hashes a whole text.
std::string sha256Hex(std::string_view data);

}  // namespace kqs
