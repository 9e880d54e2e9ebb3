#include "engine/status_report.h"

#include <algorithm>

#include "engine/timer_schedule.h"
#include "platform/codepage.h"
#include "protocol/request_handler.h"
#include "tracking/change_tracker.h"
#include "tracking/sync_folder_monitor.h"
#include "transfer/file_receiver.h"
#include "wire/unicode_escape.h"
#include "wire/utf8.h"

namespace kq {

namespace {

// utf8Below is local path text below syncFolder in UTF-8: every shown name
// is converted here, from the active code page, as a whole (a trail byte of a
// double-byte character may look like "\\": separators are turned into "/"
// only after).
std::string utf8Below(const std::string& localPath, const std::string& syncFolder) {
  if (localPath.rfind(syncFolder + "\\", 0) == 0) return localToUtf8(localPath.substr(syncFolder.size() + 1));
  return localToUtf8(localPath);
}

}  // namespace

std::string shownName(const std::string& localPath, const std::string& syncFolder) {
  std::string name = utf8Below(localPath, syncFolder);
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

namespace {

// appendEscaped appends the character of the \u escape at value[i] (a
// surrogate pair taken as one) to out as UTF-8 and moves i to the escape's last
// character; false when no escape starts at i.
bool appendEscaped(std::string_view value, std::size_t& i, std::string& out) {
  auto escape = readUnicodeEscape(value, i);
  if (!escape) return false;
  appendUtf8(out, escape->codePoint);
  i += escape->length - 1;
  return true;
}

}  // namespace

std::string shownServerPath(std::string_view value) {
  std::string out, local;  // local: code-page bytes not yet converted
  auto flush = [&] {
    out += localToUtf8(local);
    local.clear();
  };
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (readUnicodeEscape(value, i)) {
      flush();
      appendEscaped(value, i, out);
    } else if (value[i] == '\\' && i + 1 < value.size()) {
      local += value[++i];  // \/ \\ \" stand for the character
    } else {
      local += value[i];
    }
  }
  flush();
  return out;
}

// shownUnsyncedName is a walked name that cannot be synchronised as the user
// knows it: its parent is local path text, the name itself is in the display
// form of the log lines (non-ASCII characters as \uXXXX, at or above U+0080,
// and a backslash in the name as \u005c).
std::string shownUnsyncedName(const std::string& localPath, const std::string& syncFolder) {
  const std::string text = utf8Below(localPath, syncFolder);
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto escape = readUnicodeEscape(text, i);
    if (escape && (escape->codePoint >= 0x80 || escape->codePoint == '\\')) {
      appendEscaped(text, i, out);
    } else {
      out += text[i] == '\\' ? '/' : text[i];
    }
  }
  return out;
}

std::vector<FailedItem> StatusReport::failedItems() const {
  std::vector<FailedItem> items;
  const std::string& folder = s_.ports.config.syncFolder();
  for (const FailedItem& item : s_.failed.items()) {
    // A server path as the request named it, or the local path of a file that failed on the disk.
    const bool serverPath = item.path.rfind("\\/", 0) == 0 || item.path.rfind("/", 0) == 0;
    items.push_back({serverPath ? shownServerPath(item.path) : "/" + shownName(item.path, folder), item.reason});
  }
  for (const auto& [path, reason] : s_.tracker.unsynced.names()) {
    FailedItem item{"/" + shownUnsyncedName(path, folder), reason};
    if (std::find(items.begin(), items.end(), item) == items.end()) items.push_back(std::move(item));
  }
  return items;
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
  status.bytesLeft = bytesLeft(status);
  status.failedItems = failedItems();
  status.lastError = lastError_;
  status.diskFull = s_.failed.diskFull();
  status.cycleEndedAt = cycleEndedAt_;
  return status;
}

std::int64_t StatusReport::bytesLeft(const EngineStatus& status) {
  std::int64_t left = queuedBytes_.total(s_.tracker.modificationQueue, sendingPath_);
  for (const auto& transfer : {status.receiving, status.sending})
    if (transfer) left += std::max<std::int64_t>(0, transfer->bytesTotal - transfer->bytesDone);
  return left;
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
  sendingPath_ = path;
  sending_ = sendMeter_.sample(shownName(path, s_.ports.config.syncFolder()), static_cast<std::int64_t>(done),
                               static_cast<std::int64_t>(total), now);
  if (now - publishedAtMs_ >= timers::kStatusMs) publish();
}

}  // namespace kq
