#include "engine/known_files_keeper.h"

#include "log/log.h"
#include "platform/clock.h"
#include "tracking/change_tracker.h"
#include "tracking/known_files.h"

namespace kq {

void KnownFilesKeeper::atStart() {
  if (syncFolder_().empty()) return;  // no configuration yet: nothing to compare
  (void)known_.findChanges(syncFolder_());
  save();
}

void KnownFilesKeeper::tick() {
  if (!cycleEnded_ || clock_.epochMillis() - savedAtMs_ < kSaveEveryMs) return;
  save();
}

void KnownFilesKeeper::atStop() {
  if (!tracker_.modificationQueue.empty()) {
    log_.writeLog("The list of known files is not saved: " + std::to_string(tracker_.modificationQueue.size()) +
                      " changes were not sent yet and are looked for again at the next start",
                  true);
    return;
  }
  save();
}

void KnownFilesKeeper::save() {
  if (!tracker_.modificationQueue.empty()) return;  // found again from the older list
  if (syncFolder_().empty()) return;
  savedAtMs_ = clock_.epochMillis();
  cycleEnded_ = false;
  if (!known_.remember(syncFolder_())) log_.writeLog("The list of known files cannot be saved", true);
}

}  // namespace kq
