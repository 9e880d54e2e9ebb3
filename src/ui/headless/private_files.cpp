#include "ui/headless/private_files.h"

#include <sys/stat.h>

namespace kq {

std::unique_ptr<OutputStream> PrivateFileSystem::openAppend(const std::string& path) {
  return restrict(path, PosixFileSystem::openAppend(path));
}

std::unique_ptr<OutputStream> PrivateFileSystem::openWrite(const std::string& path) {
  return restrict(path, PosixFileSystem::openWrite(path));
}

std::unique_ptr<OutputStream> PrivateFileSystem::restrict(const std::string& path,
                                                          std::unique_ptr<OutputStream> stream) {
  if (!stream) return stream;
  auto native = nativePath(path);
  // A file that cannot be made private is not written.
  if (!native || ::chmod(native->c_str(), S_IRUSR | S_IWUSR) != 0) return nullptr;
  return stream;
}

}  // namespace kq
