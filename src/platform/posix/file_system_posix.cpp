#include "platform/posix/file_system_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/codepage.h"
#include "platform/display_name.h"
#include "wire/name_rule.h"
#include "platform/posix/dos_attributes.h"
#include "platform/posix/posix_streams.h"

namespace kq {

namespace {

EntryType typeOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryType::File;
  if (S_ISDIR(mode)) return EntryType::Folder;
  if (S_ISLNK(mode)) return EntryType::Link;
  return EntryType::Other;
}

// statAt reads the status of the resolved name; a guarded name is never followed.
bool statAt(const ResolvedPath& at, struct stat& st) {
  return at.ok() && ::fstatat(at.folder.get(), at.name.c_str(), &st, at.guarded ? AT_SYMLINK_NOFOLLOW : 0) == 0;
}

bool isLinkAt(const ResolvedPath& at) {
  struct stat st {};
  return at.crossedLink || (at.guarded && statAt(at, st) && S_ISLNK(st.st_mode));
}

bool missingAt(const ResolvedPath& at) {
  struct stat st {};
  return at.ok() && ::fstatat(at.folder.get(), at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

// procPath names an open descriptor as a path (for the calls that take only paths).
std::string procPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// removeTreeAt deletes name in folder and everything below it. Links are never
// followed; below a guarded folder they are not removed either (keepLinks).
void removeTreeAt(int folder, const std::string& name, const std::string& native, bool keepLinks) {
  struct stat st {};
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISLNK(st.st_mode) && keepLinks) return;
  forgetDosAttributes(native);
  if (!S_ISDIR(st.st_mode)) {
    ::unlinkat(folder, name.c_str(), 0);
    return;
  }
  int fd = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  if (DIR* dir = ::fdopendir(fd)) {
    while (dirent* e = ::readdir(dir)) {
      std::string child = e->d_name;
      if (child == "." || child == "..") continue;
      removeTreeAt(::dirfd(dir), child, native + "/" + child, true);
    }
    ::closedir(dir);
  } else {
    ::close(fd);
  }
  ::unlinkat(folder, name.c_str(), AT_REMOVEDIR);
}

// makeFoldersPlain creates native and its parents by path text.
void makeFoldersPlain(const std::string& native) {
  for (std::size_t pos = native.find('/', 1); pos != std::string::npos; pos = native.find('/', pos + 1))
    ::mkdir(native.substr(0, pos).c_str(), 0777);
  ::mkdir(native.c_str(), 0777);
}

// makeFoldersBelow creates the names of native below guard one at a time,
// never through a link; true when the last one is a folder.
bool makeFoldersBelow(const std::string& guard, const std::string& native) {
  UniqueFd folder(::open(guard.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  std::size_t i = guard == "/" ? 1 : guard.size() + 1;
  while (folder.valid() && i <= native.size()) {
    std::size_t end = native.find('/', i);
    if (end == std::string::npos) end = native.size();
    std::string name = native.substr(i, end - i);
    i = end + 1;
    if (name.empty()) continue;
    ::mkdirat(folder.get(), name.c_str(), 0777);
    folder = openFolderNoFollow(folder.get(), name);
  }
  return folder.valid();
}

}  // namespace

void PosixFileSystem::guardFolder(const std::string& folder) {
  auto native = folder.empty() ? std::nullopt : nativePath(folder);
  guard_ = native ? *native : std::string();
}

ResolvedPath PosixFileSystem::resolve(const std::string& path) const {
  auto native = nativePath(path);
  if (!native) return {};
  return resolveParent(*native, guard_);
}

FileStatus PosixFileSystem::status(const std::string& path) {
  FileStatus result;
  ResolvedPath at = resolve(path);
  struct stat st {};
  if (at.crossedLink) result.type = EntryType::Link;
  if (!statAt(at, st)) return result;
  result.type = typeOf(st.st_mode);
  result.size = result.type == EntryType::File ? static_cast<std::uint64_t>(st.st_size) : 0;
  result.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  result.modifiedNanos = static_cast<std::int64_t>(st.st_mtim.tv_nsec);
  return result;
}

bool PosixFileSystem::createFolders(const std::string& path) {
  auto native = nativePath(path);
  if (!native) return false;
  if (!isBelow(*native, guard_)) {
    makeFoldersPlain(*native);
  } else {
    makeFoldersPlain(guard_);
    if (!makeFoldersBelow(guard_, *native)) return false;
  }
  return status(path).type == EntryType::Folder;
}

bool PosixFileSystem::remove(const std::string& path) {
  ResolvedPath at = resolve(path);
  struct stat st {};
  if (isLinkAt(at) || !at.ok() || ::fstatat(at.folder.get(), at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return false;
  forgetDosAttributes(*nativePath(path));
  return ::unlinkat(at.folder.get(), at.name.c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) == 0;
}

bool PosixFileSystem::removeAll(const std::string& path) {
  ResolvedPath at = resolve(path);
  if (isLinkAt(at) || !nativePath(path)) return false;
  if (!at.ok()) return at.error == ENOENT;  // its folder is missing: nothing is left
  removeTreeAt(at.folder.get(), at.name, *nativePath(path), at.guarded);
  return missingAt(at);
}

bool PosixFileSystem::rename(const std::string& from, const std::string& to) {
  ResolvedPath source = resolve(from), target = resolve(to);
  if (!source.ok() || !target.ok() || isLinkAt(source) || isLinkAt(target)) return false;
  struct stat st {};
  bool folder = ::fstatat(source.folder.get(), source.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(st.st_mode);
  // Like MoveFileEx: only a file replaces a file; a folder never replaces anything.
  if (folder && *nativePath(from) != *nativePath(to) && !missingAt(target)) return false;
  return ::renameat(source.folder.get(), source.name.c_str(), target.folder.get(), target.name.c_str()) == 0;
}

// openItem opens the resolved name itself (not what a link names) for the
// attribute calls; invalid for a link below the guarded folder.
UniqueFd PosixFileSystem::openItem(const std::string& path) const {
  ResolvedPath at = resolve(path);
  if (isLinkAt(at) || !at.ok()) return {};
  return UniqueFd(::openat(at.folder.get(), at.name.c_str(), O_PATH | O_CLOEXEC | (at.guarded ? O_NOFOLLOW : 0)));
}

bool PosixFileSystem::setAttributes(const std::string& path, bool hidden, bool system) {
  UniqueFd item = openItem(path);
  if (!item.valid()) return false;
  return writeDosAttributes(procPath(item.get()), (hidden ? kDosHidden : 0) | (system ? kDosSystem : 0),
                            options_.useXattrs);
}

std::pair<bool, bool> PosixFileSystem::attributes(const std::string& path) {
  UniqueFd item = openItem(path);
  if (!item.valid()) return {false, false};
  unsigned bits = readDosAttributes(procPath(item.get()), options_.useXattrs);
  return {(bits & kDosHidden) != 0, (bits & kDosSystem) != 0};
}

// openFile opens a regular file; anything else is refused before it is opened
// (a FIFO would block, a device act), and checked again once open.
int PosixFileSystem::openFile(const std::string& path, int flags) const {
  ResolvedPath at = resolve(path);
  struct stat st {};
  if (isLinkAt(at) || !at.ok()) return -1;
  bool there = statAt(at, st);
  if (there && !S_ISREG(st.st_mode)) return -1;
  if (!there && (flags & O_CREAT) == 0) return -1;
  int fd = ::openat(at.folder.get(), at.name.c_str(),
                    flags | O_NONBLOCK | O_CLOEXEC | (at.guarded ? O_NOFOLLOW : 0), 0666);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

std::unique_ptr<InputStream> PosixFileSystem::openRead(const std::string& path) {
  int fd = openFile(path, O_RDONLY);
  if (fd < 0) return nullptr;
  return std::make_unique<FdInputStream>(fd);
}

std::unique_ptr<OutputStream> PosixFileSystem::openForWriting(const std::string& path, int flags) {
  int fd = openFile(path, O_WRONLY | O_CREAT | flags);
  if (fd < 0) return nullptr;
  return std::make_unique<FdOutputStream>(fd);
}

std::unique_ptr<OutputStream> PosixFileSystem::openAppend(const std::string& path) {
  return openForWriting(path, O_APPEND);
}

std::unique_ptr<OutputStream> PosixFileSystem::openWrite(const std::string& path) {
  return openForWriting(path, O_TRUNC);
}

bool PosixFileSystem::walk(const std::string& folder, const std::function<bool(const WalkEntry&)>& visit) {
  ResolvedPath at = resolve(folder);
  if (isLinkAt(at) || !at.ok()) return false;
  int fd = ::openat(at.folder.get(), at.name.c_str(),
                    O_RDONLY | O_DIRECTORY | O_CLOEXEC | (at.guarded ? O_NOFOLLOW : 0));
  if (fd < 0) return false;
  bool stopped = false;
  return walkFolder(fd, folder, visit, stopped);
}

// walkFolder enumerates the open folder fd (taking it over); subfolders are
// opened relative to it and links are never entered.
bool PosixFileSystem::walkFolder(int fd, const std::string& local,
                                 const std::function<bool(const WalkEntry&)>& visit, bool& stopped) {
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return false;
  }
  bool ok = true;
  while (ok && !stopped) {
    errno = 0;
    dirent* e = ::readdir(dir);
    if (e == nullptr) {
      ok = errno == 0;
      break;
    }
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    WalkEntry entry = walkEntry(::dirfd(dir), local, name);
    if (!visit(entry)) {
      stopped = true;
      break;
    }
    if (entry.type != EntryType::Folder) continue;
    int child = ::openat(::dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ok = child >= 0 && walkFolder(child, entry.path, visit, stopped);
  }
  ::closedir(dir);
  return ok;
}

WalkEntry PosixFileSystem::walkEntry(int folder, const std::string& local, const std::string& name) const {
  WalkEntry entry{local + "\\" + displayName(name), EntryType::Other, {}};
  entry.refusal = nameRefusal(name, NameText::Utf8);  // the name rule of every client
  auto localName = fromUtf8(activeCodePage(), name);
  if (!localName && entry.refusal.empty())
    entry.refusal = "characters outside the code page " + std::to_string(activeCodePage().number());
  if (!entry.refusal.empty()) return entry;
  entry.path = local + "\\" + *localName;
  struct stat st {};
  entry.type = ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? typeOf(st.st_mode) : EntryType::None;
  return entry;
}

}  // namespace kq
