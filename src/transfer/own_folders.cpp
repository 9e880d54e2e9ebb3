#include "transfer/own_folders.h"

#include "wire/system_names.h"

namespace kq {

namespace {

// foldedName is the first name of utf8 (up to a separator) as Windows compares
// names: ASCII letters in lower case, dotless i as "i", long s as "s".
std::string foldedName(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size() && utf8[i] != '\\' && utf8[i] != '/'; ++i) {
    char c = utf8[i];
    std::string_view rest = utf8.substr(i);
    if (rest.substr(0, 2) == "\xC4\xB1") {  // U+0131 dotless i
      out += 'i';
      ++i;
    } else if (rest.substr(0, 2) == "\xC5\xBF") {  // U+017F long s
      out += 's';
      ++i;
    } else {
      out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
  }
  return out;
}

}  // namespace

std::string ownFolderOf(std::string_view relative, const CodePage& page) {
  while (!relative.empty() && (relative.front() == '\\' || relative.front() == '/')) relative.remove_prefix(1);
  // The first name is read in UTF-8, where no byte of a character is a separator.
  std::string first = foldedName(toUtf8(page, relative));
  for (std::string_view folder : kSystemFolders) {
    if (first == folder) return std::string(folder);
  }
  return {};
}

std::string ownFolderRefusal(const LocalPath& local, const CodePage& page) {
  std::string folder = ownFolderOf(local.relative, page);
  return folder.empty() ? std::string() : "the client's own folder " + folder;
}

LocalPath localPathToChange(std::string_view syncFolder, std::string_view value, const CodePage& page) {
  LocalPath local = localPathFromServer(syncFolder, value, RootUse::Refuse, page);
  if (local.ok()) local.refusal = ownFolderRefusal(local, page);
  return local;
}

}  // namespace kq
