#pragma once
// Win32Clock is the Clock port over the Windows time functions.
#include "platform/clock.h"

namespace kq {

class Win32Clock : public Clock {
 public:
  LocalTime now() override;
  std::int64_t epochMillis() override;
  LocalTime toLocal(std::int64_t epochSeconds) override;
  void sleepMs(int milliseconds) override;
};

}  // namespace kq
