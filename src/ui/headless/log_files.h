#pragma once
// LogFiles is the file system the headless client's log writes through: files
// private to their owner (PrivateFileSystem), and every line appended to the
// log as a Linux user reads it, UTF-8 with real paths (nativeText): the
// engine's lines are local text ("Z:\home\me\Sync\a.txt" in the code page).
#include "ui/headless/private_files.h"

namespace kq {

class LogFiles : public PrivateFileSystem {
 public:
  std::unique_ptr<OutputStream> openAppend(const std::string& path) override;
};

}  // namespace kq
