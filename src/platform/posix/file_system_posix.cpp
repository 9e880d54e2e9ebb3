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
  return EntryType::Other;
}

bool isRealFolder(const std::string& native) {
  struct stat st {};
  return ::lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool missing(const std::string& native) {
  struct stat st {};
  return ::lstat(native.c_str(), &st) != 0 && errno == ENOENT;
}

// removeTree deletes native and everything below it without following links.
void removeTree(const std::string& native) {
  if (isRealFolder(native)) {
    if (DIR* dir = ::opendir(native.c_str())) {
      while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        removeTree(native + "/" + name);
      }
      ::closedir(dir);
    }
    forgetDosAttributes(native);
    ::rmdir(native.c_str());
  } else {
    forgetDosAttributes(native);
    ::unlink(native.c_str());
  }
}

}  // namespace

FileStatus PosixFileSystem::status(const std::string& path) {
  FileStatus result;
  auto native = nativePath(path);
  struct stat st {};
  if (!native || ::stat(native->c_str(), &st) != 0) return result;
  result.type = typeOf(st.st_mode);
  result.size = result.type == EntryType::File ? static_cast<std::uint64_t>(st.st_size) : 0;
  result.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  result.modifiedNanos = static_cast<std::int64_t>(st.st_mtim.tv_nsec);
  return result;
}

bool PosixFileSystem::createFolders(const std::string& path) {
  auto native = nativePath(path);
  if (!native) return false;
  // Each prefix up to a separator, then the whole path.
  for (std::size_t pos = native->find('/', 1); pos != std::string::npos; pos = native->find('/', pos + 1)) {
    ::mkdir(native->substr(0, pos).c_str(), 0777);
  }
  ::mkdir(native->c_str(), 0777);
  struct stat st {};
  return ::stat(native->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixFileSystem::remove(const std::string& path) {
  auto native = nativePath(path);
  if (!native) return false;
  struct stat st {};
  if (::lstat(native->c_str(), &st) != 0) return false;
  forgetDosAttributes(*native);
  return S_ISDIR(st.st_mode) ? ::rmdir(native->c_str()) == 0 : ::unlink(native->c_str()) == 0;
}

bool PosixFileSystem::removeAll(const std::string& path) {
  auto native = nativePath(path);
  if (!native) return false;
  removeTree(*native);
  return missing(*native);
}

bool PosixFileSystem::rename(const std::string& from, const std::string& to) {
  auto source = nativePath(from);
  auto target = nativePath(to);
  if (!source || !target) return false;
  // Like MoveFileEx: only a file replaces a file; a folder never replaces anything.
  if (*source != *target && isRealFolder(*source) && !missing(*target)) return false;
  return ::rename(source->c_str(), target->c_str()) == 0;
}

bool PosixFileSystem::setAttributes(const std::string& path, bool hidden, bool system) {
  auto native = nativePath(path);
  if (!native) return false;
  return writeDosAttributes(*native, (hidden ? kDosHidden : 0) | (system ? kDosSystem : 0), options_.useXattrs);
}

std::pair<bool, bool> PosixFileSystem::attributes(const std::string& path) {
  auto native = nativePath(path);
  if (!native) return {false, false};
  unsigned bits = readDosAttributes(*native, options_.useXattrs);
  return {(bits & kDosHidden) != 0, (bits & kDosSystem) != 0};
}

std::unique_ptr<InputStream> PosixFileSystem::openRead(const std::string& path) {
  auto native = nativePath(path);
  if (!native) return nullptr;
  int fd = ::open(native->c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {  // a folder is not a file
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<FdInputStream>(fd);
}

std::unique_ptr<OutputStream> PosixFileSystem::openForWriting(const std::string& path, int flags) {
  auto native = nativePath(path);
  if (!native) return nullptr;
  int fd = ::open(native->c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0666);
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
  auto native = nativePath(folder);
  if (!native) return false;
  bool stopped = false;
  return walkNative(*native, folder, visit, stopped);
}

bool PosixFileSystem::walkNative(const std::string& native, const std::string& local,
                                 const std::function<bool(const WalkEntry&)>& visit, bool& stopped) {
  DIR* dir = ::opendir(native.c_str());
  if (dir == nullptr) return false;
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
    std::string childNative = native + (native.back() == '/' ? "" : "/") + name;
    WalkEntry entry{local + "\\" + displayName(name), EntryType::Other, {}};
    entry.refusal = nameRefusal(name, NameText::Utf8);  // the name rule of every client
    auto localName = fromUtf8(activeCodePage(), name);
    if (!localName && entry.refusal.empty())
      entry.refusal = "characters outside the code page " + std::to_string(activeCodePage().number());
    if (!entry.refusal.empty()) {
      if (!visit(entry)) {
        stopped = true;
        break;
      }
      continue;
    }
    entry.path = local + "\\" + *localName;
    struct stat st {};
    bool link = ::lstat(childNative.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    if (link && ::stat(childNative.c_str(), &st) != 0) st.st_mode = S_IFLNK;  // dangling
    entry.type = typeOf(st.st_mode);
    if (!visit(entry)) {
      stopped = true;
      break;
    }
    // Links to folders are listed but not entered: no cycles, no leaving the tree.
    if (!link && entry.type == EntryType::Folder) ok = walkNative(childNative, entry.path, visit, stopped);
  }
  ::closedir(dir);
  return ok;
}

}  // namespace kq
