#pragma once
// writeLog is the single logging routine: it stamps a message with the local
// date and time, shows it in the Client Log (LogView) and appends it to
// "_log\Filesync.log" in the sync folder, with a header block, a start stamp in
// "time.inf" and rotation to "Filesync_yyyy-mm-dd.log".
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "config/config_store.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace kq {

// LogView is the model of the Client Log window's text: it is cleared when it
// holds more than 10,000 lines before a line is added.
class LogView {
 public:
  static constexpr std::size_t kMaxLines = 10000;
  // prepare clears the view when it holds more than kMaxLines lines.
  void prepare();
  void add(const std::string& line);
  const std::vector<std::string>& lines() const { return lines_; }
  // onChange is called after every change (cleared = the view was emptied).
  std::function<void(const std::string* addedLine, bool cleared)> onChange;

 private:
  std::vector<std::string> lines_;
};

// Log is the port every subsystem logs through; Logger is the real one.
class Log {
 public:
  virtual ~Log() = default;
  // writeLog never throws. text is 8-bit ANSI text.
  virtual void writeLog(const std::string& text, bool show) = 0;
};

struct LogPaths;

// Logger writes to the Client Log view and to "_log\Filesync.log" of the sync
// folder of config's main record. It does nothing while that folder is unknown.
// It never creates the sync folder itself: while the folder is missing, shown
// lines wait in memory (at most kMaxHeldLines; later ones are only counted)
// and are written, followed by a line with the count of the dropped ones, once
// the folder is back. When the log folder cannot be created the line still
// reaches the view and the next call tries again; a start stamp that lies in
// the future (the clock was set back) is reset to the current time, so the
// 30-day rotation counts from then. A file is also retired once it reaches
// kLogMaxBytes; only the newest retired files are kept (kLogKeptFiles in all).
class Logger : public Log {
 public:
  static constexpr std::size_t kMaxHeldLines = 1000;

  Logger(FileSystem& fs, Clock& clock, ConfigStore& config, LogView& view)
      : fs_(fs), clock_(clock), config_(config), view_(view) {}
  void writeLog(const std::string& text, bool show) override;

  // heldLines are the shown lines waiting for the sync folder to return.
  const std::deque<std::string>& heldLines() const { return held_; }

 private:
  void write(const std::string& text, bool show);
  void showLine(const std::string& line, bool show);
  void hold(const std::string& line, bool show);
  void writeHeld(const LogPaths& paths, const LocalTime& now);
  void writeLine(const LogPaths& paths, const LocalTime& now, const std::string& line, bool show);
  void startLogFile(const LogPaths& paths, const LocalTime& now, const std::string& line);
  void appendLine(const LogPaths& paths, const LocalTime& now, const std::string& line, bool show);
  void retire(const LogPaths& paths, const std::string& to);
  void pruneRetired(const LogPaths& paths);

  FileSystem& fs_;
  Clock& clock_;
  ConfigStore& config_;
  LogView& view_;
  std::deque<std::string> held_;
  std::uint64_t droppedLines_ = 0;
};

}  // namespace kq
