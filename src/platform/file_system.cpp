#include "platform/file_system.h"

namespace kq {

std::optional<std::string> FileSystem::readText(const std::string& path) {
  auto in = openRead(path);
  if (!in) return std::nullopt;
  std::string out;
  char buf[65536];
  for (;;) {
    auto n = in->read(buf, sizeof buf);
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

bool FileSystem::writeText(const std::string& path, const std::string& content) {
  auto out = openWrite(path);
  if (!out) return false;
  bool ok = out->write(content.data(), content.size());
  return out->close() && ok;
}

bool FileSystem::appendText(const std::string& path, const std::string& content) {
  auto out = openAppend(path);
  if (!out) return false;
  bool ok = out->write(content.data(), content.size());
  return out->close() && ok;
}

}  // namespace kq
