#pragma once
// writeLog is the single logging routine: it stamps a message with the local
// date and time, shows it in the Client Log (LogView) and appends it to
// "_log\Filesync.log" in the sync folder, with a header block, a start stamp in
// "time.inf" and rotation to "Filesync_yyyy-mm-dd.log".
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
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
  // writeTrace logs a line of the per-packet protocol trace: shown like any
  // other line, written to the file only where the trace is switched on.
  virtual void writeTrace(const std::string& text) { writeLog(text, true); }
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
//
// The log file stays open between lines. What the disk holds (the sync folder,
// "time.inf", the file itself) is looked at again at most every kRecheckMs,
// by whichever line comes first after that; in between a shown line is one
// write, its size and the cached start stamp decide the rotation, and a line
// that is not shown costs a look at the clock. A write that fails closes the
// file and looks at the disk again at once.
class Logger : public Log {
 public:
  static constexpr std::size_t kMaxHeldLines = 1000;
  static constexpr std::int64_t kRecheckMs = 1000;

  Logger(FileSystem& fs, Clock& clock, ConfigStore& config, LogView& view);
  ~Logger() override;
  void writeLog(const std::string& text, bool show) override;
  void writeTrace(const std::string& text) override;

  // fileTrace switches the protocol trace in the log file on or off.
  void setFileTrace(bool on) { fileTrace_ = on; }
  // heldLines are the shown lines waiting for the sync folder to return.
  const std::deque<std::string>& heldLines() const { return held_; }

 private:
  void write(const std::string& text, bool show, bool toFile);
  const std::string& stamp(std::int64_t nowMs);
  void showLine(const std::string& line, bool show);
  void hold(const std::string& line, bool show);
  bool appendOpen(const std::string& line, std::int64_t nowMs);
  void recheck(const std::string& folder, const std::string& line, bool show, std::int64_t nowMs);
  void writeHeld(const LogPaths& paths, std::int64_t nowMs);
  void writeLine(const LogPaths& paths, std::int64_t nowMs, const std::string& line, bool show);
  void startLogFile(const LogPaths& paths, std::int64_t nowMs, const std::string& line);
  void appendLine(const LogPaths& paths, std::int64_t nowMs, const std::string& line, bool show);
  bool appendToFile(const LogPaths& paths, const std::string& text);
  void retireIfDue(const LogPaths& paths, std::int64_t nowMs, bool show);
  void retire(const LogPaths& paths, const std::string& to);
  void pruneRetired(const LogPaths& paths);
  void closeFile();

  FileSystem& fs_;
  Clock& clock_;
  ConfigStore& config_;
  LogView& view_;
  std::deque<std::string> held_;
  std::uint64_t droppedLines_ = 0;
  bool fileTrace_ = false;
  // The open log file: its folder, its size, the start stamp of "time.inf".
  std::unique_ptr<OutputStream> file_;
  std::string fileFolder_;
  std::uint64_t fileSize_ = 0;
  std::int64_t startMs_ = 0;
  std::int64_t checkedAtMs_ = 0;
  // The "yyyy/mm/dd hh:nn:ss" of the second stampSecond_.
  std::int64_t stampSecond_ = -1;
  std::string stampText_;
  LocalTime stampTime_;
};

}  // namespace kq
