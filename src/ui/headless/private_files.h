#pragma once
// PrivateFileSystem is the POSIX file system for files that only their owner
// may read (the configuration with its API key, the log): every file it opens
// for writing gets mode 0600 before anything is written into it.
#include "platform/posix/file_system_posix.h"

namespace kq {

class PrivateFileSystem : public PosixFileSystem {
 public:
  std::unique_ptr<OutputStream> openAppend(const std::string& path) override;
  std::unique_ptr<OutputStream> openWrite(const std::string& path) override;

 private:
  std::unique_ptr<OutputStream> restrict(const std::string& path, std::unique_ptr<OutputStream> stream);
};

}  // namespace kq
