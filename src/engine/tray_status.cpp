#include "engine/tray_status.h"

#include "engine/status_text.h"

namespace kq {

namespace {

std::string failedNamesText(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " name cannot" : " names cannot") +
         " be synchronised: see Filesync > Not synchronised...";
}

}  // namespace

const char* const kFolderMissing = "Sync folder not found: the client waits until it is back";

std::string userProblem(const EngineStatus& s) {
  if (!s.refusal.empty()) return s.refusal;
  if (!s.syncFolderPresent) return kFolderMissing;
  if (!s.failedItems.empty()) return failedNamesText(s.failedItems.size());
  return {};
}

TrayView trayView(const EngineStatus& s, const std::string& lastSync) {
  if (!s.refusal.empty()) return {TrayState::Attention, s.refusal};
  if (!s.syncFolderPresent) return {TrayState::Attention, kFolderMissing};
  if (!s.connected) return {TrayState::Attention, "Not connected to " + s.server + ": retrying"};
  if (s.receiving) return {TrayState::Working, "Receiving " + transferText(*s.receiving)};
  if (s.sending) return {TrayState::Working, "Sending " + transferText(*s.sending)};
  const int left = s.queuedModifications + s.queuedDeletions;
  if (left > 0) return {TrayState::Working, "Connected to " + s.server + ", " + std::to_string(left) + " files left"};
  if (!s.failedItems.empty()) return {TrayState::Attention, failedNamesText(s.failedItems.size())};
  return {TrayState::Synchronised, "Synchronised with " + s.server +
                                       (lastSync.empty() ? std::string(", no sync yet") : ", last sync " + lastSync)};
}

std::optional<std::string> Balloons::next(const EngineStatus& s) {
  const bool newRefusal = !s.refusal.empty() && s.refusal != refusalShown_;
  refusalShown_ = s.refusal;
  const bool newMissingFolder = !s.syncFolderPresent && !folderMissingShown_;
  folderMissingShown_ = !s.syncFolderPresent;
  const bool moreFailed = s.failedItems.size() > failedSeen_;
  failedSeen_ = s.failedItems.size();
  if (newRefusal) return s.refusal;
  if (newMissingFolder) return kFolderMissing;
  if (moreFailed) return failedNamesText(failedSeen_);
  return std::nullopt;
}

}  // namespace kq
