#pragma once
// FailedItems keeps the names the client refused or failed to synchronise, with
// the reason, for the status. Each path is held once (its latest reason), at
// most kMax of them; the oldest goes first when the list is full.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_status.h"

namespace kq {

class FailedItems {
 public:
  static constexpr std::size_t kMax = 1000;

  void add(const std::string& path, const std::string& reason);
  const std::vector<FailedItem>& items() const { return items_; }

 private:
  std::vector<FailedItem> items_;
};

}  // namespace kq
