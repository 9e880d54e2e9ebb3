#include "platform/ini_file.h"

#include <cstdint>

namespace kq {

namespace {

int digitValue(char c, int base) {
  int d = c >= '0' && c <= '9' ? c - '0'
          : c >= 'a' && c <= 'f' ? c - 'a' + 10
          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                 : 99;
  return d < base ? d : -1;
}

}  // namespace

std::optional<int> parseIniInteger(std::string_view value) {
  bool negative = false;
  if (!value.empty() && (value[0] == '+' || value[0] == '-')) {
    negative = value[0] == '-';
    value.remove_prefix(1);
  }
  int base = 10;
  if (value.size() > 1 && value[0] == '$') {
    base = 16;
    value.remove_prefix(1);
  } else if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
    base = 16;
    value.remove_prefix(2);
  }
  if (value.empty()) return std::nullopt;
  // Decimal values must fit a signed 32-bit integer; hexadecimal ones 32 bits.
  const std::uint64_t limit = base == 16 ? 0xFFFFFFFFull : negative ? 0x80000000ull : 0x7FFFFFFFull;
  std::uint64_t n = 0;
  for (char c : value) {
    int d = digitValue(c, base);
    if (d < 0) return std::nullopt;
    n = n * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    if (n > limit) return std::nullopt;
  }
  auto bits = static_cast<std::uint32_t>(negative ? (~n + 1) : n);
  return static_cast<int>(static_cast<std::int32_t>(bits));
}

}  // namespace kq
