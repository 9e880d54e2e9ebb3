#include "log/log.h"

#include <algorithm>
#include <tuple>

#include "log/log_format.h"

namespace kq {

Logger::Logger(FileSystem& fs, Clock& clock, ConfigStore& config, LogView& view)
    : fs_(fs), clock_(clock), config_(config), view_(view) {}

Logger::~Logger() { closeFile(); }

void Logger::writeLog(const std::string& text, bool show) {
  try {
    write(text, show, true);
  } catch (...) {
    // Logging is called from error handlers: it never reports a failure of its own.
  }
}

void Logger::writeTrace(const std::string& text) {
  try {
    write(text, true, fileTrace_);
  } catch (...) {
  }
}

// write shows the line when show is set and hands it to the file when toFile
// is set too; the disk is looked at only when a recheck is due.
void Logger::write(const std::string& text, bool show, bool toFile) {
  std::string folder = config_.syncFolder();
  if (folder.empty()) return;
  const std::int64_t nowMs = clock_.epochMillis();
  const bool due = !file_ || folder != fileFolder_ || nowMs - checkedAtMs_ >= kRecheckMs || nowMs < checkedAtMs_;
  const bool fileShow = show && toFile;
  if (!show && !due) {
    showLine(std::string(), false);
    return;
  }
  std::string line = stamp(nowMs) + text;
  showLine(line, show);
  if (due)
    recheck(folder, line, fileShow, nowMs);
  else if (fileShow && !appendOpen(line, nowMs))
    recheck(folder, line, true, nowMs);  // the kept file failed: look at the disk again
}

// stamp is "yyyy/mm/dd hh:nn:ss : " for nowMs, read from the clock once a second.
const std::string& Logger::stamp(std::int64_t nowMs) {
  std::int64_t second = nowMs / 1000;
  if (second != stampSecond_) {
    stampTime_ = clock_.now();
    stampText_ = logLine(stampTime_, "");
    stampSecond_ = second;
  }
  return stampText_;
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

// appendOpen writes a line to the kept file and retires it when its age or size
// says so; false when the write failed (the file is closed then).
bool Logger::appendOpen(const std::string& line, std::int64_t nowMs) {
  std::string text = line + "\r\n";
  if (!file_->write(text.data(), text.size())) {
    closeFile();
    return false;
  }
  fileSize_ += text.size();
  if ((nowMs - startMs_) / kDayMs >= kLogMaxAgeDays || fileSize_ >= kLogMaxBytes)
    retireIfDue(LogPaths(fileFolder_), nowMs, true);
  return true;
}

void Logger::recheck(const std::string& folder, const std::string& line, bool show, std::int64_t nowMs) {
  checkedAtMs_ = nowMs;
  if (!fs_.isFolder(folder)) {
    closeFile();
    hold(line, show);  // writing would create the sync folder anew
    return;
  }
  closeFile();  // opened again below: the file on the disk may have been moved or replaced
  LogPaths paths(folder);
  writeHeld(paths, nowMs);
  writeLine(paths, nowMs, line, show);
}

// writeHeld writes the lines that waited for the sync folder, then the count of
// those that did not fit in memory.
void Logger::writeHeld(const LogPaths& paths, std::int64_t nowMs) {
  if (held_.empty() && droppedLines_ == 0) return;
  std::deque<std::string> lines;
  lines.swap(held_);
  for (const auto& line : lines) writeLine(paths, nowMs, line, true);
  if (droppedLines_ > 0) {
    std::string note = "Log lines dropped while the sync folder was missing: " + std::to_string(droppedLines_);
    droppedLines_ = 0;
    writeLine(paths, nowMs, stamp(nowMs) + note, true);
  }
}

void Logger::writeLine(const LogPaths& paths, std::int64_t nowMs, const std::string& line, bool show) {
  // A missing stamp retires the current file; without a file the rename fails quietly.
  if (!fs_.exists(paths.stampFile)) retire(paths, paths.rotated(stampTime_));
  if (!fs_.exists(paths.logFile)) {
    closeFile();
    startLogFile(paths, nowMs, line);
  } else {
    appendLine(paths, nowMs, line, show);
  }
}

void Logger::startLogFile(const LogPaths& paths, std::int64_t nowMs, const std::string& line) {
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
  fileFolder_ = paths.syncFolder;
  fileSize_ = 0;
  if (!appendToFile(paths, logHeader(clock_.now(), config_.fields) + line + "\r\n")) return;
  (void)fs_.writeText(paths.stampFile, std::to_string(nowMs));
  startMs_ = nowMs;
}

// appendLine writes to a log file found on the disk: the start stamp is read
// again and the file opened when it is not open yet.
void Logger::appendLine(const LogPaths& paths, std::int64_t nowMs, const std::string& line, bool show) {
  startMs_ = nowMs;  // an empty stamp: age 0
  if (auto text = fs_.readText(paths.stampFile)) {
    if (auto start = parseStamp(*text)) startMs_ = *start;
  }
  if (startMs_ > nowMs) {
    // The clock was set back: restart the count instead of waiting for the old date.
    (void)fs_.writeText(paths.stampFile, std::to_string(nowMs));
    startMs_ = nowMs;
  }
  if (show && !appendToFile(paths, line + "\r\n")) return;
  retireIfDue(paths, nowMs, show);
}

// appendToFile writes text to the log file, opening it when it is not open.
bool Logger::appendToFile(const LogPaths& paths, const std::string& text) {
  if (!file_) {
    file_ = fs_.openAppend(paths.logFile);
    if (!file_) return false;
    fileFolder_ = paths.syncFolder;
    fileSize_ = fs_.status(paths.logFile).size;
  }
  if (!file_->write(text.data(), text.size())) {
    closeFile();
    return false;
  }
  fileSize_ += text.size();
  return true;
}

void Logger::retireIfDue(const LogPaths& paths, std::int64_t nowMs, bool show) {
  if ((nowMs - startMs_) / kDayMs >= kLogMaxAgeDays)
    retire(paths, paths.rotated(stampTime_));
  else if (show && fileSize_ >= kLogMaxBytes)
    retire(paths, paths.rotatedBySize(stampTime_));
}

// retire renames the current file (replacing a file of that name) and keeps only
// the newest retired files. The next call starts a new file.
void Logger::retire(const LogPaths& paths, const std::string& to) {
  closeFile();
  if (!fs_.rename(paths.logFile, to)) return;
  pruneRetired(paths);
}

void Logger::closeFile() {
  if (file_) (void)file_->close();
  file_.reset();
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
