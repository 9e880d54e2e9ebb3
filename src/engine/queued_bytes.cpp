#include "engine/queued_bytes.h"

namespace kq {

std::int64_t QueuedBytes::total(const PathQueue& queue, const std::string& skip) {
  std::unordered_map<std::string, std::int64_t> seen;
  std::int64_t bytes = 0;
  for (const std::string& path : queue) {
    auto [at, added] = seen.try_emplace(path, 0);
    if (!added) continue;  // a path queued twice is sent once
    auto known = sizes_.find(path);
    if (known != sizes_.end()) {
      at->second = known->second;
    } else {
      FileStatus status = fs_.status(path);
      at->second = status.type == EntryType::File ? static_cast<std::int64_t>(status.size) : 0;
    }
    if (path != skip) bytes += at->second;
  }
  sizes_ = std::move(seen);
  return bytes;
}

}  // namespace kq
