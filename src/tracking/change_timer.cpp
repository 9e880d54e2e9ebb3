#include "tracking/change_timer.h"

#include "config/config_store.h"
#include "log/log.h"
#include "platform/error_reporter.h"
#include "platform/links.h"
#include "platform/views.h"
#include "tracking/change_tracker.h"

namespace kq {

void ChangeTimer::changeTimerTick() {
  try {
    tick();
  } catch (...) {
    log_.writeLog("Error in CheckChangesTimer()", true);
  }
}

void ChangeTimer::tick() {
  const std::size_t deletionsAtStart = tracker_.deleteQueue.size();
  if (!watcher_.isActive()) {
    log_.writeLog("Connecting to service...", true);
    connectWatcher();
  }
  try {
    config_.reload();
  } catch (const std::exception& e) {
    errors_.reportError(e.what());
    return;
  }
  if (!server_.isActive()) status_.setPanel(0, "Disconnected");
  tracker_.resetServerQueueIfIdle(deletionsAtStart);
}

// connectWatcher starts an attempt; a refused one goes to the error reporting and
// the link stays inactive until the next tick.
void ChangeTimer::connectWatcher() {
  try {
    watcher_.activate();
  } catch (const LinkError& e) {
    errors_.reportError(e.what());
  }
}

}  // namespace kq
