#pragma once
// Lookups of store paths in sorted sets and maps by subtree: a path's own
// entry, its ancestors' and everything below it, each found by a few searches
// of the tree instead of a pass over every key, so that a cycle with many
// paths stays linear.
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "wire_text.h"

namespace kqs {

// subtreeEnd is the first key after every path below folder ('/' + 1 is '0').
inline std::string subtreeEnd(const std::string& folder) { return folder + "0"; }

// touchesAny: some path in set is path itself, one of its ancestors or below it.
inline bool touchesAny(const std::set<std::string>& set, const std::string& path) {
  if (set.empty()) return false;
  if (set.count(path) != 0) return true;
  for (std::string up = parentOf(path); !up.empty(); up = parentOf(up)) {
    if (set.count(up) != 0) return true;
  }
  auto below = set.lower_bound(path + "/");
  return below != set.end() && isUnder(*below, path);
}

// eraseSubtree removes path and everything below it from a map keyed by path.
template <typename Value>
void eraseSubtree(std::map<std::string, Value>& map, const std::string& path) {
  map.erase(path);
  map.erase(map.lower_bound(path + "/"), map.lower_bound(subtreeEnd(path)));
}

// copySubtree copies path and everything below it (and its ancestors' entries
// when withAncestors) from one map keyed by path into another.
template <typename Value>
void copySubtree(const std::map<std::string, Value>& from, std::map<std::string, Value>& to, const std::string& path,
                 bool withAncestors = true) {
  if (auto it = from.find(path); it != from.end()) to.insert(*it);
  to.insert(from.lower_bound(path + "/"), from.lower_bound(subtreeEnd(path)));
  if (!withAncestors) return;
  for (std::string up = parentOf(path); !up.empty(); up = parentOf(up)) {
    if (auto it = from.find(up); it != from.end()) to.insert(*it);
  }
}

}  // namespace kqs
