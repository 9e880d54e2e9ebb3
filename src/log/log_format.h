#pragma once
// The texts of the log: the stamped line, the header block that opens a log
// file, the names of the log files and the start stamp in "time.inf".
#include <cstdint>
#include <optional>
#include <string>

#include "config/client_config.h"
#include "platform/clock.h"

namespace kq {

inline constexpr const char* kProductVersion = "0.4.2";
inline constexpr std::int64_t kDayMs = 86400000;
inline constexpr std::int64_t kLogMaxAgeDays = 30;
// A log file is also retired once it holds kLogMaxBytes; the current file and
// the newest retired ones make at most kLogKeptFiles files.
inline constexpr std::uint64_t kLogMaxBytes = 10ull * 1024 * 1024;
inline constexpr std::size_t kLogKeptFiles = 5;

// LogPaths are the folders and files of the log below the sync folder.
struct LogPaths {
  explicit LogPaths(const std::string& folder)
      : syncFolder(folder),
        configFolder(folder + "\\_config"),
        logFolder(folder + "\\_log"),
        logFile(logFolder + "\\Filesync.log"),
        stampFile(logFolder + "\\time.inf") {}
  // rotated is the name a retired log file gets on the given day: "Filesync_yyyy-mm-dd.log".
  std::string rotated(const LocalTime& day) const;
  // rotatedBySize is the name of a file retired for its size:
  // "Filesync_yyyy-mm-dd_hh-nn-ss.log".
  std::string rotatedBySize(const LocalTime& time) const;
  // isRetired tells whether a file name (without folder) is that of a retired log file.
  static bool isRetired(const std::string& name);

  std::string syncFolder, configFolder, logFolder, logFile, stampFile;
};

// logLine is "yyyy/mm/dd hh:nn:ss : " followed by text.
std::string logLine(const LocalTime& time, const std::string& text);
// logStartTime is "%a %b %d %Y %T" with English names, then "." and three-digit milliseconds.
std::string logStartTime(const LocalTime& time);
// maskedKey is how an API key appears in a log: "****" and its last four
// characters ("****uvwx"); a key of four characters or fewer is "****".
std::string maskedKey(const std::string& key);

// logHeader is the block that opens a log file, ending in an empty line (CR LF line breaks).
std::string logHeader(const LocalTime& start, const ConfigFields& fields);
// parseStamp reads the first line of "time.inf"; nullopt when it is empty, 0 when it
// is not a number.
std::optional<std::int64_t> parseStamp(const std::string& stampText);

}  // namespace kq
