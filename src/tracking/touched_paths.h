#pragma once
// TouchedPaths records the paths that changed since the list of known files
// was last saved: every watcher report and every write, removal or move the
// client makes for the server. The list is then brought up to date by looking
// at these paths only. Past kMaxPaths, or once reports were lost, it records
// nothing more and asks for a walk of the whole folder instead.
#include <cstddef>
#include <string>
#include <unordered_set>

namespace kq {

class TouchedPaths {
 public:
  static constexpr std::size_t kMaxPaths = 100000;

  void add(const std::string& path) {
    if (all_) return;
    if (paths_.size() >= kMaxPaths) {
      markAll();
      return;
    }
    paths_.insert(path);
  }
  // markAll: what changed is not known; the whole folder is looked at.
  void markAll() {
    all_ = true;
    paths_.clear();
  }
  bool all() const { return all_; }
  bool empty() const { return !all_ && paths_.empty(); }
  const std::unordered_set<std::string>& paths() const { return paths_; }
  void clear() {
    all_ = false;
    paths_.clear();
  }

 private:
  std::unordered_set<std::string> paths_;
  bool all_ = false;
};

}  // namespace kq
