// The store's side of a file replaced by a folder or a folder by a file: the
// item that goes is kept (as versions, or under a conflict name), and the
// index holds the new item in the same transaction.
#include <filesystem>

#include "disk_file.h"
#include "sqlite_statement.h"
#include "store.h"
#include "wire_text.h"

namespace fs = std::filesystem;

namespace kqs {

void Store::replaceFileByFolder(const std::string& path, FetchMode mode, std::int64_t now) {
  checkReserved(path);
  index_.transaction([&] {
    auto found = index_.entry(path);
    if (found && !found->deleted && !found->isDir) {
      if (mode == FetchMode::Merge) {
        keepAside(path, now);
      } else {
        keepVersions(path, now);
        std::error_code ec;
        fs::remove(diskPath(path), ec);
        if (ec) throw IndexError("cannot remove " + diskPath(path) + ": " + ec.message());
        index_.tombstone(path, now);
        log_("store: the file " + path + " is replaced by a folder; it is kept as a version");
      }
    }
    createFolder(path);
  });
}

void Store::clearFolderForFile(const std::string& path, std::int64_t now) {
  checkReserved(path);
  keepVersions(path, now);
  std::error_code ec;
  fs::remove_all(diskPath(path), ec);
  if (ec) throw IndexError("cannot remove " + diskPath(path) + ": " + ec.message());
  std::string parent = root_ + parentOf(path);
  if (!fsyncFolder(parent)) throw IndexError("cannot flush folder " + parent);
  index_.tombstone(path, now);
  log_("store: the folder " + path + " is replaced by a file; its files are kept as versions");
}

}  // namespace kqs
