#include "platform/ini_text.h"

#include <vector>

namespace kq {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// splitLines splits at LF, dropping a CR before it and a UTF-8 byte order mark.
std::vector<std::string_view> splitLines(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    auto end = text.find('\n');
    auto line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// sectionName is the name of a "[name]" line, nullopt for other lines.
std::optional<std::string_view> sectionName(std::string_view line) {
  line = trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  auto close = line.find(']');
  return trim(line.substr(0, close));
}

// keyName is the name of a "name=value" line, nullopt for other lines.
std::optional<std::string_view> keyName(std::string_view line) {
  auto t = trim(line);
  if (t.empty() || t.front() == ';') return std::nullopt;
  auto eq = t.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return trim(t.substr(0, eq));
}

std::string_view keyValue(std::string_view line) {
  auto v = trim(line.substr(line.find('=') + 1));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

}  // namespace

std::optional<std::string> iniLookup(std::string_view text, std::string_view section, std::string_view key) {
  bool inSection = false;
  for (auto line : splitLines(text)) {
    if (auto name = sectionName(line)) {
      inSection = sameName(*name, trim(section));
    } else if (inSection) {
      auto k = keyName(line);
      if (k && sameName(*k, trim(key))) return std::string(keyValue(line));
    }
  }
  return std::nullopt;
}

std::string iniWithValue(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value) {
  auto lines = splitLines(text);
  std::vector<std::string> out(lines.begin(), lines.end());
  // Where the first matching section starts, where its last non-blank line is, and the key line.
  std::optional<std::size_t> header, lastInSection, keyLine;
  bool inSection = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (auto name = sectionName(lines[i])) {
      inSection = !header && sameName(*name, trim(section));
      if (inSection) {
        header = i;
        lastInSection = i;
      }
      continue;
    }
    if (!inSection) continue;
    if (!trim(lines[i]).empty()) lastInSection = i;
    auto k = keyName(lines[i]);
    if (!keyLine && k && sameName(*k, trim(key))) keyLine = i;
  }
  std::string keyText = std::string(trim(key));
  if (keyLine) {
    out[*keyLine] = std::string(*keyName(lines[*keyLine])) + "=" + std::string(value);
  } else if (header) {
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(*lastInSection + 1), keyText + "=" + std::string(value));
  } else {
    while (!out.empty() && trim(out.back()).empty()) out.pop_back();
    out.push_back("[" + std::string(trim(section)) + "]");
    out.push_back(keyText + "=" + std::string(value));
  }
  std::string result;
  for (auto& line : out) result += line + "\r\n";
  return result;
}

}  // namespace kq
