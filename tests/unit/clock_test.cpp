// The build's real clock, and the fake one the engine tests use.
#include <gtest/gtest.h>

#ifdef _WIN32
#include "platform/win32/clock_win32.h"
#else
#include "platform/posix/clock_posix.h"
#endif
#include "support/fake_clock.h"

namespace kq {
namespace {

std::int64_t dayNumber(const LocalTime& t) { return test::FakeClock::daysFromCivil(t.year, t.month, t.day); }

// weekdayOf is 0 for Sunday; 1970-01-01 was a Thursday.
int weekdayOf(const LocalTime& t) { return static_cast<int>(((dayNumber(t) % 7) + 11) % 7); }

std::int64_t secondOfDay(const LocalTime& t) { return (t.hour * 60 + t.minute) * 60 + t.second; }

TEST(SystemClock, NowAgreesWithEpochMillisAndToLocal) {
  SystemClock clock;
  auto ms = clock.epochMillis();
  auto now = clock.now();
  auto local = clock.toLocal(ms / 1000);
  // The two readings lie within a second (or across one midnight).
  auto diff = (dayNumber(now) - dayNumber(local)) * 86400 + secondOfDay(now) - secondOfDay(local);
  EXPECT_GE(diff, 0);
  EXPECT_LE(diff, 2);
  EXPECT_EQ(now.weekday, weekdayOf(now));
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LE(now.millisecond, 999);
  EXPECT_GT(ms, 1600000000000) << "after 2020";
}

TEST(SystemClock, ToLocalGivesCalendarFieldsForEveryKindOfDay) {
  SystemClock clock;
  // Local offsets stay within a day, so each instant lands on its UTC date or a neighbour.
  const std::int64_t instants[] = {0, 951782400 /* 2000-02-29 */, 1700000000, 4102444800 /* 2100-01-01 */};
  for (auto t : instants) {
    auto local = clock.toLocal(t);
    auto utcDay = t / 86400;
    EXPECT_LE(std::abs(dayNumber(local) - utcDay), 1) << t;
    EXPECT_EQ(local.weekday, weekdayOf(local)) << t;
    EXPECT_EQ(local.millisecond, 0);
    auto offset = (dayNumber(local) - utcDay) * 86400 + secondOfDay(local) - t % 86400;
    EXPECT_EQ(offset % 60, 0) << "a whole number of minutes: " << t;
    EXPECT_LE(std::abs(offset), 14 * 3600) << t;
  }
}

TEST(SystemClock, SleepsAtLeastTheTimeAsked) {
  SystemClock clock;
  auto before = clock.epochMillis();
  clock.sleepMs(30);
  EXPECT_GE(clock.epochMillis() - before, 25);
  clock.sleepMs(0);
  clock.sleepMs(-5);
}

TEST(FakeClock, GivesTheLocalTimeItWasSetTo) {
  test::FakeClock clock;
  clock.utcOffsetMinutes = 60;
  clock.setLocalTime(2024, 3, 7, 14, 5, 9, 250);
  auto now = clock.now();
  EXPECT_EQ(now.year, 2024);
  EXPECT_EQ(now.month, 3);
  EXPECT_EQ(now.day, 7);
  EXPECT_EQ(now.hour, 14);
  EXPECT_EQ(now.minute, 5);
  EXPECT_EQ(now.second, 9);
  EXPECT_EQ(now.millisecond, 250);
  EXPECT_EQ(now.weekday, 4) << "a Thursday";
  EXPECT_EQ(clock.epochMillis(), 1709816709250);  // 13:05:09.250 UTC

  clock.sleepMs(2500);
  clock.sleepMs(10);
  EXPECT_EQ(clock.sleeps, (std::vector<int>{2500, 10}));
  EXPECT_EQ(clock.now().second, 11);
  EXPECT_EQ(clock.now().millisecond, 760);

  auto old = clock.toLocal(-1);  // 1969-12-31 23:59:59 UTC
  EXPECT_EQ(old.year, 1970);
  EXPECT_EQ(old.hour, 0);
  EXPECT_EQ(old.minute, 59);
  EXPECT_EQ(old.weekday, 4);
}

}  // namespace
}  // namespace kq
