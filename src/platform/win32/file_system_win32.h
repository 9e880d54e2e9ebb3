#pragma once
// Win32FileSystem serves local path text through the W functions: the ANSI text
// is widened with the ANSI code page, names found by a walk are narrowed back
// (characters the code page lacks become "?").
#include <string>

#include "platform/file_system.h"

namespace kq {

class Win32FileSystem : public FileSystem {
 public:
  FileStatus status(const std::string& path) override;
  bool createFolders(const std::string& path) override;
  bool remove(const std::string& path) override;
  bool removeAll(const std::string& path) override;
  bool rename(const std::string& from, const std::string& to) override;
  bool setAttributes(const std::string& path, bool hidden, bool system) override;
  std::pair<bool, bool> attributes(const std::string& path) override;
  std::unique_ptr<InputStream> openRead(const std::string& path) override;
  std::unique_ptr<OutputStream> openAppend(const std::string& path) override;
  std::unique_ptr<OutputStream> openWrite(const std::string& path) override;
  bool walk(const std::string& folder, const std::function<bool(const WalkEntry&)>& visit) override;
};

}  // namespace kq
