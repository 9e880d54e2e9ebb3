#include "protocol/change_report.h"

#include <algorithm>

#include "config/config_store.h"
#include "log/log.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/links.h"
#include "platform/time_text.h"
#include "platform/views.h"
#include "tracking/change_tracker.h"

namespace kq {

namespace {

// lastName is the text after the last separator; a trail byte 0x5C of a
// double-byte character is no separator.
std::string lastName(const std::string& path) {
  const CodePage& page = activeCodePage();
  std::size_t start = 0;
  for (std::size_t pos = 0; pos < path.size();) {
    std::size_t n = page.characterLength(path, pos);
    if (n == 1 && path[pos] == '\\') start = pos + 1;
    pos += n;
  }
  return path.substr(start);
}

}  // namespace

std::optional<std::string> toServerPath(const std::string& fullPath, const std::string& syncFolder) {
  std::string folder = syncFolder;
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  if (folder.empty()) return std::nullopt;
  std::string prefix = folder + "\\";
  if (fullPath.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  return replaceCharacter(activeCodePage(), std::string_view(fullPath).substr(folder.size()), '\\', '/');
}

bool sendPacketANCHG(std::string date, std::string time, const RequestId& requestId,
                     ChangeRecord change, ServerLink& link, Clock& clock, Log& log) {
  try {
    log.writeTrace("ANCHG ===>");
    if (date.empty()) {
      LocalTime now = clock.now();
      date = dateText(now, '-');
      time = timeText(now, ':');
    }
    std::string json = encodeChangeReport(date, time, change);
    log.writeTrace("JSON to Server:");
    log.writeTrace(json);
    log.writeTrace("JSON buffer length: " + std::to_string(json.size()));
    std::string packet = encodeHeader({"ANCHG", requestId, json.size()}) + json;
    hexDump(packet, 16, false, &log);
    if (link.send(packet)) return true;
  } catch (...) {
  }
  log.writeLog("Error: sendPacketANCHG()", true);
  return false;
}

void ChangeReport::onMember(const std::string& key, const std::string& value, PacketContext&) {
  tracker_.setServerBusy();
  if (key == "\"date\"") {
    serverDate = value;
  } else if (key == "\"time\"") {
    taken_.reset();
    ChangeRecord change = nextChange();
    if (sendPacketANCHG(serverDate, "", state_.currentRequestId, change, link_, clock_, log_)) {
      if (taken_) unconfirmed_ = taken_;
    } else if (taken_) {
      giveBack(*taken_);
    }
    taken_.reset();
  } else if (key == "\"filesleft\"") {
    status_.setPanel(4, "Files left: " + value);
  } else if (key == "\"mbytesleft\"") {
    status_.setPanel(5, "MB left: " + value);
  }
}

// onRequestHeader also looks for received files deleted since: at the first
// change request of a round, before the queues answer it, and when a listing
// is asked for, before it is walked.
void ChangeReport::onRequestHeader(int code) {
  unconfirmed_.reset();
  if (code == kRQFLS) {
    roundEnded_ = true;
  } else if (code == kRQLST) {
    tracker_.onListingAsked();
  } else if (code == kRQCHG && roundEnded_) {
    roundEnded_ = false;
    tracker_.reportDeletedReceived();
  }
}

void ChangeReport::onSessionClosed() {
  if (unconfirmed_) giveBack(*unconfirmed_);
  unconfirmed_.reset();
}

void ChangeReport::giveBack(const TakenChange& taken) {
  auto has = [](const auto& queue, const auto& entry) {
    return std::find(queue.begin(), queue.end(), entry) != queue.end();
  };
  std::string path = taken.queue == TakenChange::Queue::Rename ? taken.rename.oldPath : taken.path;
  bool queued = false;
  switch (taken.queue) {
    case TakenChange::Queue::Rename:
      queued = !has(tracker_.renameQueue, taken.rename);
      if (queued) tracker_.renameQueue.push_front(taken.rename);
      break;
    case TakenChange::Queue::Modification:
      queued = !tracker_.isQueuedModification(path);
      if (queued) tracker_.modificationQueue.push_front(path);
      break;
    case TakenChange::Queue::Deletion:
      // A modification queued since means the file is back: the deletion is out of date.
      queued = !has(tracker_.deleteQueue, path) && !tracker_.isQueuedModification(path);
      if (queued) tracker_.deleteQueue.push_front(path);
      break;
  }
  if (queued) log_.writeLog("Change report not confirmed by the server, queued again: " + path, true);
}

ChangeRecord ChangeReport::nextChange() {
  std::string folder = config_.syncFolder();
  ChangeRecord change;
  // While the sync folder is missing its queued changes wait: it may come back as it was.
  if (!fs_.isFolder(folder)) return change;
  for (;;) {
    bool reported;
    if (!tracker_.renameQueue.empty()) {
      reported = takeRename(folder, change);
    } else if (!tracker_.modificationQueue.empty()) {
      reported = takeModification(folder, change);
    } else if (!tracker_.deleteQueue.empty()) {
      reported = takeDeletion(folder, change);
    } else {
      return ChangeRecord{};
    }
    if (reported) return change;
  }
}

bool ChangeReport::takeRename(const std::string& folder, ChangeRecord& change) {
  RenameEntry entry = tracker_.renameQueue.front();
  log_.writeLog("Preparing the directory/file to rename for the Server", true);
  log_.writeLog("Old name", true);
  log_.writeLog(entry.oldPath, true);
  log_.writeLog("New name", true);
  log_.writeLog(entry.newPath, true);
  if (fs_.isFolder(entry.newPath)) entry.oldPath += "\\";
  auto serverPath = serverPathOrDrop(entry.oldPath, folder);
  if (serverPath) {
    change = {*serverPath, 0, "RENAMED", lastName(entry.newPath)};
    taken_ = TakenChange{TakenChange::Queue::Rename, tracker_.renameQueue.front(), ""};
  }
  tracker_.renameQueue.pop_front();
  return serverPath.has_value();
}

bool ChangeReport::takeModification(const std::string& folder, ChangeRecord& change) {
  std::string path = tracker_.modificationQueue.front();
  log_.writeLog("Preparing the file for the Server:", true);
  log_.writeLog(path, true);
  std::int64_t size = sizeOf(path);
  auto serverPath = serverPathOrDrop(path, folder);
  if (serverPath) {
    log_.writeLog("Server filepath: " + *serverPath, true);
    change = {*serverPath, size, "MODIFIED", ""};
    taken_ = TakenChange{TakenChange::Queue::Modification, {}, path};
  }
  tracker_.modificationQueue.pop_front();
  return serverPath.has_value();
}

bool ChangeReport::takeDeletion(const std::string& folder, ChangeRecord& change) {
  std::string path = tracker_.deleteQueue.front();
  if (fs_.exists(path)) {
    // Something stands at the path again (a file made a folder, or the reverse):
    // the server learns of it from its report or the listing, not as a deletion.
    tracker_.deleteQueue.pop_front();
    log_.writeLog("Deletion dropped, the item is there again: " + path, true);
    return false;
  }
  log_.writeLog("Sending file deleting request:", true);
  status_.setPanel(1, "Sending delete request");
  log_.writeLog(path, true);
  std::int64_t size = sizeOf(path);
  auto serverPath = serverPathOrDrop(path, folder);
  if (serverPath) {
    log_.writeLog("Server filepath: " + *serverPath, true);
    change = {*serverPath, size, "DELETED", ""};
    taken_ = TakenChange{TakenChange::Queue::Deletion, {}, path};
  }
  tracker_.deleteQueue.pop_front();
  return serverPath.has_value();
}

std::optional<std::string> ChangeReport::serverPathOrDrop(const std::string& path,
                                                          const std::string& folder) {
  auto serverPath = toServerPath(path, folder);
  if (!serverPath) log_.writeLog("Change outside the sync folder dropped: " + path, true);
  return serverPath;
}

std::int64_t ChangeReport::sizeOf(const std::string& path) {
  try {
    FileStatus status = fs_.status(path);
    return status.type == EntryType::File ? static_cast<std::int64_t>(status.size) : -1;
  } catch (...) {
    log_.writeLog("Error in get file_size() for file!", true);
    return 0;
  }
}

}  // namespace kq
