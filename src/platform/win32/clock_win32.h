#pragma once
// SystemClock is the real clock: local time of the Windows time zone settings.
#include "platform/clock.h"

namespace kq {

class SystemClock : public Clock {
 public:
  LocalTime now() override;
  std::int64_t epochMillis() override;
  // toLocal applies the daylight-saving rule in force at that time; it gives
  // 1970-01-01 00:00 (the LocalTime default) for a time Windows cannot convert.
  LocalTime toLocal(std::int64_t epochSeconds) override;
  void sleepMs(int milliseconds) override;
};

}  // namespace kq
