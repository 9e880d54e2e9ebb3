#pragma once
// PathQueue is a queue of local paths, oldest first, that answers "is this path
// queued?" without a scan: a deque for the order beside a count per path. It
// offers the deque operations the change queues are used with.
#include <algorithm>
#include <deque>
#include <initializer_list>
#include <string>
#include <unordered_map>

namespace kq {

class PathQueue {
 public:
  using value_type = std::string;
  using const_iterator = std::deque<std::string>::const_iterator;
  using iterator = const_iterator;

  PathQueue() = default;
  PathQueue(std::initializer_list<std::string> paths) { assign(paths.begin(), paths.end()); }
  PathQueue& operator=(std::initializer_list<std::string> paths) {
    assign(paths.begin(), paths.end());
    return *this;
  }

  // contains: path is queued (constant time on average).
  bool contains(const std::string& path) const { return counts_.count(path) != 0; }
  void push_back(const std::string& path) {
    paths_.push_back(path);
    ++counts_[path];
  }
  void push_front(const std::string& path) {
    paths_.push_front(path);
    ++counts_[path];
  }
  void pop_front() {
    forget(paths_.front());
    paths_.pop_front();
  }
  // erase removes every entry of path; the count removed.
  std::size_t erase(const std::string& path) {
    if (!contains(path)) return 0;
    counts_.erase(path);
    return std::erase(paths_, path);
  }
  // eraseIf removes the entries for which drop(path) is true.
  template <typename Drop>
  std::size_t eraseIf(Drop drop) {
    std::size_t removed = std::erase_if(paths_, [&](const std::string& p) {
      if (!drop(p)) return false;
      forget(p);
      return true;
    });
    return removed;
  }
  void clear() {
    paths_.clear();
    counts_.clear();
  }
  const std::string& front() const { return paths_.front(); }
  const std::string& back() const { return paths_.back(); }
  bool empty() const { return paths_.empty(); }
  std::size_t size() const { return paths_.size(); }
  const_iterator begin() const { return paths_.begin(); }
  const_iterator end() const { return paths_.end(); }

  friend bool operator==(const PathQueue& a, const PathQueue& b) { return a.paths_ == b.paths_; }
  template <typename Sequence>
  friend bool operator==(const PathQueue& a, const Sequence& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  template <typename It>
  void assign(It first, It last) {
    clear();
    for (; first != last; ++first) push_back(*first);
  }
  void forget(const std::string& path) {
    auto it = counts_.find(path);
    if (it != counts_.end() && --it->second == 0) counts_.erase(it);
  }

  std::deque<std::string> paths_;
  std::unordered_map<std::string, std::size_t> counts_;
};

}  // namespace kq
