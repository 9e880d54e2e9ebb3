#include "platform/posix/clock_posix.h"

#include <ctime>

#include <cerrno>

namespace kq {

namespace {

LocalTime fromTm(const std::tm& tm, int millisecond) {
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millisecond, tm.tm_wday};
}

}  // namespace

LocalTime SystemClock::now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  if (localtime_r(&ts.tv_sec, &tm) == nullptr) return {};
  return fromTm(tm, static_cast<int>(ts.tv_nsec / 1000000));
}

std::int64_t SystemClock::epochMillis() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

LocalTime SystemClock::toLocal(std::int64_t epochSeconds) {
  auto t = static_cast<time_t>(epochSeconds);
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) return {};
  return fromTm(tm, 0);
}

void SystemClock::sleepMs(int milliseconds) {
  if (milliseconds <= 0) return;
  timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace kq
