#include "wire_text.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <map>

#include <nlohmann/json.hpp>

#include "log_text.h"
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

// ScalarSax keeps the scalars of a document as text (null and booleans as "").
struct ScalarSax : nlohmann::json_sax<nlohmann::json> {
  bool null() override { return scalar(""); }
  bool boolean(bool) override { return scalar(""); }
  bool number_integer(number_integer_t v) override { return scalar(std::to_string(v)); }
  bool number_unsigned(number_unsigned_t v) override { return scalar(std::to_string(v)); }
  bool number_float(number_float_t, const string_t& s) override { return scalar(s); }
  bool string(string_t& v) override { return scalar(std::move(v)); }
  bool binary(binary_t&) override { return true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }
  virtual bool scalar(std::string v) = 0;
};

// ListingSax builds the listing's entries while the text is read: the members
// filepath, size, mdate and mtime below the content array, in document order,
// so repeated keys in one object are all kept.
struct ListingSax : ScalarSax {
  struct Raw {
    std::string path, size, mdate, mtime;
    bool open = false;
  };
  std::vector<ListingEntry> out;
  int bad = 0;
  std::string firstRefusal;
  Raw raw;
  std::string key_;
  int depth = 0;
  bool sawContent = false;

  bool start_object(std::size_t) override { ++depth; return true; }
  bool end_object() override { --depth; return true; }
  bool start_array(std::size_t) override { ++depth; return true; }
  bool end_array() override { --depth; return true; }
  bool key(string_t& k) override {
    if (depth == 1 && k == "content") sawContent = true;
    key_ = std::move(k);
    return true;
  }
  bool scalar(std::string v) override {
    if (depth < 3) return true;
    if (key_ == "filepath") {
      flush();
      raw.open = true;
      raw.path = std::move(v);
    } else if (key_ == "size") {
      raw.size = std::move(v);
    } else if (key_ == "mdate") {
      raw.mdate = std::move(v);
    } else if (key_ == "mtime") {
      raw.mtime = std::move(v);
    }
    return true;
  }
  void flush() {
    if (!raw.open) return;
    std::string utf8 = collapseSlashes(clientTextToUtf8(raw.path));
    auto path = normalizeClientPath(utf8);
    std::int64_t size = 0;
    if (!path || (!raw.size.empty() && !parseInt64(raw.size, size)) || size < 0) {
      ++bad;
      std::string problem = firstRefusal.empty() ? pathLimitProblem(utf8) : "";
      if (!problem.empty()) firstRefusal = problem + ": " + logValue(utf8);
    } else {
      ListingEntry e{std::move(*path), false, size, localStamp(raw.mdate, raw.mtime)};
      e.isDir = size == 0 && raw.mdate.empty();
      out.push_back(std::move(e));
    }
    raw = Raw{};
  }
};

// ChangeSax keeps the scalar members of the first object of the top-level
// "changes" array (a later member of the same name wins).
struct ChangeSax : ScalarSax {
  bool number_float(number_float_t, const string_t&) override { return scalar(""); }
  std::map<std::string, std::string> members;
  std::string key_;
  int depth = 0;
  bool topIsObject = false;
  bool inChanges = false;    // inside the top-level "changes" array
  bool sawChanges = false;   // "changes" held an array
  int elements = 0;          // elements of the changes array begun so far
  bool firstIsObject = false;

  bool open(bool object) {
    if (depth == 0) topIsObject = object;
    if (depth == 1 && key_ == "changes" && !object) {
      inChanges = true;
      sawChanges = true;
      elements = 0;
      firstIsObject = false;
      members.clear();
    } else if (depth == 2 && inChanges && ++elements == 1) {
      firstIsObject = object;
    } else if (depth == 3 && inChanges && elements == 1 && firstIsObject) {
      members[key_] = "";  // not a scalar: unusable as text
    }
    ++depth;
    return true;
  }
  bool close() {
    --depth;
    if (depth == 1) inChanges = false;
    return true;
  }
  bool start_object(std::size_t) override { return open(true); }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(false); }
  bool end_array() override { return close(); }
  bool key(string_t& k) override {
    key_ = std::move(k);
    return true;
  }
  bool scalar(std::string v) override {
    if (depth == 1 && key_ == "changes") {
      sawChanges = false;  // "changes" holds no array
      members.clear();
    } else if (depth == 2 && inChanges) {
      ++elements;
    } else if (depth == 3 && inChanges && elements == 1 && firstIsObject) {
      members[key_] = std::move(v);
    }
    return true;
  }
  std::string member(const char* name) const {
    auto it = members.find(name);
    return it == members.end() ? std::string() : it->second;
  }
  bool has(const char* name) const { return members.count(name) != 0; }
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

std::string pathLimitProblem(std::string_view path) {
  std::size_t characters = 0, name = 0, longestName = 0, depth = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    auto c = static_cast<unsigned char>(path[i]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte
    ++characters;
    if (c == '/') {
      name = 0;
      if (i + 1 < path.size()) ++depth;
    } else {
      if (i == 0) ++depth;
      longestName = std::max(longestName, ++name);
    }
  }
  if (characters > kMaxPathCharacters) {
    return "path too long (" + std::to_string(characters) + " characters, at most " +
           std::to_string(kMaxPathCharacters) + ")";
  }
  if (longestName > kMaxNameCharacters) {
    return "name too long (" + std::to_string(longestName) + " characters, at most " +
           std::to_string(kMaxNameCharacters) + ")";
  }
  if (depth > kMaxPathDepth) {
    return "path too deep (" + std::to_string(depth) + " levels, at most " + std::to_string(kMaxPathDepth) + ")";
  }
  return {};
}

std::optional<std::string> normalizeClientPath(std::string_view path) {
  if (path.size() < 2 || path[0] != '/') return std::nullopt;
  if (!pathLimitProblem(path).empty()) return std::nullopt;
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

std::optional<std::vector<ListingEntry>> parseListing(std::string_view json, int* skipped,
                                                      std::string* firstRefusal) {
  ListingSax sax;
  // One entry per "filepath": reserving them spares the copies of a growing vector.
  std::size_t entries = 0;
  for (auto at = json.find("\"filepath\""); at != std::string_view::npos; at = json.find("\"filepath\"", at + 1)) {
    ++entries;
  }
  sax.out.reserve(entries);
  if (!nlohmann::json::sax_parse(json, &sax) || !sax.sawContent) return std::nullopt;
  sax.flush();
  if (skipped != nullptr) *skipped = sax.bad;
  if (firstRefusal != nullptr) *firstRefusal = sax.firstRefusal;
  return std::move(sax.out);
}

std::optional<ChangeReport> parseChangeReport(std::string_view json, std::string* refusal) {
  ChangeSax sax;
  if (!nlohmann::json::sax_parse(json, &sax) || !sax.topIsObject || !sax.sawChanges || sax.elements == 0 ||
      !sax.firstIsObject) {
    return std::nullopt;
  }
  ChangeReport report;
  report.changetype = sax.member("changetype");
  std::string rawPath = clientTextToUtf8(sax.member("filepath"));
  if (report.changetype.empty()) return report;
  std::string problem = pathLimitProblem(rawPath);
  if (sax.has("newname")) report.newname = clientTextToUtf8(sax.member("newname"));
  if (problem.empty() && report.newname.size() > kMaxNameCharacters) {
    problem = pathLimitProblem("/" + report.newname);
  }
  if (!problem.empty()) {
    if (refusal == nullptr) return std::nullopt;
    report.path = rawPath;
    *refusal = problem;
    return report;
  }
  auto path = normalizeClientPath(rawPath);
  if (!path) return std::nullopt;
  report.path = *path;
  report.folder = rawPath.back() == '/';
  std::string size = sax.member("size");
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
