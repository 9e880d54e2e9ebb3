#include "engine/failed_items.h"

#include <algorithm>

namespace kq {

void FailedItems::add(const std::string& path, const std::string& reason) {
  if (reason == kDiskFullReason) diskFull_ = true;
  auto same = std::find_if(items_.begin(), items_.end(), [&](const FailedItem& i) { return i.path == path; });
  if (same != items_.end()) {
    same->reason = reason;
    return;
  }
  if (items_.size() >= kMax) items_.erase(items_.begin());
  items_.push_back({path, reason});
}

void FailedItems::received(const std::string& path) {
  diskFull_ = false;
  std::erase_if(items_, [&](const FailedItem& i) { return i.path == path; });
}

}  // namespace kq
