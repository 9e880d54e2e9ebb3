#pragma once
// Clock is the port for time: the local calendar time, epoch milliseconds, the
// conversion of file times to local time, and the pauses the engine takes.
#include <cstdint>

namespace kq {

struct LocalTime {
  int year = 1970, month = 1, day = 1;        // month 1-12
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  int weekday = 4;                            // 0 = Sunday
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime now() = 0;
  virtual std::int64_t epochMillis() = 0;
  // toLocal converts seconds since 1970-01-01 UTC to local time.
  virtual LocalTime toLocal(std::int64_t epochSeconds) = 0;
  // sleepMs holds the calling thread (the 2500 ms pause after a folder move).
  virtual void sleepMs(int milliseconds) = 0;
};

}  // namespace kq
