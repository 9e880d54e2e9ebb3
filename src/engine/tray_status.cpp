#include "engine/tray_status.h"

#include <algorithm>

#include "engine/failed_items.h"
#include "engine/status_text.h"

namespace kq {

namespace {

std::string failedNamesText(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " name cannot" : " names cannot") +
         " be synchronised: see Filesync > Not synchronised...";
}

// namesLeftOut counts the failed names, without the files a full disk stopped.
std::size_t namesLeftOut(const EngineStatus& s) {
  return static_cast<std::size_t>(std::count_if(s.failedItems.begin(), s.failedItems.end(),
                                                [](const FailedItem& i) { return i.reason != kDiskFullReason; }));
}

}  // namespace

const char* const kDiskFull = "The disk of the sync folder is full: files are not received until there is room";
const char* const kFolderMissing = "Sync folder not found: the client waits until it is back";

std::string userProblem(const EngineStatus& s) {
  if (!s.refusal.empty()) return s.refusal;
  if (!s.syncFolderPresent) return kFolderMissing;
  if (s.diskFull) return kDiskFull;
  if (namesLeftOut(s) > 0) return failedNamesText(namesLeftOut(s));
  return {};
}

TrayView trayView(const EngineStatus& s, const std::string& lastSync) {
  if (!s.refusal.empty()) return {TrayState::Attention, s.refusal};
  if (!s.syncFolderPresent) return {TrayState::Attention, kFolderMissing};
  if (s.diskFull) return {TrayState::Attention, kDiskFull};
  if (!s.connected) return {TrayState::Attention, "Not connected to " + s.server + ": retrying"};
  if (s.receiving) return {TrayState::Working, "Receiving " + transferText(*s.receiving)};
  if (s.sending) return {TrayState::Working, "Sending " + transferText(*s.sending)};
  const int left = s.queuedModifications + s.queuedDeletions;
  if (left > 0) return {TrayState::Working, "Connected to " + s.server + ", " + std::to_string(left) + " files left"};
  if (namesLeftOut(s) > 0) return {TrayState::Attention, failedNamesText(namesLeftOut(s))};
  return {TrayState::Synchronised, "Synchronised with " + s.server +
                                       (lastSync.empty() ? std::string(", no sync yet") : ", last sync " + lastSync)};
}

std::optional<std::string> Balloons::next(const EngineStatus& s) {
  const bool newRefusal = !s.refusal.empty() && s.refusal != refusalShown_;
  refusalShown_ = s.refusal;
  const bool newMissingFolder = !s.syncFolderPresent && !folderMissingShown_;
  folderMissingShown_ = !s.syncFolderPresent;
  const bool newDiskFull = s.diskFull && !diskFullShown_;
  diskFullShown_ = s.diskFull;
  const bool moreFailed = namesLeftOut(s) > failedSeen_;
  failedSeen_ = namesLeftOut(s);
  if (newRefusal) return s.refusal;
  if (newMissingFolder) return kFolderMissing;
  if (newDiskFull) return kDiskFull;
  if (moreFailed) return failedNamesText(failedSeen_);
  return std::nullopt;
}

}  // namespace kq
