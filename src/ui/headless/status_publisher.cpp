#include "ui/headless/status_publisher.h"

#include "platform/posix/native_text.h"

namespace kq {

void applyStatus(ClientState& s, const EngineStatus& e) {
  s.connected = e.connected;
  s.watcherConnected = e.watcherLinkUp;
  s.syncFolderPresent = e.syncFolderPresent;
  s.activity = e.activity == "Listening..." ? "" : nativeText(e.activity);
  s.queuedModifications = e.queuedModifications;
  s.queuedDeletions = e.queuedDeletions;
  s.lastCycleEnd = e.cycleEndedAt;
  s.failed = e.failedItems;
  s.failedItems = static_cast<int>(e.failedItems.size());
  s.transfer = e.receiving;
  s.sending = e.sending;
  s.lastError = nativeText(e.lastError);
  s.refusalsInARow = e.refusalsInARow;
  for (FailedItem& item : s.failed) item.reason = nativeText(item.reason);
}

void StatePublisher::publish(const EngineStatus& status) {
  ClientState next = state_;
  applyStatus(next, status);
  next.syncFolderLocked = folderLocked_;
  next.updated = state_.updated;
  if (stateJson(next) != stateJson(state_)) dirty_ = true;
  state_ = std::move(next);
  write();
}

void StatePublisher::stopped() {
  state_.connected = false;
  state_.watcherConnected = false;
  state_.syncFolderLocked = false;
  state_.transfer.reset();
  state_.sending.reset();
  dirty_ = true;
  write();
}

void StatePublisher::write() {
  if (!dirty_) return;
  state_.updated = now_();
  dirty_ = !writeStateFile(path_, stateJson(state_));
}

}  // namespace kq
