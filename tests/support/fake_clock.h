#pragma once
// FakeClock is a Clock that a test sets and advances by hand. Local time is the
// epoch time shifted by utcOffsetMinutes; sleepMs advances the clock and records
// the pause.
#include <cstdint>
#include <vector>

#include "platform/clock.h"

namespace kq::test {

class FakeClock : public Clock {
 public:
  static constexpr std::int64_t kDayMs = 86400000;

  LocalTime now() override { return civil(epochMs + utcOffsetMinutes * 60000LL); }
  std::int64_t epochMillis() override { return epochMs; }
  LocalTime toLocal(std::int64_t epochSeconds) override {
    return civil(epochSeconds * 1000 + utcOffsetMinutes * 60000LL);
  }
  void sleepMs(int milliseconds) override {
    sleeps.push_back(milliseconds);
    epochMs += milliseconds;
  }

  // setLocal sets the clock so that now() is the given local time.
  void setLocal(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                int millisecond = 0) {
    std::int64_t local = daysFromCivil(year, month, day) * kDayMs +
                         ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
    epochMs = local - utcOffsetMinutes * 60000LL;
  }
  void advanceMs(std::int64_t ms) { epochMs += ms; }

  std::int64_t epochMs = 0;
  int utcOffsetMinutes = 0;
  std::vector<int> sleeps;

 private:
  // daysFromCivil counts days from 1970-01-01 (proleptic Gregorian calendar).
  static std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    std::int64_t yoe = y - era * 400;
    std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
  }
  static LocalTime civil(std::int64_t ms) {
    std::int64_t days = ms >= 0 ? ms / kDayMs : (ms - kDayMs + 1) / kDayMs;
    std::int64_t rest = ms - days * kDayMs;
    std::int64_t z = days + 719468;
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    LocalTime t;
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2));
    t.hour = static_cast<int>(rest / 3600000);
    t.minute = static_cast<int>(rest / 60000 % 60);
    t.second = static_cast<int>(rest / 1000 % 60);
    t.millisecond = static_cast<int>(rest % 1000);
    t.weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    return t;
  }
};

}  // namespace kq::test
