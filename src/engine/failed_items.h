#pragma once
// FailedItems keeps the names the client refused or failed to synchronise, with
// the reason, for the status. Each path is held once (its latest reason), at
// most kMax of them; the oldest goes first when the list is full. A file that
// did not fit on the disk marks the disk full until a file is received whole.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_status.h"

namespace kq {

// kDiskFullReason is the reason of a file that did not fit on the disk.
inline constexpr const char* kDiskFullReason = "not received: the disk is full";

class FailedItems {
 public:
  static constexpr std::size_t kMax = 1000;

  void add(const std::string& path, const std::string& reason);
  // received: path arrived whole; it is no longer failed, and the disk had room.
  void received(const std::string& path);
  const std::vector<FailedItem>& items() const { return items_; }
  bool diskFull() const { return diskFull_; }

 private:
  std::vector<FailedItem> items_;
  bool diskFull_ = false;
};

}  // namespace kq
