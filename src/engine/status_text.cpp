#include "engine/status_text.h"

#include <cstdio>

namespace kq {

namespace {

std::string sizeText(std::int64_t bytes) {
  char text[32];
  if (bytes < 1024) std::snprintf(text, sizeof text, "%lld B", static_cast<long long>(bytes));
  else if (bytes < 1024 * 1024) std::snprintf(text, sizeof text, "%.1f KB", bytes / 1024.0);
  else if (bytes < 1024LL * 1024 * 1024) std::snprintf(text, sizeof text, "%.1f MB", bytes / 1048576.0);
  else std::snprintf(text, sizeof text, "%.2f GB", bytes / 1073741824.0);
  return text;
}

}  // namespace

std::string transferText(const TransferProgress& t) {
  std::string text = t.file + " " + sizeText(t.bytesDone) + " / " + sizeText(t.bytesTotal);
  // The rate is known from the second sample on.
  if (t.bytesPerSecond > 0) text += " at " + sizeText(static_cast<std::int64_t>(t.bytesPerSecond)) + "/s";
  return text;
}

std::int64_t megabytesLeft(std::int64_t bytes) {
  constexpr std::int64_t kMiB = 1 << 20;
  return bytes <= 0 ? 0 : (bytes + kMiB - 1) / kMiB;
}

std::string megabytesLeftPanel(const EngineStatus& s) {
  if (!s.receiving && !s.sending) return {};
  return "MB left: " + std::to_string(megabytesLeft(s.bytesLeft));
}

std::string statusSummary(const EngineStatus& s) {
  std::string text = s.connected ? "Connected to " + s.server : std::string("Not connected");
  if (!s.syncFolderPresent) text += "\nSync folder not found";
  if (s.diskFull) text += "\nDisk full: files are not received";
  if (s.receiving) text += "\nReceiving " + transferText(*s.receiving);
  if (s.sending) text += "\nSending " + transferText(*s.sending);
  if (!s.failedItems.empty()) text += "\nFailed items: " + std::to_string(s.failedItems.size());
  return text;
}

}  // namespace kq
