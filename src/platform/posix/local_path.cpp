#include "platform/posix/local_path.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/codepage.h"

namespace kq {

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// characterLength is 1 for native text (UTF-8 never holds "/" inside a
// character) and the code page's length for local text, whose double-byte
// characters may end in the byte of "\" (code page 932: "\" is one character).
std::size_t characterLength(std::string_view text, std::size_t pos, bool local) {
  return local ? std::max<std::size_t>(1, activeCodePage().characterLength(text, pos)) : 1;
}

// splitSegments splits text at runs of separators, resolving "." and ".."; a
// separator is a whole character, never the trail byte of a double-byte one.
std::vector<std::string_view> splitSegments(std::string_view text, char sep1, char sep2) {
  const bool local = sep1 != sep2;
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == sep1 || text[i] == sep2)) ++i;
    std::size_t start = i;
    while (i < text.size() && text[i] != sep1 && text[i] != sep2) i += characterLength(text, i, local);
    i = std::min(i, text.size());
    auto seg = text.substr(start, i - start);
    if (seg.empty() || seg == ".") continue;
    if (seg == "..") {
      if (!out.empty()) out.pop_back();
      continue;
    }
    out.push_back(seg);
  }
  return out;
}

// validName is false for the characters Windows refuses in file names (a
// trail byte that looks like "|" belongs to its double-byte character).
bool validName(std::string_view name) {
  for (std::size_t i = 0, n = 1; i < name.size(); i += n) {
    n = characterLength(name, i, true);
    if (n > 1) continue;
    auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x20) return false;
    switch (c) {
      case ':': case '*': case '?': case '"': case '<': case '>': case '|': return false;
      default: break;
    }
  }
  return true;
}

int driveIndex(char letter) {
  auto c = static_cast<unsigned char>(letter);
  if (!std::isalpha(c) || c >= 0x80) return -1;
  return std::toupper(c) - 'A';
}

}  // namespace

DriveMap::DriveMap() { folders_['Z' - 'A'].push_back('/'); }  // (assigning "/" trips a false -Wrestrict)

void DriveMap::map(char letter, std::string nativeFolder) {
  int index = driveIndex(letter);
  if (index < 0) return;
  while (nativeFolder.size() > 1 && nativeFolder.back() == '/') nativeFolder.pop_back();
  folders_[static_cast<std::size_t>(index)] = std::move(nativeFolder);
}

std::optional<std::string> DriveMap::toNative(std::string_view localPath) const {
  if (localPath.size() < 2 || localPath[1] != ':') return std::nullopt;
  int index = driveIndex(localPath[0]);
  if (index < 0) return std::nullopt;
  const std::string& folder = folders_[static_cast<std::size_t>(index)];
  if (folder.empty()) return std::nullopt;
  auto rest = localPath.substr(2);
  if (!rest.empty() && !isSeparator(rest[0])) return std::nullopt;  // "C:x" is drive-relative
  std::string out = folder;
  for (auto seg : splitSegments(rest, '\\', '/')) {
    if (!validName(seg)) return std::nullopt;
    if (out.back() != '/') out.push_back('/');
    out += localToUtf8(seg);
  }
  return out;
}

std::string DriveMap::toLocal(std::string_view nativePath) const {
  std::string absolute(nativePath);
  if (absolute.empty() || absolute[0] != '/') {
    std::string cwd(4096, '\0');
    if (getcwd(cwd.data(), cwd.size()) != nullptr) {
      cwd.resize(cwd.find('\0'));
      absolute = cwd + "/" + absolute;
    } else {
      absolute = "/" + absolute;
    }
  }
  auto segments = splitSegments(absolute, '/', '/');
  // The drive whose folder holds the most leading segments wins; Z: holds none.
  int bestDrive = 'Z' - 'A';
  std::size_t bestDepth = 0;
  for (int d = 0; d < 26; ++d) {
    const std::string& folder = folders_[static_cast<std::size_t>(d)];
    if (folder.empty() || folder == "/") continue;
    auto prefix = splitSegments(folder, '/', '/');
    if (prefix.size() <= bestDepth || prefix.size() > segments.size()) continue;
    bool match = true;
    for (std::size_t i = 0; i < prefix.size() && match; ++i) match = prefix[i] == segments[i];
    if (match) {
      bestDrive = d;
      bestDepth = prefix.size();
    }
  }
  std::string out;
  out.push_back(static_cast<char>('A' + bestDrive));
  out += ":\\";
  for (std::size_t i = bestDepth; i < segments.size(); ++i) {
    if (i > bestDepth) out.push_back('\\');
    out += utf8ToLocal(segments[i]);
  }
  return out;
}

std::optional<std::string> localToNativePath(const std::string& localPath) {
  return DriveMap().toNative(localPath);
}

std::string nativeToLocalPath(const std::string& posixPath) {
  return DriveMap().toLocal(posixPath);
}

}  // namespace kq
