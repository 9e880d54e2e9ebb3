#pragma once
// KnownFilesKeeper decides when the list of known files is read and saved:
// at start the sync folder is compared with it (changes made while the client
// was stopped go to the tracker) and saved anew; afterwards it is saved from
// the engine's StatusTimer once a server cycle has ended, at most every
// kSaveEveryMs, and once at stop. A list is never saved while modifications
// wait to be sent: the saved list would hold their new state, and a stop
// before they are sent would lose them.
#include <cstdint>
#include <functional>
#include <string>

namespace kq {

class ChangeTracker;
class Clock;
class KnownFiles;
class Log;

class KnownFilesKeeper {
 public:
  static constexpr std::int64_t kSaveEveryMs = 30000;

  KnownFilesKeeper(KnownFiles& known, ChangeTracker& tracker, Clock& clock, Log& log,
                   std::function<std::string()> syncFolder)
      : known_(known), tracker_(tracker), clock_(clock), log_(log), syncFolder_(std::move(syncFolder)) {}

  void atStart();
  void onCycleEnded() { cycleEnded_ = true; }
  void tick();
  void atStop();

 private:
  void save();

  KnownFiles& known_;
  ChangeTracker& tracker_;
  Clock& clock_;
  Log& log_;
  std::function<std::string()> syncFolder_;
  std::int64_t savedAtMs_ = 0;
  bool cycleEnded_ = false;
};

}  // namespace kq
