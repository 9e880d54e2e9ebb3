#include "platform/posix/dos_attributes.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

namespace kq {

namespace {

constexpr const char* kXattrName = "user.DOSATTRIB";
constexpr unsigned kDosMask = kDosHidden | kDosSystem;

using FileKey = std::pair<dev_t, ino_t>;

// MemoryAttributes holds the bits of files on file systems without extended
// attributes. It belongs to the process like the files it describes, so every
// PosixFileSystem instance sees the same bits.
struct MemoryAttributes {
  std::mutex mutex;
  std::map<FileKey, unsigned> bits;
};

MemoryAttributes& memoryAttributes() {
  static MemoryAttributes table;
  return table;
}

bool fileKey(const std::string& native, FileKey& key) {
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0) return false;
  key = {st.st_dev, st.st_ino};
  return true;
}

void storeInMemory(const FileKey& key, unsigned bits) {
  auto& table = memoryAttributes();
  std::lock_guard lock(table.mutex);
  if (bits == 0) {
    table.bits.erase(key);
  } else {
    table.bits[key] = bits;
  }
}

bool xattrUnsupported(int error) { return error == ENOTSUP || error == EOPNOTSUPP || error == EPERM; }

}  // namespace

bool writeDosAttributes(const std::string& native, unsigned bits, bool useXattrs) {
  FileKey key;
  if (!fileKey(native, key)) return false;
  bits &= kDosMask;
  if (useXattrs) {
    int rc;
    if (bits == 0) {
      rc = ::removexattr(native.c_str(), kXattrName);
      if (rc != 0 && errno == ENODATA) rc = 0;
    } else {
      char text[16];
      int len = std::snprintf(text, sizeof text, "0x%x", bits);
      rc = ::setxattr(native.c_str(), kXattrName, text, static_cast<std::size_t>(len), 0);
    }
    if (rc == 0) {
      storeInMemory(key, 0);
      return true;
    }
    if (!xattrUnsupported(errno)) return false;
  }
  storeInMemory(key, bits);
  return true;
}

unsigned readDosAttributes(const std::string& native, bool useXattrs) {
  if (useXattrs) {
    char text[64];
    auto len = ::getxattr(native.c_str(), kXattrName, text, sizeof text - 1);
    if (len >= 0) {
      text[len] = '\0';
      if (len > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return static_cast<unsigned>(std::strtoul(text + 2, nullptr, 16)) & kDosMask;
      }
      return 0;
    }
  }
  FileKey key;
  if (!fileKey(native, key)) return 0;
  auto& table = memoryAttributes();
  std::lock_guard lock(table.mutex);
  auto it = table.bits.find(key);
  return it == table.bits.end() ? 0 : it->second;
}

void forgetDosAttributes(const std::string& native) {
  struct stat st {};
  if (::lstat(native.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode) && st.st_nlink > 1) return;  // another name keeps the file
  storeInMemory({st.st_dev, st.st_ino}, 0);
}

}  // namespace kq
