#include "guess_backoff.h"

#include <algorithm>
#include <utility>

namespace kqs {

std::int64_t GuessBackoff::readyAtMs(const std::string& address) const {
  auto it = addresses_.find(address);
  return it == addresses_.end() ? 0 : it->second.readyAtMs;
}

std::optional<std::uint64_t> GuessBackoff::wrongKey(const std::string& address, std::int64_t nowMs) {
  forgetIdle(nowMs);
  Address& a = addresses_[address];
  ++a.wrong;
  ++a.unnoted;
  if (a.wrong > static_cast<std::uint64_t>(kFreeGuesses)) {
    auto doublings = std::min<std::uint64_t>(a.wrong - kFreeGuesses - 1, 16);
    std::int64_t delay = std::min(kMaxDelayMs, kFirstDelayMs << doublings);
    // Attempts waiting at once are answered one after another.
    a.readyAtMs = std::max(nowMs, a.readyAtMs) + delay;
  }
  if (a.noted && nowMs - a.notedAtMs < kNoteEveryMs) return std::nullopt;
  a.noted = true;
  a.notedAtMs = nowMs;
  return std::exchange(a.unnoted, 0);
}

void GuessBackoff::forgetIdle(std::int64_t nowMs) {
  if (nowMs - lastSweepMs_ < kNoteEveryMs) return;
  lastSweepMs_ = nowMs;
  for (auto it = addresses_.begin(); it != addresses_.end();) {
    bool idle = nowMs - std::max(it->second.readyAtMs, it->second.notedAtMs) > kMaxDelayMs + kNoteEveryMs;
    it = idle ? addresses_.erase(it) : std::next(it);
  }
}

}  // namespace kqs
