#include "store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "wire_text.h"

namespace fs = std::filesystem;

namespace kqs {

namespace {

constexpr const char* kTempFolder = "/.kqsyncd.tmp";

void fsyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

std::string hashOfFile(const std::string& diskPath, bool& ok) {
  Sha256 sha;
  int fd = ::open(diskPath.c_str(), O_RDONLY);
  ok = fd >= 0;
  if (!ok) return {};
  std::string buffer(1 << 20, '\0');
  for (;;) {
    auto n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0) { ok = false; break; }
    if (n == 0) break;
    sha.update(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
  }
  ::close(fd);
  return sha.hexDigest();
}

}  // namespace

IncomingFile::~IncomingFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!taken_) ::unlink(path_.c_str());
}

bool IncomingFile::write(std::string_view data) {
  sha_.update(data);
  size_ += static_cast<std::int64_t>(data.size());
  while (!data.empty()) {
    auto n = ::write(fd_, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

const std::string& IncomingFile::hash() {
  if (hash_.empty()) hash_ = sha_.hexDigest();
  return hash_;
}

Store::Store(std::string root, const std::string& indexPath, Logger log)
    : root_(std::move(root)), index_(indexPath), log_(std::move(log)) {
  fs::create_directories(root_ + kTempFolder);
  for (auto& left : fs::directory_iterator(root_ + kTempFolder)) fs::remove_all(left.path());
}

StoreEntry Store::statEntry(const std::string& path, bool isDir, const std::string& hash) {
  struct stat st{};
  if (::lstat(diskPath(path).c_str(), &st) != 0) throw IndexError("cannot read " + diskPath(path));
  StoreEntry e;
  e.path = path;
  e.isDir = isDir;
  e.size = isDir ? 0 : static_cast<std::int64_t>(st.st_size);
  e.mtime = static_cast<std::int64_t>(st.st_mtime);
  e.hash = hash;
  return e;
}

bool Store::scanFile(const std::string& path, const StoreEntry* known) {
  struct stat st{};
  if (::lstat(diskPath(path).c_str(), &st) != 0) return false;
  if (known != nullptr && !known->deleted && !known->isDir && known->size == st.st_size &&
      known->mtime == st.st_mtime) {
    return false;
  }
  bool ok = false;
  std::string hash = hashOfFile(diskPath(path), ok);
  if (!ok) return false;
  StoreEntry e = statEntry(path, false, hash);
  bool same = known != nullptr && !known->deleted && !known->isDir && known->hash == hash;
  e.version = same ? known->version : index_.nextVersion();
  index_.put(e);
  if (!same) log_("store: picked up " + std::string(known && !known->deleted ? "change of " : "new file ") + path);
  return !same;
}

int Store::scan(std::int64_t now) {
  auto entries = index_.entries();
  std::map<std::string, bool> seen;
  int changed = 0;
  index_.transaction([&] {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root_, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (ec) break;
      std::string path = "/" + fs::relative(it->path(), root_).generic_string();
      if (path == kTempFolder) { it.disable_recursion_pending(); continue; }
      auto status = it->symlink_status();
      if (!fs::is_directory(status) && !fs::is_regular_file(status)) continue;
      seen[path] = true;
      auto found = entries.find(path);
      const StoreEntry* known = found == entries.end() ? nullptr : &found->second;
      if (fs::is_directory(status)) {
        if (known == nullptr || known->deleted || !known->isDir) {
          StoreEntry e = statEntry(path, true, "");
          e.version = index_.nextVersion();
          index_.put(e);
          log_("store: picked up new folder " + path);
          ++changed;
        }
      } else if (scanFile(path, known)) {
        ++changed;
      }
    }
    for (auto& [path, e] : entries) {
      if (!e.deleted && !seen.count(path)) {
        index_.tombstone(path, now);
        log_("store: picked up deletion of " + path);
        ++changed;
      }
    }
  });
  return changed;
}

void Store::fill(PlanInput& in) {
  in.store = index_.entries();
  in.known = index_.knownCopies();
  in.moves = index_.moves();
}

std::unique_ptr<IncomingFile> Store::beginIncoming() {
  static std::atomic<unsigned> counter{0};
  std::string path = root_ + kTempFolder + "/in-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw IndexError("cannot create " + path + ": " + std::strerror(errno));
  return std::make_unique<IncomingFile>(path, fd);
}

void Store::ensureParents(const std::string& path) {
  std::string parent = parentOf(path);
  if (parent.empty()) return;
  auto entries = index_.entries();
  auto it = entries.find(parent);
  if (it != entries.end() && !it->second.deleted && it->second.isDir && fs::is_directory(diskPath(parent))) return;
  ensureParents(parent);
  fs::create_directories(diskPath(parent));
  StoreEntry e = statEntry(parent, true, "");
  e.version = index_.nextVersion();
  index_.put(e);
}

void Store::install(IncomingFile& file, const std::string& path, std::int64_t mtime) {
  ensureParents(path);
  if (mtime > 0) {
    struct timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
    ::futimens(file.fd(), times);
  }
  if (::fsync(file.fd()) != 0) throw IndexError("cannot flush " + file.path());
  if (::rename(file.path().c_str(), diskPath(path).c_str()) != 0) {
    throw IndexError("cannot move into place " + diskPath(path) + ": " + std::strerror(errno));
  }
  file.taken();
  fsyncFolder(fs::path(diskPath(path)).parent_path().string());
  StoreEntry e = statEntry(path, false, file.hash());
  e.version = index_.nextVersion();
  index_.put(e);
}

std::string Store::conflictName(const std::string& path, std::int64_t now) const {
  std::string parent = parentOf(path);
  std::string name = lastNameOf(path);
  auto dot = name.rfind('.');
  std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
  std::string base = parent + "/" + stem + " (conflict " + formatLocal(now, "%Y-%m-%d %H.%M.%S");
  std::string candidate = base + ")" + ext;
  for (int n = 2; fs::exists(fs::symlink_status(diskPath(candidate))); ++n) {
    candidate = base + " " + std::to_string(n) + ")" + ext;
  }
  return candidate;
}

void Store::keepAside(const std::string& path, std::int64_t now) {
  std::string aside = conflictName(path, now);
  fs::rename(diskPath(path), diskPath(aside));
  index_.rename(path, aside, fs::is_directory(diskPath(aside)), now);
  log_("conflict: " + path + " kept as " + aside);
}

AcceptResult Store::accept(const std::string& path, IncomingFile& file, FetchMode mode, std::int64_t clientMtime,
                           std::int64_t now) {
  AcceptResult result;
  index_.transaction([&] {
    auto entries = index_.entries();
    auto it = entries.find(path);
    const StoreEntry* s = it == entries.end() || it->second.deleted ? nullptr : &it->second;
    if (s != nullptr && s->isDir) return;
    if (s != nullptr && s->hash == file.hash()) {
      result.outcome = AcceptOutcome::Unchanged;
      result.entry = *s;
      return;
    }
    if (s == nullptr || mode == FetchMode::ClientChanged) {
      install(file, path, clientMtime);
      result.outcome = AcceptOutcome::Updated;
    } else if (clientMtime == 0 || clientMtime > s->mtime) {
      result.conflictPath = conflictName(path, now);
      fs::rename(diskPath(path), diskPath(result.conflictPath));
      StoreEntry aside = *s;
      aside.path = result.conflictPath;
      aside.version = index_.nextVersion();
      index_.put(aside);
      install(file, path, clientMtime);
      result.outcome = AcceptOutcome::ConflictClientWon;
    } else {
      result.conflictPath = conflictName(path, now);
      install(file, result.conflictPath, clientMtime);
      result.outcome = AcceptOutcome::ConflictStoreKept;
      result.entry = index_.entries().at(result.conflictPath);
      return;
    }
    result.entry = index_.entries().at(path);
  });
  return result;
}

void Store::makeFolder(const std::string& path, std::int64_t) {
  index_.transaction([&] {
    ensureParents(path);
    fs::create_directories(diskPath(path));
    StoreEntry e = statEntry(path, true, "");
    e.version = index_.nextVersion();
    index_.put(e);
  });
}

void Store::remove(const std::string& path, std::int64_t now) {
  index_.transaction([&] {
    std::error_code ec;
    fs::remove_all(diskPath(path), ec);
    if (ec) throw IndexError("cannot remove " + diskPath(path) + ": " + ec.message());
    index_.tombstone(path, now);
  });
}

bool Store::rename(const std::string& path, const std::string& target, std::int64_t now) {
  if (!fs::exists(fs::symlink_status(diskPath(path)))) return false;
  index_.transaction([&] {
    if (fs::exists(fs::symlink_status(diskPath(target)))) keepAside(target, now);
    ensureParents(target);
    bool isDir = fs::is_directory(diskPath(path));
    fs::rename(diskPath(path), diskPath(target));
    fsyncFolder(fs::path(diskPath(target)).parent_path().string());
    index_.rename(path, target, isDir, now);
  });
  return true;
}

void Store::recordKnown(const std::string& path, std::int64_t size, std::int64_t mtime, const std::string& hash) {
  index_.recordKnown(path, {size, mtime, hash});
}

}  // namespace kqs
