#pragma once
// NativeFs gives a test a fresh, empty temporary folder on the real disk, named
// by local path text, together with the build's real FileSystem (and IniFile).
// The folder and everything in it are removed when the NativeFs ends.
//
//   kq::test::NativeFs disk;
//   std::string sync = disk.path("Sync");          // e.g. "C:\kqtest\Sync"
//   ASSERT_TRUE(disk.fs().createFolders(sync));
//   ASSERT_TRUE(disk.fs().writeText(sync + "\\a.txt", "hello"));
//
// On Windows (and under Wine) root() is the ANSI path of a new folder in the
// temporary folder, served by Win32FileSystem. On POSIX it is "C:\kqtest",
// served by a PosixFileSystem whose drive C: is mapped to a new temporary
// folder (Z: stays "/"). Links below root() are never followed (guardFolder).
// Never rely on the text of root(): build paths with path().
#include <filesystem>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/ini_file.h"

namespace kq::test {

class NativeFs {
 public:
  NativeFs();   // creates the folder; throws std::runtime_error when it cannot
  ~NativeFs();  // removes the folder with everything in it
  NativeFs(const NativeFs&) = delete;
  NativeFs& operator=(const NativeFs&) = delete;

  // root is the local path text of the folder, without a trailing backslash.
  const std::string& root() const { return root_; }
  // path is root() + "\" + relative (relative may hold further backslashes).
  std::string path(const std::string& relative) const { return root_ + "\\" + relative; }
  // nativeRoot is the folder's real path, for checks that look at the disk directly.
  const std::filesystem::path& nativeRoot() const { return nativeRoot_; }

  FileSystem& fs() { return *fs_; }
  IniFile& ini() { return *ini_; }

 private:
  std::filesystem::path tempFolder_;  // removed at the end
  std::filesystem::path nativeRoot_;
  std::string root_;
  std::unique_ptr<FileSystem> fs_;
  std::unique_ptr<IniFile> ini_;
};

}  // namespace kq::test
