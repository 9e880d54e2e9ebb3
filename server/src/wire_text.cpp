#include "wire_text.h"

#include <atomic>
#include <ctime>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "platform/codepage.h"

namespace kqs {

namespace {

// nextCodePoint decodes one UTF-8 sequence; nullopt (and one byte skipped) when invalid.
std::optional<char32_t> nextCodePoint(std::string_view s, std::size_t& pos) {
  auto lead = static_cast<unsigned char>(s[pos]);
  int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
  if (extra == 0) { ++pos; return lead; }
  if (extra < 0 || pos + static_cast<std::size_t>(extra) >= s.size()) { ++pos; return std::nullopt; }
  char32_t cp = lead & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) {
    auto c = static_cast<unsigned char>(s[pos + i]);
    if ((c & 0xC0) != 0x80) { ++pos; return std::nullopt; }
    cp = (cp << 6) | (c & 0x3F);
  }
  pos += static_cast<std::size_t>(extra) + 1;
  return cp;
}

void appendEscape(std::string& out, unsigned value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "\\u%04x", value & 0xFFFFu);
  out += buf;
}

std::string valueText(const nlohmann::json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_number_integer()) return std::to_string(v.get<std::int64_t>());
  return {};
}

bool parseInt64(const std::string& text, std::int64_t& out) {
  if (text.empty()) return false;
  try {
    std::size_t used = 0;
    long long v = std::stoll(text, &used);
    if (used != text.size()) return false;
    out = v;
    return true;
  } catch (...) {
    return false;
  }
}

// ListingSax collects the string members of the listing in document order, so
// repeated keys in one object are all kept.
struct ListingSax : nlohmann::json_sax<nlohmann::json> {
  std::vector<std::pair<std::string, std::string>> members;
  std::string key_;
  int depth = 0;
  bool sawContent = false;
  bool null() override { return keep(""); }
  bool boolean(bool) override { return keep(""); }
  bool number_integer(number_integer_t v) override { return keep(std::to_string(v)); }
  bool number_unsigned(number_unsigned_t v) override { return keep(std::to_string(v)); }
  bool number_float(number_float_t, const string_t& s) override { return keep(s); }
  bool string(string_t& v) override { return keep(v); }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { ++depth; return true; }
  bool end_object() override { --depth; return true; }
  bool start_array(std::size_t) override { ++depth; return true; }
  bool end_array() override { --depth; return true; }
  bool key(string_t& k) override {
    if (depth == 1 && k == "content") sawContent = true;
    key_ = k;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }
  bool keep(std::string v) {
    if (depth >= 3) members.emplace_back(key_, std::move(v));
    return true;
  }
};

}  // namespace

std::string clientTextToUtf8(std::string_view decoded, const kq::CodePage& page) {
  std::string out;
  std::string bytes;  // a run of code-page bytes, decoded together (double-byte characters)
  auto flush = [&] {
    out += kq::toUtf8(page, bytes);
    bytes.clear();
  };
  std::size_t pos = 0;
  while (pos < decoded.size()) {
    auto cp = nextCodePoint(decoded, pos);
    if (!cp) { flush(); out.push_back('?'); continue; }
    if (*cp <= 0xFF) {
      bytes.push_back(static_cast<char>(*cp));
    } else {
      flush();
      kq::appendUtf8(out, *cp);
    }
  }
  flush();
  return out;
}

std::string collapseSlashes(std::string_view path) {
  std::string out;
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out.push_back(c);
  }
  return out;
}

std::string jsonString(std::string_view utf8) {
  std::string out = "\"";
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    auto cp = nextCodePoint(utf8, pos);
    char32_t c = cp ? *cp : U'?';
    if (c == '/') out += "\\/";
    else if (c == '"') out += "\\\"";
    else if (c == '\\') out += "\\\\";
    else if (c < 0x20 || (c >= 0x7F && c <= 0xFFFF)) appendEscape(out, static_cast<unsigned>(c));
    else if (c > 0xFFFF) {
      char32_t v = c - 0x10000;
      appendEscape(out, 0xD800 + static_cast<unsigned>(v >> 10));
      appendEscape(out, 0xDC00 + static_cast<unsigned>(v & 0x3FF));
    } else out.push_back(static_cast<char>(c));
  }
  return out + "\"";
}

std::string requestBody(const std::vector<std::pair<std::string, std::string>>& members) {
  std::string out = "{";
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i > 0) out += ",";
    out += jsonString(members[i].first) + ":" + jsonString(members[i].second);
  }
  return out + "}";
}

std::optional<std::string> normalizeClientPath(std::string_view path) {
  if (path.size() < 2 || path[0] != '/') return std::nullopt;
  if (path.back() == '/') path.remove_suffix(1);
  std::size_t start = 1;
  while (start <= path.size()) {
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

namespace {
std::atomic<bool> gUnicodeNames{false};
std::unique_ptr<kq::CodePage> gClientPage;
}  // namespace

const kq::CodePage& clientCodePage() { return gClientPage ? *gClientPage : kq::windows1252(); }

void setClientCodePage(std::unique_ptr<kq::CodePage> page) { gClientPage = std::move(page); }

void setUnicodeNames(bool on) { gUnicodeNames = on; }

bool isSendablePath(std::string_view utf8Path) {
  std::size_t pos = 0;
  while (pos < utf8Path.size()) {
    auto cp = nextCodePoint(utf8Path, pos);
    if (!cp || *cp < 0x20 || *cp == '"' || *cp == '\\') return false;
    if (*cp >= 0x80 && !gUnicodeNames && !clientCodePage().fromUnicode(std::u32string(1, *cp))) return false;
  }
  return true;
}

bool isSystemPath(std::string_view path) {
  for (std::string_view top : {"/_log", "/_config", "/_trash"}) {
    if (path == top || (path.substr(0, top.size()) == top && path.size() > top.size() && path[top.size()] == '/')) {
      return true;
    }
  }
  return false;
}

bool isExcludedName(std::string_view path) {
  return path.find(".tmp") != std::string_view::npos || path.find(".TMP") != std::string_view::npos ||
         path.find('~') != std::string_view::npos;
}

std::string parentOf(std::string_view path) {
  auto slash = path.rfind('/');
  return slash == std::string_view::npos || slash == 0 ? std::string() : std::string(path.substr(0, slash));
}

std::string lastNameOf(std::string_view path) {
  auto slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool isUnder(std::string_view path, std::string_view folder) {
  return path.size() > folder.size() + 1 && path.substr(0, folder.size()) == folder && path[folder.size()] == '/';
}

std::optional<std::vector<ListingEntry>> parseListing(std::string_view json, int* skipped) {
  ListingSax sax;
  if (!nlohmann::json::sax_parse(json, &sax) || !sax.sawContent) return std::nullopt;
  std::vector<ListingEntry> out;
  int bad = 0;
  struct Raw { std::string path, size, mdate, mtime; bool open = false; } raw;
  auto flush = [&] {
    if (!raw.open) return;
    auto path = normalizeClientPath(collapseSlashes(clientTextToUtf8(raw.path)));
    std::int64_t size = 0;
    if (!path || (!raw.size.empty() && !parseInt64(raw.size, size)) || size < 0) {
      ++bad;
    } else {
      ListingEntry e{*path, false, size, localStamp(raw.mdate, raw.mtime)};
      e.isDir = size == 0 && raw.mdate.empty();
      out.push_back(std::move(e));
    }
    raw = Raw{};
  };
  for (auto& [key, value] : sax.members) {
    if (key == "filepath") { flush(); raw.open = true; raw.path = value; }
    else if (key == "size") raw.size = value;
    else if (key == "mdate") raw.mdate = value;
    else if (key == "mtime") raw.mtime = value;
  }
  flush();
  if (skipped != nullptr) *skipped = bad;
  return out;
}

std::optional<ChangeReport> parseChangeReport(std::string_view json) {
  auto doc = nlohmann::json::parse(json, nullptr, false);
  if (doc.is_discarded() || !doc.is_object() || !doc.contains("changes") || !doc["changes"].is_array() ||
      doc["changes"].empty() || !doc["changes"][0].is_object()) {
    return std::nullopt;
  }
  const auto& change = doc["changes"][0];
  ChangeReport report;
  report.changetype = change.contains("changetype") ? valueText(change["changetype"]) : "";
  std::string rawPath = change.contains("filepath") ? clientTextToUtf8(valueText(change["filepath"])) : "";
  if (report.changetype.empty()) return report;
  auto path = normalizeClientPath(rawPath);
  if (!path) return std::nullopt;
  report.path = *path;
  report.folder = rawPath.back() == '/';
  if (change.contains("newname")) report.newname = clientTextToUtf8(valueText(change["newname"]));
  std::string size = change.contains("size") ? valueText(change["size"]) : "";
  if (!parseInt64(size, report.size)) report.size = report.changetype == "RENAMED" ? 0 : -1;
  return report;
}

std::int64_t localStamp(std::string_view date, std::string_view time) {
  std::tm tm{};
  std::string text = std::string(date) + " " + std::string(time);
  int y, mo, d, h, mi, s;
  char tail;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d.%2d.%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) return 0;
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

std::string formatLocal(std::int64_t seconds, const char* format) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[80];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

}  // namespace kqs
