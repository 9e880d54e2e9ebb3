#include "platform/win32/clock_win32.h"

#include <windows.h>

namespace kq {

namespace {

constexpr std::int64_t kEpochAsFileTime = 116444736000000000LL;  // 1970-01-01 in 100 ns units since 1601

LocalTime fromSystemTime(const SYSTEMTIME& st) {
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, st.wDayOfWeek};
}

}  // namespace

LocalTime SystemClock::now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return fromSystemTime(st);
}

std::int64_t SystemClock::epochMillis() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  auto ticks = (static_cast<std::int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return (ticks - kEpochAsFileTime) / 10000;
}

LocalTime SystemClock::toLocal(std::int64_t epochSeconds) {
  if (epochSeconds < -kEpochAsFileTime / 10000000 || epochSeconds > 910692730085LL) return {};  // beyond 30827
  auto ticks = static_cast<std::uint64_t>(epochSeconds * 10000000 + kEpochAsFileTime);
  FILETIME ft{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utc, local;
  if (!FileTimeToSystemTime(&ft, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return {};
  return fromSystemTime(local);
}

void SystemClock::sleepMs(int milliseconds) {
  if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace kq
