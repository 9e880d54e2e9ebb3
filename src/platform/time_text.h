#pragma once
// dateText and timeText write a local time as "yyyy<sep>mm<sep>dd" and
// "hh<sep>nn<sep>ss" (zero-padded, 24-hour clock).
#include <string>

#include "platform/clock.h"

namespace kq {

std::string dateText(const LocalTime& t, char separator);
std::string timeText(const LocalTime& t, char separator);

}  // namespace kq
