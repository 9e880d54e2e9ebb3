#include "wire/name_rule.h"

#include <algorithm>
#include <cctype>


namespace kq {

namespace {

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// isDeviceName: Windows opens these names as devices whatever the folder and extension.
bool isDeviceName(std::string_view name) {
  std::string base = upper(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kNames) {
    if (base == device) return true;
  }
  return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) && base[3] >= '1' &&
         base[3] <= '9';
}

// isDotsName: "." and "..", and names Windows reduces to them (only dots and blanks).
bool isDotsName(std::string_view name) {
  return std::all_of(name.begin(), name.end(), [](char c) { return c == '.' || c == ' '; }) &&
         name.find('.') != std::string_view::npos;
}

std::string characterRefusal(std::string_view name, const CodePage& page) {
  for (std::size_t pos = 0; pos < name.size(); pos += page.characterLength(name, pos)) {
    if (isMultiByteAt(page, name, pos)) continue;
    char c = name[pos];
    auto byte = static_cast<unsigned char>(c);
    if (c == ':') return "a drive letter or colon";
    if (byte < 0x20) return "a control character";
    if (c == '\\') return "a backslash in a name";
    if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
      return "a character not allowed in file names";
  }
  return {};
}

// outsideCodePage is true when UTF-8 text holds a character (or an invalid
// sequence) that the code page cannot hold.
bool outsideCodePage(std::string_view utf8, const CodePage& page) { return !fromUtf8(page, utf8); }

}  // namespace

std::size_t utf8Length(std::string_view text, NameText encoding, const CodePage& page) {
  if (encoding == NameText::Utf8) return text.size();
  return toUtf8(page, text).size();
}

std::string nameRefusal(std::string_view name, NameText text, const CodePage& page) {
  if (name.empty()) return "an empty name";
  if (isDotsName(name)) return name == "." ? "a current folder segment" : "a parent folder segment";
  if (auto why = characterRefusal(name, text == NameText::CodePage ? page : windows1252()); !why.empty()) return why;
  if (isDeviceName(name)) return "a device name";
  if (name.back() == '.' || name.back() == ' ') return "a name ending in a dot or blank";
  if (utf8Length(name, text, page) > kMaxNameBytes)
    return "a name longer than " + std::to_string(kMaxNameBytes) + " bytes";
  return {};
}

std::string pathLimitRefusal(std::string_view utf8Path) {
  PathMeasure measure = measurePath(utf8Path);
  switch (brokenLimit(measure)) {
    case PathLimit::Length: return "a path longer than " + std::to_string(kMaxPathBytes) + " bytes";
    case PathLimit::Depth: return "a path of more than " + std::to_string(kMaxPathDepth) + " names";
    case PathLimit::Name:  // each name is checked on its own, with the other rules
    case PathLimit::None: break;
  }
  return {};
}

std::string pathRefusal(std::string_view path, NameText text, const CodePage& page) {
  if (path.empty() || path[0] != '/') return "the path does not start with a separator";
  if (text == NameText::Utf8 && outsideCodePage(path, page)) return "a character outside the ANSI code page";
  if (auto why = pathLimitRefusal(text == NameText::Utf8 ? std::string(path) : toUtf8(page, path)); !why.empty())
    return why;
  std::string_view rest = path.substr(1);
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.empty()) return {};
  for (std::size_t start = 0;;) {
    auto end = rest.find('/', start);
    auto why = nameRefusal(rest.substr(start, end == std::string_view::npos ? end : end - start), text, page);
    if (!why.empty()) return why;
    if (end == std::string_view::npos) return {};
    start = end + 1;
  }
}

}  // namespace kq
