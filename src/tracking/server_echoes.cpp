#include "tracking/server_echoes.h"

namespace kq {

namespace {

// withoutTrailingSeparator: a folder may be named with a trailing backslash;
// the watcher reports it without one.
std::string withoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

void ServerEchoes::noteWritten(const std::string& path, const FileStatus& status) {
  if (status.type != EntryType::File) {
    auto it = records_.find(path);
    if (it != records_.end()) forget(it);
    return;
  }
  put(path, Record{false, status.size, status.modified, status.modifiedNanos, {}});
}

void ServerEchoes::noteRemoved(const std::string& path) {
  Record record{true, 0, 0, 0, {}};
  record.round = round_;
  put(withoutTrailingSeparator(path), record);
}

void ServerEchoes::noteReplaced(const std::string& path) {
  Record record{true, 0, 0, 0, {}};
  record.replaced = true;
  record.round = round_;
  put(withoutTrailingSeparator(path), record);
}

void ServerEchoes::put(const std::string& path, Record record) {
  auto it = records_.find(path);
  if (it != records_.end()) forget(it);
  while (records_.size() >= kMaxRecords) forget(records_.find(order_.front()));
  order_.push_back(path);
  record.age = std::prev(order_.end());
  if (record.removed) ++removals_;
  records_.emplace(path, record);
}

void ServerEchoes::forget(std::unordered_map<std::string, Record>::iterator it) {
  if (it->second.removed) --removals_;
  order_.erase(it->second.age);
  records_.erase(it);
}

bool ServerEchoes::holdsWritten(const Record& r, const std::string& path, FileSystem& fs) {
  if (r.removed) return false;
  FileStatus now = fs.status(path);
  return now.type == EntryType::File && now.size == r.size && now.modified == r.modified &&
         now.modifiedNanos == r.modifiedNanos;
}

bool ServerEchoes::isWriteEcho(const std::string& path, FileSystem& fs) {
  auto it = records_.find(path);
  if (it == records_.end()) return false;
  if (holdsWritten(it->second, path, fs)) return true;
  // A report on a path removed for the server that is still empty (a folder
  // that changed as it went) is part of that removal.
  if (it->second.removed && !fs.exists(path)) return true;
  forget(it);  // the path holds something else now: the user's change
  return false;
}

// isRemovalEcho also takes a late report of the removal that made room for the
// server's write: the path still holds exactly that write, so nothing was deleted.
bool ServerEchoes::isRemovalEcho(const std::string& path, FileSystem& fs) {
  auto it = records_.find(path);
  if (it == records_.end()) return removedAbove(path) && !fs.exists(path);
  const Record& r = it->second;
  if (r.removed ? r.replaced || !fs.exists(path) : holdsWritten(r, path, fs)) return true;
  bool inRemovedFolder = removedAbove(path) && !fs.exists(path);
  forget(it);  // a file the server wrote was deleted, or the path was refilled
  return inRemovedFolder;
}

bool ServerEchoes::goneSinceWritten(const std::string& path, FileSystem& fs) const {
  auto it = records_.find(path);
  if (it == records_.end() || it->second.removed || removedAbove(path)) return false;
  return fs.status(path).type == EntryType::None;
}

// removedAbove: a folder above path has a removal's record.
bool ServerEchoes::removedAbove(const std::string& path) const {
  if (removals_ == 0) return false;
  for (auto cut = path.rfind('\\'); cut != std::string::npos && cut > 0; cut = path.rfind('\\', cut - 1)) {
    auto it = records_.find(path.substr(0, cut));
    if (it != records_.end() && it->second.removed) return true;
  }
  return false;
}

void ServerEchoes::ageRemovals() {
  ++round_;
  if (removals_ == 0) return;
  for (auto it = records_.begin(); it != records_.end();) {
    auto next = std::next(it);
    if (it->second.removed && round_ - it->second.round >= kRemovalRounds) forget(it);
    it = next;
  }
}

}  // namespace kq
