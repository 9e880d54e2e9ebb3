#include "platform/posix/guarded_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace kq {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {

std::vector<std::string> namesOf(const std::string& native, std::size_t from) {
  std::vector<std::string> names;
  std::size_t i = from;
  while (i < native.size()) {
    while (i < native.size() && native[i] == '/') ++i;
    std::size_t start = i;
    while (i < native.size() && native[i] != '/') ++i;
    if (i > start) names.push_back(native.substr(start, i - start));
  }
  return names;
}

bool isLinkIn(int folder, const std::string& name) {
  struct stat st {};
  return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// resolvePlain opens the parent of native by its path text, as the system does.
ResolvedPath resolvePlain(const std::string& native) {
  ResolvedPath out;
  auto slash = native.find_last_of('/');
  if (native == "/" || slash == std::string::npos) {
    out.folder = UniqueFd(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    out.name = native == "/" ? "." : native;
    return out;
  }
  std::string parent = slash == 0 ? "/" : native.substr(0, slash);
  out.folder = UniqueFd(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!out.folder.valid()) out.error = errno;
  out.name = native.substr(slash + 1);
  return out;
}

}  // namespace

bool isBelow(const std::string& native, const std::string& folder) {
  if (folder.empty()) return false;
  if (folder == "/") return native.size() > 1 && native[0] == '/';
  return native.size() > folder.size() && native.compare(0, folder.size(), folder) == 0 &&
         native[folder.size()] == '/';
}

UniqueFd openFolderNoFollow(int folder, const std::string& name) {
  return UniqueFd(::openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

ResolvedPath resolveParent(const std::string& native, const std::string& guard) {
  if (!isBelow(native, guard)) return resolvePlain(native);
  ResolvedPath out;
  out.guarded = true;
  UniqueFd folder(::open(guard.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) out.error = errno;
  auto names = namesOf(native, guard.size());
  for (std::size_t i = 0; folder.valid() && i + 1 < names.size(); ++i) {
    UniqueFd next = openFolderNoFollow(folder.get(), names[i]);
    if (!next.valid()) {
      out.error = errno;
      out.crossedLink = isLinkIn(folder.get(), names[i]);
      return out;
    }
    folder = std::move(next);
  }
  out.folder = std::move(folder);
  out.name = names.back();
  return out;
}

}  // namespace kq
