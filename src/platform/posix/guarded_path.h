#pragma once
// Resolving real paths without following links below a guarded folder. The
// guarded folder's own path is resolved as the system resolves it (the sync
// folder may itself be reached through a link); every name below it is opened
// one at a time relative to the open folder above it with O_NOFOLLOW, so a
// folder swapped for a link during an operation cannot lead outside.
#include <string>

namespace kq {

// UniqueFd closes its descriptor when it ends.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// ResolvedPath is the folder holding the last name of a path, open, and that name.
struct ResolvedPath {
  UniqueFd folder;
  std::string name;     // "." for "/"
  bool guarded = false;  // the last name lies below the guarded folder: never follow it
  bool crossedLink = false;  // resolution stopped at a link on the way (folder is invalid)
  int error = 0;             // errno of a failed resolution
  bool ok() const { return folder.valid(); }
};

// resolveParent opens the folder that holds the last name of native (an
// absolute path without "." or ".." segments). guard is the guarded folder ("" for
// none). A link met on the way below guard stops it: crossedLink is set.
ResolvedPath resolveParent(const std::string& native, const std::string& guard);

// openFolderNoFollow opens name in folder as a folder, refusing a link.
UniqueFd openFolderNoFollow(int folder, const std::string& name);

// isBelow tells whether native lies strictly below folder.
bool isBelow(const std::string& native, const std::string& folder);

}  // namespace kq
