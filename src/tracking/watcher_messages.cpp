#include "tracking/watcher_messages.h"

#include <algorithm>

#include "log/log.h"

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

void WatcherMessages::ClientSocket1Connect() {
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
    if (notification) handle_(notification->action, notification->path);
  } catch (...) {
    log_.writeLog("Error in ClientSocket1Read()", true);
  }
}

}  // namespace kq
