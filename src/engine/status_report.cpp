#include "engine/status_report.h"

#include "engine/timer_schedule.h"
#include "platform/codepage.h"
#include "protocol/request_handler.h"
#include "tracking/change_tracker.h"
#include "tracking/sync_folder_monitor.h"
#include "transfer/file_receiver.h"

namespace kq {

std::string shownName(const std::string& localPath, const std::string& syncFolder) {
  std::string name = localPath;
  if (name.rfind(syncFolder + "\\", 0) == 0) name = name.substr(syncFolder.size() + 1);
  for (char& c : name)
    if (c == '\\') c = '/';
  return cp1252ToUtf8(name);
}

std::optional<TransferProgress> StatusReport::receiving() {
  const FileReceiver& r = s_.receiver;
  const bool underWay = s_.protocol.fileDataMode && !r.receivingFileName.empty() &&
                        r.receivedFileBytes < r.expectedFileSize;
  if (!underWay) {
    receiveMeter_.reset();
    return std::nullopt;
  }
  return receiveMeter_.sample(shownName(r.receivingFileName, s_.ports.config.syncFolder()),
                              static_cast<std::int64_t>(r.receivedFileBytes),
                              static_cast<std::int64_t>(r.expectedFileSize), s_.ports.clock.epochMillis());
}

EngineStatus StatusReport::current() {
  EngineStatus status;
  status.connected = s_.ports.server.isActive();
  const ConfigFields& fields = s_.ports.config.fields;
  status.server = fields.host + ":" + fields.port;
  status.watcherLinkUp = s_.ports.watcher.isActive();
  status.syncFolderPresent = !s_.syncFolder.missing();
  status.queuedModifications = static_cast<int>(s_.tracker.modificationQueue.size());
  status.queuedDeletions = static_cast<int>(s_.tracker.deleteQueue.size());
  status.activity = s_.activity;
  status.receiving = receiving();
  status.sending = sending_;
  status.failedItems = s_.failed.items();
  status.lastError = lastError_;
  status.cycleEndedAt = cycleEndedAt_;
  return status;
}

void StatusReport::publish() {
  publishedAtMs_ = s_.ports.clock.epochMillis();
  s_.out.publish(current());
}

void StatusReport::onSendProgress(const std::string& path, std::uint64_t done, std::uint64_t total) {
  if (done >= total) {
    endOfReadEvent();
    return;
  }
  const std::int64_t now = s_.ports.clock.epochMillis();
  sending_ = sendMeter_.sample(shownName(path, s_.ports.config.syncFolder()), static_cast<std::int64_t>(done),
                               static_cast<std::int64_t>(total), now);
  if (now - publishedAtMs_ >= timers::kStatusMs) publish();
}

}  // namespace kq
