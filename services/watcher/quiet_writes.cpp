#include "watcher/quiet_writes.h"

#include <algorithm>

namespace kq {

void QuietWrites::note(const std::string& path, bool added, std::int64_t nowMs) {
  auto [it, fresh] = writes_.try_emplace(path, Pending{added, nowMs, next_});
  if (fresh) {
    ++next_;
    return;
  }
  it->second.added = it->second.added || added;
  it->second.lastMs = nowMs;
}

std::optional<QuietWrites::Write> QuietWrites::take(const std::string& path) {
  auto it = writes_.find(path);
  if (it == writes_.end()) return std::nullopt;
  Write write{path, it->second.added};
  writes_.erase(it);
  return write;
}

std::vector<QuietWrites::Write> QuietWrites::takeWhere(
    const std::function<bool(const std::string&, const Pending&)>& due) {
  std::vector<std::pair<std::uint64_t, Write>> found;
  for (auto it = writes_.begin(); it != writes_.end();) {
    if (!due(it->first, it->second)) {
      ++it;
      continue;
    }
    found.push_back({it->second.order, Write{it->first, it->second.added}});
    it = writes_.erase(it);
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<Write> writes;
  writes.reserve(found.size());
  for (auto& [order, write] : found) writes.push_back(std::move(write));
  return writes;
}

std::vector<QuietWrites::Write> QuietWrites::takeBelow(const std::string& path, char separator) {
  if (writes_.empty()) return {};
  const std::string below = path + separator;
  return takeWhere([&](const std::string& p, const Pending&) { return p == path || p.rfind(below, 0) == 0; });
}

std::vector<QuietWrites::Write> QuietWrites::takeQuiet(std::int64_t nowMs) {
  if (writes_.empty()) return {};
  return takeWhere([&](const std::string&, const Pending& w) { return nowMs - w.lastMs >= kQuietMs; });
}

std::vector<QuietWrites::Write> QuietWrites::takeClosed(const std::vector<std::string>& paths,
                                                        const std::function<bool(const std::string&)>& closed) {
  std::vector<Write> writes;
  for (const auto& path : paths) {
    if (!writes_.count(path) || !closed(path)) continue;
    writes.push_back(*take(path));
  }
  return writes;
}

std::int64_t QuietWrites::untilQuiet(std::int64_t nowMs) const {
  std::int64_t next = -1;
  for (const auto& [path, w] : writes_) {
    std::int64_t in = std::max<std::int64_t>(0, w.lastMs + kQuietMs - nowMs);
    if (next < 0 || in < next) next = in;
  }
  return next;
}

}  // namespace kq
