#pragma once
// API keys are kept as salted PBKDF2-HMAC-SHA256 hashes:
// "pbkdf2-sha256$ITERATIONS$SALT$HASH" (salt and hash in lower-case hex).
#include <string>

namespace kqs {

constexpr int kKeyHashIterations = 20000;

// hashKey hashes a key with a fresh random salt.
std::string hashKey(const std::string& key, int iterations = kKeyHashIterations);
// keyMatches compares a key with a stored hash in constant time; false for a malformed hash.
bool keyMatches(const std::string& key, const std::string& stored);
// isKeyHash tells a stored hash from a key kept in clear.
bool isKeyHash(const std::string& text);

}  // namespace kqs
