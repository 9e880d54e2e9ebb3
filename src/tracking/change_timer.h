#pragma once
// ChangeTimer does the work of the CheckChanges timer (every 5000 ms): keep the
// watcher link up, re-read the configuration, show "Disconnected" while the
// server link is down and empty serverQueue once the server is idle.
namespace kq {

class ChangeTracker;
class ConfigStore;
class ErrorReporter;
class Log;
class ServerLink;
class StatusView;
class WatcherLink;

class ChangeTimer {
 public:
  ChangeTimer(ChangeTracker& tracker, WatcherLink& watcher, ServerLink& server,
              ConfigStore& config, StatusView& status, Log& log, ErrorReporter& errors)
      : tracker_(tracker), watcher_(watcher), server_(server), config_(config),
        status_(status), log_(log), errors_(errors) {}

  // changeTimerTick is the CheckChangesTimer handler. A configuration that cannot
  // be read is reported to ErrorReporter and ends the tick (the settings read
  // before stay in force); any other failure logs "Error in CheckChangesTimer()".
  void changeTimerTick();

 private:
  void tick();
  void connectWatcher();

  ChangeTracker& tracker_;
  WatcherLink& watcher_;
  ServerLink& server_;
  ConfigStore& config_;
  StatusView& status_;
  Log& log_;
  ErrorReporter& errors_;
};

}  // namespace kq
