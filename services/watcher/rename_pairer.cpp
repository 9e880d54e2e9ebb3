#include "watcher/rename_pairer.h"

namespace kq {

std::optional<MoveEnd> RenamePairer::movedFrom(std::uint32_t cookie, MoveEnd from) {
  auto previous = takeUnpaired();
  armed_ = std::move(from);
  cookie_ = cookie;
  return previous;
}

std::optional<MoveEnd> RenamePairer::movedTo(std::uint32_t cookie) {
  if (!armed_ || cookie_ != cookie) return std::nullopt;
  return takeUnpaired();
}

std::optional<MoveEnd> RenamePairer::takeUnpaired() {
  auto out = std::move(armed_);
  armed_.reset();
  return out;
}

}  // namespace kq
