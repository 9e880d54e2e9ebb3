#include "wire/scalar_sax.h"

namespace kq {

bool parseInt64(const std::string& text, std::int64_t& out) {
  if (text.empty()) return false;
  try {
    std::size_t used = 0;
    long long v = std::stoll(text, &used);
    if (used != text.size()) return false;
    out = v;
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace kq
