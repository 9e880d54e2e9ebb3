#include "key_hash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <stdexcept>
#include <vector>

namespace kqs {

namespace {

constexpr const char* kScheme = "pbkdf2-sha256";
constexpr std::size_t kSaltBytes = 16, kHashBytes = 32;

std::string hex(const std::vector<unsigned char>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

bool unhex(const std::string& text, std::vector<unsigned char>& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int value = 0;
    for (char c : text.substr(i, 2)) {
      int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    out.push_back(static_cast<unsigned char>(value));
  }
  return true;
}

std::vector<unsigned char> derive(const std::string& key, const std::vector<unsigned char>& salt, int iterations) {
  std::vector<unsigned char> out(kHashBytes);
  if (PKCS5_PBKDF2_HMAC(key.data(), static_cast<int>(key.size()), salt.data(), static_cast<int>(salt.size()),
                        iterations, EVP_sha256(), static_cast<int>(out.size()), out.data()) != 1) {
    throw std::runtime_error("cannot hash an API key (PBKDF2 failed)");
  }
  return out;
}

struct Parsed {
  int iterations = 0;
  std::vector<unsigned char> salt, hash;
};

bool parse(const std::string& stored, Parsed& p) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = stored.find('$', start)) != std::string::npos; start = at + 1) {
    parts.push_back(stored.substr(start, at - start));
  }
  parts.push_back(stored.substr(start));
  if (parts.size() != 4 || parts[0] != kScheme || parts[1].empty() || parts[1].size() > 7) return false;
  for (char c : parts[1]) {
    if (c < '0' || c > '9') return false;
  }
  p.iterations = std::stoi(parts[1]);
  return p.iterations > 0 && unhex(parts[2], p.salt) && !p.salt.empty() && unhex(parts[3], p.hash) &&
         p.hash.size() == kHashBytes;
}

}  // namespace

std::string hashKey(const std::string& key, int iterations) {
  std::vector<unsigned char> salt(kSaltBytes);
  if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) throw std::runtime_error("no random salt");
  return std::string(kScheme) + "$" + std::to_string(iterations) + "$" + hex(salt) + "$" +
         hex(derive(key, salt, iterations));
}

bool keyMatches(const std::string& key, const std::string& stored) {
  Parsed p;
  if (!parse(stored, p)) return false;
  auto got = derive(key, p.salt, p.iterations);
  return CRYPTO_memcmp(got.data(), p.hash.data(), kHashBytes) == 0;
}

bool isKeyHash(const std::string& text) {
  Parsed p;
  return parse(text, p);
}

}  // namespace kqs
