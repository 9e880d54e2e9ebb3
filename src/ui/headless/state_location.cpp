#include "ui/headless/state_location.h"

#include <cstdlib>

namespace kq {

namespace {

std::string absoluteEnvironment(const char* name) {
  const char* value = std::getenv(name);
  // A relative value is to be ignored.
  return value != nullptr && value[0] == '/' ? value : "";
}

}  // namespace

std::string stateFolder(const std::string& configFolder) {
  std::string base = absoluteEnvironment("XDG_STATE_HOME");
  if (base.empty()) {
    std::string home = absoluteEnvironment("HOME");
    if (home.empty()) return configFolder;
    base = home + "/.local/state";
  }
  return base + "/kqfilesync";
}

std::string stateName(const std::string& syncFolderNative) {
  std::string name;
  std::size_t start = syncFolderNative.rfind('/', 0) == 0 ? 1 : 0;
  for (std::size_t i = start; i < syncFolderNative.size(); ++i) {
    char c = syncFolderNative[i];
    if (c == '/') name += '-';
    else if (c == '-') name += "\\x2d";
    else if (c == '\\') name += "\\x5c";
    else name += c;
  }
  return name.empty() ? "-" : name;
}

StateFiles stateFiles(const std::string& configFolder, const std::string& syncFolderNative) {
  const std::string base = stateFolder(configFolder) + "/" + stateName(syncFolderNative);
  return {base + ".status.json", base + ".lock"};
}

}  // namespace kq
