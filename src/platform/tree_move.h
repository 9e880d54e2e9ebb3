#pragma once
// PortableTreeMove is the folder move over the FileSystem port: it moves every
// file and subfolder of a source folder into a destination folder, merging into
// existing folders and replacing existing files, removes the source folders that
// end up empty and leaves in place (and reports) whatever could not be moved.
// A link is never moved: a source that is one is refused, and one inside the
// source stays in place with the folders above it.
// It serves on POSIX, and on Windows when robocopy is missing or fails.
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/process_runner.h"

namespace kq {

class PortableTreeMove : public ProcessRunner {
 public:
  explicit PortableTreeMove(FileSystem& fs) : fs_(fs) {}
  MoveResult moveTree(const std::string& source, const std::string& destination) override;

 private:
  MoveResult moveFile(const std::string& source, const std::string& destination);
  void moveEntry(const WalkEntry& entry, const std::string& source,
                 const std::string& destination, std::vector<std::string>& failed);
  void removeEmptyFolders(const std::vector<std::string>& folders);

  FileSystem& fs_;
};

// removeEmptyFolderTree removes folder and the folders below it that hold no
// files (deepest first); folders that still hold something stay.
void removeEmptyFolderTree(FileSystem& fs, const std::string& folder);

}  // namespace kq
