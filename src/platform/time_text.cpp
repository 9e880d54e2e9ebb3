#include "platform/time_text.h"

#include <cstdio>

namespace kq {

std::string dateText(const LocalTime& t, char separator) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d%c%02d%c%02d", t.year, separator, t.month, separator, t.day);
  return buffer;
}

std::string timeText(const LocalTime& t, char separator) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%02d%c%02d%c%02d", t.hour, separator, t.minute, separator, t.second);
  return buffer;
}

}  // namespace kq
