#include "transfer/server_path.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "log/log.h"
#include "platform/codepage.h"
#include "transfer/name_rule.h"

namespace kq {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// readHex4 reads four hex digits at pos.
bool readHex4(std::string_view s, std::size_t pos, char32_t& out) {
  if (pos + 4 > s.size()) return false;
  out = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    int v = hexValue(s[pos + i]);
    if (v < 0) return false;
    out = (out << 4) | static_cast<char32_t>(v);
  }
  return true;
}

char simpleEscape(char c) {
  switch (c) {
    case '"': return '"';
    case '\\': return '\\';
    case '/': return '/';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    default: return 0;
  }
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

std::vector<std::string_view> splitSegments(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || isSeparator(text[i])) {
      if (i > start) out.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return out;
}

// relativeRefusal checks the decoded server path; empty when it may be used.
// Runs of separators count as one and "\\" separates like "/"; every name
// then passes the name rule that the server applies before it offers a path.
std::string relativeRefusal(std::string_view decoded) {
  if (decoded.empty()) return {};
  if (!isSeparator(decoded[0])) return "the path does not start with a separator";
  if (decoded.size() > 1 && isSeparator(decoded[1])) return "a UNC or device prefix";
  for (auto segment : splitSegments(decoded)) {
    if (auto why = nameRefusal(segment, NameText::CodePage); !why.empty()) return why;
  }
  if (utf8Length(decoded, NameText::CodePage) > kMaxPathBytes)
    return "a path longer than " + std::to_string(kMaxPathBytes) + " bytes";
  return {};
}

}  // namespace

bool decodeJsonString(std::string_view value, std::string& out, std::string& error) {
  out.clear();
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (++i >= value.size()) { error = "an incomplete escape"; return false; }
    if (char simple = simpleEscape(value[i]); simple != 0) {
      out.push_back(simple);
      continue;
    }
    char32_t cp = 0;
    if (value[i] != 'u' || !readHex4(value, i + 1, cp)) { error = "an invalid escape"; return false; }
    i += 4;
    auto byte = unicodeToCp1252(cp);
    if (!byte) { error = "a character outside the ANSI code page"; return false; }
    out.push_back(static_cast<char>(*byte));
  }
  return true;
}

LocalPath localPathFromServer(std::string_view syncFolder, std::string_view value, RootUse root) {
  LocalPath result;
  std::string decoded, error;
  if (!decodeJsonString(value, decoded, error)) {
    result.refusal = error;
    return result;
  }
  result.refusal = relativeRefusal(decoded);
  if (!result.ok()) return result;
  auto segments = splitSegments(decoded);
  for (auto segment : segments) {
    result.relative += '\\';
    result.relative += segment;
  }
  result.folder = !decoded.empty() && isSeparator(decoded.back()) && !segments.empty();
  if (segments.empty() && root == RootUse::Refuse) {
    result.refusal = "it names the sync folder itself";
    return result;
  }
  result.path = std::string(syncFolder) + result.relative;
  return result;
}

void logRefusal(Log& log, std::string_view value, const LocalPath& local) {
  log.writeLog("Refused server path " + std::string(value) + ": " + local.refusal, true);
}

}  // namespace kq
