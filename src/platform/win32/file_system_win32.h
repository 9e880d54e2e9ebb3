#pragma once
// Win32FileSystem serves local path text through the W functions: the text is
// widened with the code page of local text, long absolute paths take the "\\?\"
// form, and a name found by a walk that the code page cannot hold is walked as
// a refused entry (never narrowed to "?").
#include <string>

#include "platform/file_system.h"

namespace kq {

// longPath gives an absolute path of more than 247 characters the "\\?\" form
// ("\\?\UNC\" for a share), "/" turned into "\" and runs of separators collapsed;
// shorter and relative paths and paths already in that form stay as they are.
std::wstring longPath(const std::wstring& path);

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
