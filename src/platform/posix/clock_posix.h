#pragma once
// SystemClock is the real clock: local time from the C library's time zone.
#include "platform/clock.h"

namespace kq {

class SystemClock : public Clock {
 public:
  LocalTime now() override;
  std::int64_t epochMillis() override;
  // toLocal gives 1970-01-01 00:00 (the LocalTime default) for a time the C library cannot convert.
  LocalTime toLocal(std::int64_t epochSeconds) override;
  void sleepMs(int milliseconds) override;
};

}  // namespace kq
