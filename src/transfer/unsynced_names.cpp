#include "transfer/unsynced_names.h"

#include "log/log.h"
#include "platform/views.h"

namespace kq {

std::string unsyncedReason(EntryType type) {
  if (type == EntryType::Link) return kLinkReason;
  if (type == EntryType::Other) return kSpecialReason;
  return {};
}

void UnsyncedNames::report(const std::string& path, const std::string& reason) {
  if (seen_.count(path) != 0) return;
  if (seen_.size() >= kRemembered) seen_.clear();
  seen_.insert(path);
  ++count_;
  log_.writeLog("Name not synchronised: " + path + " (" + reason + ")", true);
  status_.setPanel(kStatusPanel, "Not synchronised: " + std::to_string(count_));
  if (onReport) onReport(path, reason);
}

}  // namespace kq
