#include "platform/win32/clock_win32.h"

#include <windows.h>

namespace kq {
namespace {

// Seconds between 1601-01-01 (FILETIME) and 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600LL;

LocalTime fromSystemTime(const SYSTEMTIME& t) {
  LocalTime out;
  out.year = t.wYear;
  out.month = t.wMonth;
  out.day = t.wDay;
  out.hour = t.wHour;
  out.minute = t.wMinute;
  out.second = t.wSecond;
  out.millisecond = t.wMilliseconds;
  out.weekday = t.wDayOfWeek;
  return out;
}

}  // namespace

LocalTime Win32Clock::now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return fromSystemTime(t);
}

std::int64_t Win32Clock::epochMillis() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  ULARGE_INTEGER v;
  v.LowPart = ft.dwLowDateTime;
  v.HighPart = ft.dwHighDateTime;
  return static_cast<std::int64_t>(v.QuadPart / 10000) - kEpochDifference * 1000;
}

LocalTime Win32Clock::toLocal(std::int64_t epochSeconds) {
  ULARGE_INTEGER v;
  v.QuadPart = static_cast<ULONGLONG>((epochSeconds + kEpochDifference) * 10000000LL);
  FILETIME utc{v.LowPart, v.HighPart};
  SYSTEMTIME utcTime, local;
  if (!FileTimeToSystemTime(&utc, &utcTime) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &local))
    return LocalTime{};
  return fromSystemTime(local);
}

void Win32Clock::sleepMs(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

}  // namespace kq
