#pragma once
// QueuedBytes counts the bytes of the files waiting in the modification queue
// for "MB left": each queued path's size is read from the disk once, when the
// path first shows in the queue, and forgotten when it leaves; a file that
// is gone or is a folder counts 0. A big queue costs one look-up per path per
// count, never a walk of the disk again.
#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/file_system.h"
#include "tracking/path_queue.h"

namespace kq {

class QueuedBytes {
 public:
  explicit QueuedBytes(FileSystem& fs) : fs_(fs) {}
  // total is the size of every queued file but skip (the file under way).
  std::int64_t total(const PathQueue& queue, const std::string& skip);

 private:
  FileSystem& fs_;
  std::unordered_map<std::string, std::int64_t> sizes_;
};

}  // namespace kq
