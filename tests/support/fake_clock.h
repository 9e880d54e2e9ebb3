#pragma once
// FakeClock is a Clock under the test's control: time stands still until the
// test moves it (or the code sleeps), every sleep is recorded. Local time is
// UTC shifted by utcOffsetMinutes.
#include <cstdint>
#include <vector>

#include "platform/clock.h"

namespace kq::test {

class FakeClock : public Clock {
 public:
  static constexpr std::int64_t kDayMs = 86400000;

  LocalTime now() override { return localAt(epochMs); }
  std::int64_t epochMillis() override { return epochMs; }
  LocalTime toLocal(std::int64_t epochSeconds) override { return localAt(epochSeconds * 1000); }
  void sleepMs(int milliseconds) override {
    sleeps.push_back(milliseconds);
    if (advanceOnSleep) epochMs += milliseconds;
  }

  // setLocalTime sets the clock so that now() gives this local time.
  void setLocalTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                    int millisecond = 0) {
    std::int64_t days = daysFromCivil(year, month, day);
    epochMs = ((days * 24 + hour) * 60 + minute - utcOffsetMinutes) * 60000 + second * 1000LL + millisecond;
  }
  void setLocal(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                int millisecond = 0) {
    setLocalTime(year, month, day, hour, minute, second, millisecond);
  }
  void advance(std::int64_t milliseconds) { epochMs += milliseconds; }
  void advanceMs(std::int64_t milliseconds) { advance(milliseconds); }
  int totalSleptMs() const {
    int sum = 0;
    for (int s : sleeps) sum += s;
    return sum;
  }

  std::int64_t epochMs = 1700000000000;  // 2023-11-14 22:13:20 UTC, a Tuesday
  int utcOffsetMinutes = 0;
  bool advanceOnSleep = true;
  std::vector<int> sleeps;

  // daysFromCivil counts days from 1970-01-01 to a date of the proleptic Gregorian calendar.
  static std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    std::int64_t yoe = y - era * 400;
    std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
  }

 private:
  LocalTime localAt(std::int64_t utcMs) const {
    std::int64_t ms = utcMs + utcOffsetMinutes * 60000LL;
    std::int64_t days = floorDiv(ms, 86400000);
    std::int64_t inDay = ms - days * 86400000;
    // Civil date from the day count (the inverse of daysFromCivil).
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
    t.hour = static_cast<int>(inDay / 3600000);
    t.minute = static_cast<int>(inDay / 60000 % 60);
    t.second = static_cast<int>(inDay / 1000 % 60);
    t.millisecond = static_cast<int>(inDay % 1000);
    t.weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    return t;
  }
  static std::int64_t floorDiv(std::int64_t a, std::int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }
};

}  // namespace kq::test
