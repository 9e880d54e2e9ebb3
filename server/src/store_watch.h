#pragma once
// StoreWatch tells a store's scan when it is needed. It watches every folder
// the last full scan read with inotify; a cycle after which no event came,
// whose store folder is the same one, and whose last full scan is younger
// than the safety interval needs no scan. Without inotify, or once a folder
// cannot be watched, every cycle scans; an overflow of the event queue asks
// for one full scan (logged once). Where other kqsyncd nodes change the same
// store (the index in a shared database), their writes raise no local event:
// the index's change feed (a question, true once after another node changed
// the contract) asks for a scan as an event does.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>

struct inotify_event;

namespace kqs {

class StoreWatch {
 public:
  using Logger = std::function<void(const std::string&)>;
  static constexpr std::int64_t kSafetySeconds = 600;

  // useInotify false: every cycle scans (as when inotify is not available).
  StoreWatch(std::string root, Logger log, bool useInotify = true, std::int64_t safetySeconds = kSafetySeconds);
  // changedElsewhere: the change feed of the other nodes (empty: none).
  StoreWatch(std::string root, Logger log, std::function<bool()> changedElsewhere,
             std::int64_t safetySeconds = kSafetySeconds);
  ~StoreWatch();
  StoreWatch(const StoreWatch&) = delete;
  StoreWatch& operator=(const StoreWatch&) = delete;

  // needsScan takes the events that arrived and says whether a full scan is
  // due at now (seconds): never scanned, an event, an overflow, a store
  // folder that is another one now, no watch, or the safety interval passed.
  bool needsScan(std::int64_t now);
  // scanStarting: a full scan begins; events from here on ask for the next.
  void scanStarting(std::int64_t now);
  // watchFolder watches one folder; the scan calls it before reading the folder.
  void watchFolder(const std::string& diskPath);
  // scanFailed: the scan stopped; the next cycle scans again.
  void scanFailed() { dirty_ = true; }
  // take handles one event (the queue's reader, and tests).
  void take(const inotify_event& event);
  bool watching() const { return fd_ >= 0; }

 private:
  void drain();
  void giveUp(const std::string& why);

  std::string root_;
  Logger log_;
  std::int64_t safetySeconds_;
  int fd_ = -1;
  bool dirty_ = true;
  bool overflowSaid_ = false;
  std::int64_t lastScan_ = 0;
  dev_t rootDev_ = 0;
  ino_t rootIno_ = 0;
  std::unordered_set<int> watches_;
  std::function<bool()> changedElsewhere_;
};

}  // namespace kqs
