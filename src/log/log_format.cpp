#include "log/log_format.h"

#include <charconv>
#include <cstdio>

namespace kq {

namespace {

constexpr const char* kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

template <typename... Args>
std::string format(const char* pattern, Args... args) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, pattern, args...);
  return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

const char* nameAt(const char* const* names, int count, int index) {
  return index >= 0 && index < count ? names[index] : "???";
}

}  // namespace

std::string LogPaths::rotated(const LocalTime& day) const {
  return logFolder + "\\Filesync_" + format("%04d-%02d-%02d", day.year, day.month, day.day) + ".log";
}

std::string LogPaths::rotatedBySize(const LocalTime& t) const {
  return logFolder + "\\Filesync_" +
         format("%04d-%02d-%02d_%02d-%02d-%02d", t.year, t.month, t.day, t.hour, t.minute, t.second) +
         ".log";
}

bool LogPaths::isRetired(const std::string& name) {
  const std::string prefix = "Filesync_", suffix = ".log";
  return name.size() > prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string logLine(const LocalTime& t, const std::string& text) {
  return format("%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second) +
         " : " + text;
}

std::string logStartTime(const LocalTime& t) {
  return format("%s %s %02d %04d %02d:%02d:%02d.%03d", nameAt(kWeekdays, 7, t.weekday),
                nameAt(kMonths, 12, t.month - 1), t.day, t.year, t.hour, t.minute, t.second,
                t.millisecond);
}

std::string maskedKey(const std::string& key) {
  return key.size() > 4 ? "****" + key.substr(key.size() - 4) : "****";
}

std::string logHeader(const LocalTime& start, const ConfigFields& fields) {
  const std::string crlf = "\r\n";
  return "Log started:\t\t\t" + logStartTime(start) + crlf +
         "Product version:\t\t" + kProductVersion + crlf +
         "Server:\t\t\t \t" + fields.host + crlf +
         "Contract:\t\t \t" + fields.contract + crlf +
         "API key:\t\t \t" + maskedKey(fields.apiKey) + crlf +
         "Protocol:\t\t\t" + fields.protocol + crlf +
         "Filesync folder:\t\t" + fields.syncFolder + crlf + crlf;
}

std::optional<std::int64_t> parseStamp(const std::string& stampText) {
  std::string first = stampText.substr(0, stampText.find_first_of("\r\n"));
  if (first.empty()) return std::nullopt;
  auto begin = first.find_first_not_of(" \t");
  auto end = first.find_last_not_of(" \t");
  if (begin == std::string::npos) return 0;
  std::int64_t value = 0;
  const char* last = first.data() + end + 1;
  auto [ptr, ec] = std::from_chars(first.data() + begin, last, value);
  return ec == std::errc() && ptr == last ? value : 0;
}

}  // namespace kq
