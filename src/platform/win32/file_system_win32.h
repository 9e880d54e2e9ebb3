#pragma once
// Win32FileSystem serves local path text through the W functions: the text is
// widened with the code page of local text, long absolute paths take the "\\?\"
// form, and a name found by a walk that the code page cannot hold is walked as
// a refused entry (never narrowed to "?"). Below the guarded folder a reparse
// point (a symbolic link, a junction) is never followed, replaced, moved or
// removed: every name on the way is checked, and files are opened with
// FILE_FLAG_OPEN_REPARSE_POINT and checked again once open. Only disk files
// are ever opened for reading or writing.
//
// Every folder between the guarded folder and the name an operation works on
// is held open without FILE_SHARE_DELETE while the operation runs (see
// HeldFolders): none of them can be renamed, removed or replaced by a link
// between the check and the use, so the path text names what was checked.
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace kq {

// longPath gives an absolute path of more than 247 characters the "\\?\" form
// ("\\?\UNC\" for a share), "/" turned into "\" and runs of separators collapsed;
// shorter and relative paths and paths already in that form stay as they are.
std::wstring longPath(const std::wstring& path);

// withoutLongForm takes the "\\?\" form away again ("\\?\UNC\" becomes "\\").
std::wstring withoutLongForm(const std::wstring& path);
// isBelowFolder tells whether path lies strictly below folder, compared as text
// without case and whichever of the two takes the "\\?\" form.
bool isBelowFolder(const std::wstring& path, const std::wstring& folder);

// HeldFolders holds folders open, checked on the handle and by name, until it ends.
class HeldFolders {
 public:
  HeldFolders() = default;
  HeldFolders(const HeldFolders&) = delete;
  HeldFolders& operator=(const HeldFolders&) = delete;
  ~HeldFolders() { release(); }
  // hold opens guard (as the system resolves it) and each folder below it on
  // the way to the last name of wide (that name itself is not held). It stops
  // at the first missing name and returns false when a folder on the way is a
  // link or a junction, or not a folder.
  bool hold(const std::wstring& guard, const std::wstring& wide);
  // holdFolder holds folder itself; false when it is missing, a link or a junction, or not a folder.
  bool holdFolder(const std::wstring& folder);
  void release();
  std::size_t count() const { return handles_.size(); }

 private:
  bool holdOne(const std::wstring& folder, bool followLink);
  std::vector<void*> handles_;
};

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
  // crossesLink: some name of wide below the guarded folder, the last
  // included, is a reparse point. The folders on the way stay held in held.
  bool crossesLink(const std::wstring& wide, HeldFolders& held) const;
  // openFile returns a HANDLE (INVALID_HANDLE_VALUE on failure); the DWORD arguments of CreateFileW.
  void* openFile(const std::string& path, unsigned long access, unsigned long share,
                 unsigned long disposition) const;

  std::wstring guard_;  // the guarded folder, "" for none
};

}  // namespace kq
