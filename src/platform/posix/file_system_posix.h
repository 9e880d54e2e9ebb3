#pragma once
// PosixFileSystem serves local path text ("C:\Sync\a.txt", Windows-1252) from a
// POSIX file system: drive letters are mapped to folders (Z: is "/", see
// DriveMap), names are stored on disk as UTF-8. A path that cannot be mapped
// fails like a missing one.
//
// Hidden and system attributes are kept as the extended attribute
// "user.DOSATTRIB" ("0x2" hidden, "0x4" system, as Wine writes it). Where the
// file system has no user extended attributes they are kept in memory for the
// life of the process, keyed by device and inode.
//
// Below the guarded folder (guardFolder) links are never followed: names are
// opened one at a time relative to the open folder above them. Only regular
// files are ever opened: a FIFO, a socket or a device is refused before it is
// opened.
#include <string>

#include "platform/file_system.h"
#include "platform/posix/guarded_path.h"
#include "platform/posix/local_path.h"

namespace kq {

class PosixFileSystem : public FileSystem {
 public:
  struct Options {
    bool useXattrs = true;  // false: keep attributes in memory only (tests)
  };
  PosixFileSystem() = default;
  explicit PosixFileSystem(Options options) : options_(options) {}

  // mapDrive makes letter (case-insensitive) stand for nativeFolder.
  void mapDrive(char letter, std::string nativeFolder) { drives_.map(letter, std::move(nativeFolder)); }
  // nativePath is the real path of local path text, nullopt when it cannot be mapped.
  std::optional<std::string> nativePath(const std::string& path) const { return drives_.toNative(path); }
  // localPath is the local path text of a real path.
  std::string localPath(const std::string& native) const { return drives_.toLocal(native); }

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
  ResolvedPath resolve(const std::string& path) const;
  UniqueFd openItem(const std::string& path) const;
  int openFile(const std::string& path, int flags) const;
  std::unique_ptr<OutputStream> openForWriting(const std::string& path, int flags);
  bool walkFolder(int fd, const std::string& local, const std::function<bool(const WalkEntry&)>& visit,
                  bool& stopped);
  WalkEntry walkEntry(int folder, const std::string& local, const std::string& name) const;

  Options options_;
  DriveMap drives_;
  std::string guard_;  // the guarded folder's real path, "" for none
};

}  // namespace kq
