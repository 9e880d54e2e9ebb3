#include "wire/client_text.h"

#include <cstdio>
#include <ctime>

#include "wire/path_limits.h"

namespace kq {

std::string clientTextToUtf8(std::string_view decoded, const CodePage& page) {
  std::string out;
  std::string bytes;  // a run of code-page bytes, decoded together (double-byte characters)
  auto flush = [&] {
    out += toUtf8(page, bytes);
    bytes.clear();
  };
  for (std::size_t pos = 0; pos < decoded.size();) {
    auto cp = decodeUtf8(decoded, pos);
    if (!cp) {
      flush();
      out.push_back('?');
    } else if (*cp <= 0xFF) {
      bytes.push_back(static_cast<char>(*cp));
    } else {
      flush();
      appendUtf8(out, *cp);
    }
  }
  flush();
  return out;
}

std::string collapseSlashes(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out.push_back(c);
  }
  return out;
}

std::optional<std::string> normalizeClientPath(std::string_view path) {
  if (path.size() < 2 || path[0] != '/') return std::nullopt;
  if (!pathLimitProblem(path).empty()) return std::nullopt;
  if (path.back() == '/') path.remove_suffix(1);
  for (std::size_t start = 1; start <= path.size();) {
    auto end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    auto segment = path.substr(start, end - start);
    if (segment.empty() || segment == "." || segment == "..") return std::nullopt;
    for (char c : segment) {
      if (static_cast<unsigned char>(c) < 0x20 || c == '\\') return std::nullopt;
    }
    start = end + 1;
  }
  return std::string(path);
}

std::int64_t localStamp(std::string_view date, std::string_view time) {
  std::string text = std::string(date) + " " + std::string(time);
  int y, mo, d, h, mi, s;
  char tail;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d.%2d.%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) return 0;
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  auto t = std::mktime(&tm);
  return t == static_cast<std::time_t>(-1) ? 0 : static_cast<std::int64_t>(t);
}

}  // namespace kq
