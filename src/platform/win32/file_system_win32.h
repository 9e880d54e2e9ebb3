#pragma once
// Win32FileSystem serves local path text through the W functions: the text is
// widened with the code page of local text, long absolute paths take the "\\?\"
// form, and a name found by a walk that the code page cannot hold is walked as
// a refused entry (never narrowed to "?"). Below the guarded folder a reparse
// point (a symbolic link, a junction) is never followed, replaced, moved or
// removed: every name on the way is checked, and files are opened with
// FILE_FLAG_OPEN_REPARSE_POINT and checked again once open. Only disk files
// are ever opened for reading or writing.
#include <string>

#include "platform/file_system.h"

namespace kq {

// longPath gives an absolute path of more than 247 characters the "\\?\" form
// ("\\?\UNC\" for a share), "/" turned into "\" and runs of separators collapsed;
// shorter and relative paths and paths already in that form stay as they are.
std::wstring longPath(const std::wstring& path);

class Win32FileSystem : public FileSystem {
 public:
  void guardFolder(const std::string& folder) override;
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

 private:
  bool guarded(const std::wstring& wide) const;
  bool crossesLink(const std::wstring& wide) const;
  // openFile returns a HANDLE (INVALID_HANDLE_VALUE on failure); the DWORD arguments of CreateFileW.
  void* openFile(const std::string& path, unsigned long access, unsigned long share,
                 unsigned long disposition) const;

  std::wstring guard_;  // the guarded folder, "" for none
};

}  // namespace kq
