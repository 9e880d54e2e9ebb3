#include "ui/headless/program_folder.h"

#include <filesystem>

namespace kq {

std::string executablePath() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::absolute("kqfilesync").string();
  return exe.string();
}

}  // namespace kq
