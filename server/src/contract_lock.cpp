#include "contract_lock.h"

namespace kqs {

void TurnLock::lock() {
  std::unique_lock guard(mutex_);
  std::uint64_t ticket = next_++;
  turn_.wait(guard, [&] { return serving_ == ticket; });
}

void TurnLock::unlock() {
  {
    std::lock_guard guard(mutex_);
    ++serving_;
  }
  turn_.notify_all();
}

bool TurnLock::try_lock() {
  std::lock_guard guard(mutex_);
  if (next_ != serving_) return false;
  ++next_;
  return true;
}

}  // namespace kqs
