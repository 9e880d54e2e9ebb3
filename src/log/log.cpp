#include "log/log.h"

#include <algorithm>
#include <tuple>

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
  if (!fs_.isFolder(folder)) {
    hold(line, show);  // writing would create the sync folder anew
    return;
  }
  LogPaths paths(folder);
  writeHeld(paths, now);
  writeLine(paths, now, line, show);
}

void Logger::showLine(const std::string& line, bool show) {
  try {
    view_.prepare();
    if (show) view_.add(line);
  } catch (...) {
    // A failing window must not keep the line from the file.
  }
}

void Logger::hold(const std::string& line, bool show) {
  if (!show) return;
  if (held_.size() < kMaxHeldLines)
    held_.push_back(line);
  else
    ++droppedLines_;
}

// writeHeld writes the lines that waited for the sync folder, then the count of
// those that did not fit in memory.
void Logger::writeHeld(const LogPaths& paths, const LocalTime& now) {
  if (held_.empty() && droppedLines_ == 0) return;
  std::deque<std::string> lines;
  lines.swap(held_);
  for (const auto& line : lines) writeLine(paths, now, line, true);
  if (droppedLines_ > 0) {
    std::string note = "Log lines dropped while the sync folder was missing: " + std::to_string(droppedLines_);
    droppedLines_ = 0;
    writeLine(paths, now, logLine(now, note), true);
  }
}

void Logger::writeLine(const LogPaths& paths, const LocalTime& now, const std::string& line, bool show) {
  // A missing stamp retires the current file; without a file the rename fails quietly.
  if (!fs_.exists(paths.stampFile)) retire(paths, paths.rotated(now));
  if (!fs_.exists(paths.logFile))
    startLogFile(paths, now, line);
  else
    appendLine(paths, now, line, show);
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
  if (age / kDayMs >= kLogMaxAgeDays)
    retire(paths, paths.rotated(now));
  else if (show && fs_.status(paths.logFile).size >= kLogMaxBytes)
    retire(paths, paths.rotatedBySize(now));
}

// retire renames the current file (replacing a file of that name) and keeps only
// the newest retired files. The next call starts a new file.
void Logger::retire(const LogPaths& paths, const std::string& to) {
  if (!fs_.rename(paths.logFile, to)) return;
  pruneRetired(paths);
}

void Logger::pruneRetired(const LogPaths& paths) {
  struct Retired {
    std::int64_t modified, nanos;
    std::string path;
  };
  std::vector<Retired> retired;
  const std::size_t prefix = paths.logFolder.size() + 1;
  (void)fs_.walk(paths.logFolder, [&](const WalkEntry& entry) {
    if (entry.type != EntryType::File || entry.path.size() <= prefix) return true;
    std::string name = entry.path.substr(prefix);
    if (name.find('\\') != std::string::npos || !LogPaths::isRetired(name)) return true;
    FileStatus st = fs_.status(entry.path);
    retired.push_back({st.modified, st.modifiedNanos, entry.path});
    return true;
  });
  const std::size_t keep = kLogKeptFiles - 1;  // the current file is the last of them
  if (retired.size() <= keep) return;
  std::sort(retired.begin(), retired.end(), [](const Retired& a, const Retired& b) {
    return std::tie(a.modified, a.nanos, a.path) < std::tie(b.modified, b.nanos, b.path);
  });
  for (std::size_t i = 0; i + keep < retired.size(); ++i) (void)fs_.remove(retired[i].path);
}

}  // namespace kq
