#include "cli/config_location.h"

#include <cstdlib>
#include <filesystem>

namespace kq::cli {

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

std::string userConfigFolder() {
  std::string base = environment("XDG_CONFIG_HOME");
  // A relative value is to be ignored.
  if (base.empty() || base[0] != '/') base = environment("HOME") + "/.config";
  return base + "/kqfilesync";
}

std::optional<std::string> findConfigFolder(const std::string& exeFolder) {
  for (const std::string& folder : {userConfigFolder(), exeFolder}) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(std::filesystem::path(folder) / kConfigFileName, ec)) return folder;
  }
  return std::nullopt;
}

std::string executableFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path().string() : exe.parent_path().string();
}

}  // namespace kq::cli
