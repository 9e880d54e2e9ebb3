#include "log/log.h"

#include "log/log_format.h"

namespace kq {

void Logger::writeLog(const std::string& text, bool show) {
  try {
    write(text, show);
  } catch (...) {
    // Logging is called from error handlers: it never reports a failure of its own.
  }
}

void Logger::write(const std::string& text, bool show) {
  std::string folder = config_.syncFolder();
  if (folder.empty()) return;
  LocalTime now = clock_.now();
  std::string line = logLine(now, text);
  showLine(line, show);
  LogPaths paths(folder);
  // A missing stamp retires the current file; without a file the rename fails quietly.
  if (!fs_.exists(paths.stampFile)) (void)fs_.rename(paths.logFile, paths.rotated(now));
  if (!fs_.exists(paths.logFile))
    startLogFile(paths, now, line);
  else
    appendLine(paths, now, line, show);
}

void Logger::showLine(const std::string& line, bool show) {
  try {
    view_.prepare();
    if (show) view_.add(line);
  } catch (...) {
    // A failing window must not keep the line from the file.
  }
}

void Logger::startLogFile(const LogPaths& paths, const LocalTime& now, const std::string& line) {
  if (fs_.createFolders(paths.configFolder)) (void)fs_.setAttributes(paths.configFolder, true, true);
  if (!fs_.createFolders(paths.logFolder)) return;  // e.g. the drive is not there: try next call
  (void)fs_.setAttributes(paths.logFolder, true, false);
  if (config_.configFileExists()) {
    try {
      config_.reload();
    } catch (...) {
      // The header then shows the values read before.
    }
  }
  if (!fs_.appendText(paths.logFile, logHeader(now, config_.fields) + line + "\r\n")) return;
  (void)fs_.writeText(paths.stampFile, std::to_string(clock_.epochMillis()));
}

void Logger::appendLine(const LogPaths& paths, const LocalTime& now, const std::string& line,
                        bool show) {
  std::int64_t nowMs = clock_.epochMillis();
  std::int64_t age = 0;
  if (auto text = fs_.readText(paths.stampFile)) {
    if (auto start = parseStamp(*text)) age = nowMs - *start;
  }
  if (age < 0) {
    // The clock was set back: restart the count instead of waiting for the old date.
    (void)fs_.writeText(paths.stampFile, std::to_string(nowMs));
    age = 0;
  }
  if (show) (void)fs_.appendText(paths.logFile, line + "\r\n");
  if (age / kDayMs >= kLogMaxAgeDays) (void)fs_.rename(paths.logFile, paths.rotated(now));
}

}  // namespace kq
