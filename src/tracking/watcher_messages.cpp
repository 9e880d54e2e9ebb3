#include "tracking/watcher_messages.h"

#include <algorithm>

#include "log/log.h"
#include "platform/file_system.h"

namespace kq {
namespace {

constexpr std::size_t kMinMessageSize = 5;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// startsMessage: text[i] begins "digit, drive letter, colon, backslash".
bool startsMessage(std::string_view text, std::size_t i) {
  return i + 3 < text.size() && isDigit(text[i]) && isDriveLetter(text[i + 1]) &&
         text[i + 2] == ':' && text[i + 3] == '\\';
}

}  // namespace

std::vector<std::string_view> splitWatcherMessages(std::string_view text) {
  std::vector<std::string_view> messages;
  std::size_t start = 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (!startsMessage(text, i)) continue;
    messages.push_back(text.substr(start, i - start));
    start = i;
  }
  if (start < text.size()) messages.push_back(text.substr(start));
  return messages;
}

std::optional<WatcherNotification> parseWatcherNotification(std::string_view message) {
  if (std::count(message.begin(), message.end(), ':') >= 2) return std::nullopt;
  if (message.size() < kMinMessageSize) return std::nullopt;
  if (!isDigit(message[0])) return std::nullopt;
  return WatcherNotification{message[0] - '0', std::string(message.substr(1))};
}

WatcherCheck checkWatcherReport(FileSystem& fs, const std::string& syncFolder, const WatcherNotification& report) {
  const std::string& path = report.path;
  const bool inside = path.size() > syncFolder.size() + 1 && path.compare(0, syncFolder.size(), syncFolder) == 0 &&
                      path[syncFolder.size()] == '\\';
  if (!inside) return WatcherCheck::OutsideFolder;
  switch (report.action) {
    case 2:
    case 4:
      return fs.status(path).exists() ? WatcherCheck::StillThere : WatcherCheck::Agrees;
    case 1:
    case 3:
    case 5:
      return fs.status(path).exists() ? WatcherCheck::Agrees : WatcherCheck::NotThere;
    default:
      return WatcherCheck::Agrees;
  }
}

bool WatcherMessages::admitted(const WatcherNotification& report) {
  if (!check_) return true;
  switch (check_(report)) {
    case WatcherCheck::Agrees:
      return true;
    case WatcherCheck::OutsideFolder:
      // The name belongs to another folder, maybe another user's: it is not logged.
      if (!outsideTold_) log_.writeLog("Watcher reports outside the sync folder are dropped", true);
      outsideTold_ = true;
      return false;
    case WatcherCheck::StillThere:
      log_.writeLog("Watcher report dropped, the item is still there: " + report.path, true);
      return false;
    case WatcherCheck::NotThere:
      log_.writeLog("Watcher report dropped, the item is not there: " + report.path, true);
      return false;
  }
  return false;
}

void WatcherMessages::ClientSocket1Connect() {
  outsideTold_ = false;
  try {
    log_.writeLog("Connected to service!", true);
  } catch (...) {
  }
}

void WatcherMessages::ClientSocket1Read(std::string_view bytes) {
  try {
    for (auto message : splitWatcherMessages(bytes)) handleMessage(message);
  } catch (...) {
    log_.writeLog("Error in ClientSocket1Read()", true);
  }
}

void WatcherMessages::handleMessage(std::string_view message) {
  try {
    auto notification = parseWatcherNotification(message);
    if (notification && admitted(*notification)) handle_(notification->action, notification->path);
  } catch (...) {
    log_.writeLog("Error in ClientSocket1Read()", true);
  }
}

}  // namespace kq
