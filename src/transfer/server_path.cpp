#include "transfer/server_path.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "log/log.h"
#include "platform/codepage.h"
#include "wire/name_rule.h"

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

// splitSegments splits at separators; the trail byte 0x5C of a double-byte
// character is no separator.
std::vector<std::string_view> splitSegments(std::string_view text, const CodePage& page) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i <= text.size()) {
    std::size_t n = i < text.size() ? page.characterLength(text, i) : 1;
    if (i == text.size() || (n == 1 && isSeparator(text[i]))) {
      if (i > start) out.push_back(text.substr(start, i - start));
      start = i + 1;
    }
    i += n;
  }
  return out;
}

// endsWithSeparator is true when the last character is a separator of its own.
bool endsWithSeparator(std::string_view text, const CodePage& page) {
  std::size_t last = std::string_view::npos;
  for (std::size_t pos = 0; pos < text.size(); pos += page.characterLength(text, pos)) last = pos;
  return last != std::string_view::npos && last + 1 == text.size() && isSeparator(text[last]);
}

// appendCharacter adds one character to out in the code page.
bool appendCharacter(std::string& out, char32_t cp, const CodePage& page) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
    return true;
  }
  auto bytes = page.fromUnicode(std::u32string(1, cp));
  if (!bytes) return false;
  out += *bytes;
  return true;
}

// relativeRefusal checks the decoded server path; empty when it may be used.
// Runs of separators count as one and "\\" separates like "/"; every name
// and the whole path then pass the name rule and the path limits that the
// server applies before it offers a path.
std::string relativeRefusal(std::string_view decoded, const CodePage& page) {
  if (decoded.empty()) return {};
  if (!isSeparator(decoded[0])) return "the path does not start with a separator";
  if (decoded.size() > 1 && isSeparator(decoded[1])) return "a UNC or device prefix";
  std::string canonical;  // the path as the server's store names it, in UTF-8
  for (auto segment : splitSegments(decoded, page)) {
    if (auto why = nameRefusal(segment, NameText::CodePage, page); !why.empty()) return why;
    canonical += '/' + toUtf8(page, segment);
  }
  return pathLimitRefusal(canonical);
}

}  // namespace

bool decodeJsonString(std::string_view value, std::string& out, std::string& error,
                      const CodePage& page) {
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
    // A pair of surrogate escapes stands for one character beyond U+FFFF.
    char32_t low = 0;
    if (cp >= 0xD800 && cp < 0xDC00 && i + 2 < value.size() && value[i + 1] == '\\' &&
        value[i + 2] == 'u' && readHex4(value, i + 3, low) && low >= 0xDC00 && low < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      i += 6;
    }
    if (!appendCharacter(out, cp, page)) { error = "a character outside the ANSI code page"; return false; }
  }
  return true;
}

LocalPath localPathFromServer(std::string_view syncFolder, std::string_view value, RootUse root,
                              const CodePage& page) {
  LocalPath result;
  std::string decoded, error;
  if (!decodeJsonString(value, decoded, error, page)) {
    result.refusal = error;
    return result;
  }
  result.refusal = relativeRefusal(decoded, page);
  if (!result.ok()) return result;
  auto segments = splitSegments(decoded, page);
  for (auto segment : segments) {
    result.relative += '\\';
    result.relative += segment;
  }
  result.folder = endsWithSeparator(decoded, page) && !segments.empty();
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
