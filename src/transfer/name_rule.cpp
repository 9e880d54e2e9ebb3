#include "transfer/name_rule.h"

#include <algorithm>
#include <cctype>

#include "platform/codepage.h"

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

std::string characterRefusal(std::string_view name) {
  for (char c : name) {
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
bool outsideCodePage(std::string_view utf8) {
  std::string back = cp1252ToUtf8(utf8ToCp1252(utf8, '\0'));
  return back != utf8;
}

}  // namespace

std::size_t utf8Length(std::string_view text, NameText encoding) {
  if (encoding == NameText::Utf8) return text.size();
  std::size_t n = 0;
  for (char c : text) {
    char32_t cp = cp1252ToUnicode(static_cast<unsigned char>(c));
    n += cp < 0x80 ? 1 : cp < 0x800 ? 2 : 3;
  }
  return n;
}

std::string nameRefusal(std::string_view name, NameText text) {
  if (name.empty()) return "an empty name";
  if (isDotsName(name)) return name == "." ? "a current folder segment" : "a parent folder segment";
  if (auto why = characterRefusal(name); !why.empty()) return why;
  if (isDeviceName(name)) return "a device name";
  if (name.back() == '.' || name.back() == ' ') return "a name ending in a dot or blank";
  if (utf8Length(name, text) > kMaxNameBytes)
    return "a name longer than " + std::to_string(kMaxNameBytes) + " bytes";
  return {};
}

std::string pathRefusal(std::string_view path, NameText text) {
  if (path.empty() || path[0] != '/') return "the path does not start with a separator";
  if (text == NameText::Utf8 && outsideCodePage(path)) return "a character outside the ANSI code page";
  if (utf8Length(path, text) > kMaxPathBytes) return "a path longer than " + std::to_string(kMaxPathBytes) + " bytes";
  std::string_view rest = path.substr(1);
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.empty()) return {};
  for (std::size_t start = 0;;) {
    auto end = rest.find('/', start);
    auto why = nameRefusal(rest.substr(start, end == std::string_view::npos ? end : end - start), text);
    if (!why.empty()) return why;
    if (end == std::string_view::npos) return {};
    start = end + 1;
  }
}

}  // namespace kq
