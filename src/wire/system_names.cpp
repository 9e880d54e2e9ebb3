#include "wire/system_names.h"

namespace kq {

bool isInSystemFolder(std::string_view relative, char separator) {
  for (std::string_view folder : kSystemFolders) {
    if (relative.substr(0, folder.size()) != folder) continue;
    if (relative.size() == folder.size() || relative[folder.size()] == separator) return true;
  }
  return false;
}

bool hasDefaultExclusion(std::string_view text) {
  for (std::string_view line : kDefaultExtensionExceptions) {
    if (text.find(line) != std::string_view::npos) return true;
  }
  for (std::string_view line : kDefaultPrefixExceptions) {
    if (text.find(line) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace kq
