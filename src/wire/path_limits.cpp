#include "wire/path_limits.h"

#include <algorithm>

namespace kq {

PathMeasure measurePath(std::string_view path) {
  PathMeasure m;
  if (!path.empty() && path.back() == '/') path.remove_suffix(1);
  m.bytes = path.size();
  if (!path.empty() && path.front() == '/') path.remove_prefix(1);
  if (path.empty() && m.bytes == 0) return m;
  std::size_t name = 0;
  m.depth = 1;
  for (char c : path) {
    if (c == '/') {
      ++m.depth;
      name = 0;
    } else {
      m.longestName = std::max(m.longestName, ++name);
    }
  }
  return m;
}

PathLimit brokenLimit(const PathMeasure& m) {
  if (m.depth > kMaxPathDepth) return PathLimit::Depth;
  if (m.longestName > kMaxNameBytes) return PathLimit::Name;
  if (m.bytes > kMaxPathBytes) return PathLimit::Length;
  return PathLimit::None;
}

std::string pathLimitProblem(std::string_view path) {
  PathMeasure m = measurePath(path);
  auto text = [](const char* what, std::size_t value, const char* unit, std::size_t limit) {
    return std::string(what) + " (" + std::to_string(value) + " " + unit + ", at most " + std::to_string(limit) + ")";
  };
  switch (brokenLimit(m)) {
    case PathLimit::Length: return text("path too long", m.bytes, "bytes", kMaxPathBytes);
    case PathLimit::Name: return text("name too long", m.longestName, "bytes", kMaxNameBytes);
    case PathLimit::Depth: return text("path too deep", m.depth, "levels", kMaxPathDepth);
    case PathLimit::None: break;
  }
  return {};
}

}  // namespace kq
