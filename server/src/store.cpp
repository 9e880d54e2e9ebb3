#include "store.h"

#include "sqlite_index.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "disk_file.h"
#include "server_clock.h"
#include "wire_text.h"

namespace fs = std::filesystem;

namespace kqs {

namespace {

constexpr std::int64_t kPruneEverySeconds = 86400;

std::int64_t nanoseconds(const struct timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + static_cast<std::int64_t>(t.tv_nsec);
}

std::int64_t wallSecond() { return wallSecondsNow(); }

// changedSince: the file's content or inode changed in or after the given second,
// so a later change within that second might not move its times.
bool changedSince(const struct stat& st, std::int64_t second) {
  return st.st_mtim.tv_sec >= second || st.st_ctim.tv_sec >= second;
}

StoreEntry entryOf(const std::string& path, bool isDir, const std::string& hash, const struct stat& st) {
  StoreEntry e;
  e.path = path;
  e.isDir = isDir;
  e.size = isDir ? 0 : static_cast<std::int64_t>(st.st_size);
  e.mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  e.hash = hash;
  e.mtimeNs = nanoseconds(st.st_mtim);
  e.ctimeNs = nanoseconds(st.st_ctim);
  e.inode = static_cast<std::int64_t>(st.st_ino);
  return e;
}

bool sameFile(const StoreEntry& known, const struct stat& st) {
  return !known.deleted && !known.isDir && !known.recheck && known.size == st.st_size &&
         known.mtimeNs == nanoseconds(st.st_mtim) && known.ctimeNs == nanoseconds(st.st_ctim) &&
         known.inode == static_cast<std::int64_t>(st.st_ino);
}

struct Dir {
  DIR* dir;
  ~Dir() {
    if (dir != nullptr) ::closedir(dir);
  }
};

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

bool isFolder(const std::string& diskPath) {
  struct stat st{};
  return ::lstat(diskPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// hasContent: the folder holds anything but the server's own names.
bool hasContent(const std::string& root) {
  Dir d{::opendir(root.c_str())};
  if (d.dir == nullptr) return false;
  while (auto* e = ::readdir(d.dir)) {
    std::string name = std::string("/") + e->d_name;
    if (name != "/." && name != "/.." && name != kStoreTempFolder && name != kStoreMarker) return true;
  }
  return false;
}

}  // namespace

std::string storeProblem(const std::string& root) {
  struct stat st{};
  if (::stat(root.c_str(), &st) != 0) return errno == ENOENT ? "missing" : "cannot be read: " + errnoText();
  if (!S_ISDIR(st.st_mode)) return "not a folder";
  Dir d{::opendir(root.c_str())};
  if (d.dir == nullptr) return "cannot be read: " + errnoText();
  if (::lstat((root + kStoreMarker).c_str(), &st) != 0) {
    if (errno != ENOENT) return "cannot be read: " + errnoText();
    return std::string("no marker file ") + (kStoreMarker + 1);
  }
  return "";
}

void writeStoreMarker(const std::string& root) {
  std::error_code ec;
  fs::create_directories(root, ec);
  if (ec) throw std::runtime_error("cannot create " + root + ": " + ec.message());
  std::string marker = root + kStoreMarker;
  std::string temp = marker + ".new";
  ::unlink(temp.c_str());
  {
    Fd out{::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)};
    std::string text = "This folder is a kqsyncd store. Without this file kqsyncd does not synchronise it.\n";
    if (out.fd < 0 || ::write(out.fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        ::fsync(out.fd) != 0) {
      std::string why = errnoText();
      ::unlink(temp.c_str());
      throw std::runtime_error("cannot write " + marker + ": " + why);
    }
  }
  if (::rename(temp.c_str(), marker.c_str()) != 0 || !fsyncFolder(root)) {
    throw std::runtime_error("cannot write " + marker + ": " + errnoText());
  }
}

StoreIncoming::~StoreIncoming() {
  if (fd_ >= 0) ::close(fd_);
  if (!taken_) ::unlink(path_.c_str());
}

bool StoreIncoming::write(std::string_view data) {
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

const std::string& StoreIncoming::hash() {
  if (hash_.empty()) hash_ = sha_.hexDigest();
  return hash_;
}

Store::Store(std::string root, const std::string& indexPath, Logger log, const std::string& versionsFolder,
             int keepDays)
    : Store(std::move(root), std::make_unique<SqliteIndex>(indexPath), std::move(log),
            std::make_unique<Versions>(versionsFolder, keepDays)) {}

Store::Store(std::string root, std::unique_ptr<StoreIndex> index, Logger log, std::unique_ptr<Versions> versions)
    : root_(std::move(root)), ownIndex_(std::move(index)), index_(*ownIndex_), ownVersions_(std::move(versions)),
      versions_(*ownVersions_), log_(std::move(log)) {
  watch_ = std::make_unique<StoreWatch>(root_, log_, index_.changesElsewhere());
  // The root itself is never created here: a missing store folder is a fault, not an empty store.
  if (!isFolder(root_)) return;
  // Leftovers of transfers cut off by a crash; a store that refuses this is reported by the first cycle.
  std::error_code ec;
  fs::create_directories(root_ + kStoreTempFolder, ec);
  for (auto it = fs::directory_iterator(root_ + kStoreTempFolder, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    std::error_code ignored;
    fs::remove_all(it->path(), ignored);
  }
}

void Store::adoptMarker() {
  if (storeProblem(root_).empty()) {
    if (!index_.markerSeen()) index_.setMarkerSeen();
    return;
  }
  if (index_.markerSeen()) return;
  bool fresh = !index_.hasLiveEntries();
  bool missing = !fs::exists(fs::symlink_status(root_));
  bool readable = isFolder(root_) && ::access(root_.c_str(), R_OK | X_OK) == 0;
  if (!(missing && fresh) && !(readable && (fresh || hasContent(root_)))) return;
  writeStoreMarker(root_);
  fs::create_directories(root_ + kStoreTempFolder);
  index_.setMarkerSeen();
  log_("store " + root_ + ": marker file " + (kStoreMarker + 1) + " written");
}

void Store::reportProblem(const std::string& problem) {
  if (problem == problem_) return;
  if (problem.empty()) {
    log_("store " + root_ + " is available again; synchronisation resumes");
  } else {
    log_("store " + root_ + " is not available (" + problem + "); this contract is not synchronised until it is");
  }
  problem_ = problem;
}

std::optional<int> Store::prepareCycle(std::int64_t now) {
  pruneIfDue(now);
  std::string problem = storeProblem(root_);
  if (!problem.empty()) {
    reportProblem(problem);
    return std::nullopt;
  }
  int changed = 0;
  if (!watch_->needsScan(now) && !index_.batchLost() && !recheckPending_) {
    reportProblem("");
    return changed;
  }
  try {
    fs::create_directories(root_ + kStoreTempFolder);
    watch_->scanStarting(now);
    changed = scan(now);
  } catch (const std::exception& e) {
    watch_->scanFailed();
    reportProblem(std::string("scan stopped: ") + e.what());
    return std::nullopt;
  }
  reportProblem("");
  return changed;
}

void Store::pruneIfDue(std::int64_t now) {
  if (lastPrune_ >= 0 && now - lastPrune_ < kPruneEverySeconds && now >= lastPrune_) return;
  lastPrune_ = now;
  try {
    int gone = versions_.prune(now);
    if (gone > 0) {
      log_("versions: removed " + std::to_string(gone) + " older than " + std::to_string(versions_.keepDays()) +
           " days");
    }
  } catch (const std::exception& e) {
    log_(std::string("versions: expired versions not removed: ") + e.what());
  }
}

StoreEntry Store::statEntry(const std::string& path, bool isDir, const std::string& hash) {
  struct stat st{};
  if (::lstat(diskPath(path).c_str(), &st) != 0) throw IndexError("cannot read " + diskPath(path));
  StoreEntry e = entryOf(path, isDir, hash, st);
  e.recheck = !isDir && changedSince(st, wallSecond());
  return e;
}

bool Store::scanFile(const std::string& path, const StoreEntry* known, const struct stat& st,
                     std::int64_t scanSecond) {
  if (known != nullptr && sameFile(*known, st)) return false;
  auto hash = hashOfFile(diskPath(path));
  if (!hash) {
    if (errno == ENOENT) return false;  // gone meanwhile: the next scan records the deletion
    throw ScanError("cannot read " + path + ": " + errnoText());
  }
  // The times from before the hash: a change made while hashing makes them differ next time.
  StoreEntry e = entryOf(path, false, *hash, st);
  e.recheck = changedSince(st, scanSecond);
  if (e.recheck) recheckPending_ = true;
  bool same = known != nullptr && !known->deleted && !known->isDir && known->hash == *hash;
  e.version = same ? known->version : index_.nextVersion();
  index_.put(e);
  if (!same) log_("store: picked up " + std::string(known && !known->deleted ? "change of " : "new file ") + path);
  return !same;
}

void Store::scanFolders(const std::map<std::string, StoreEntry>& entries, std::set<std::string>& seen, int& changed,
                        std::int64_t scanSecond) {
  std::vector<std::string> folders{""};  // store paths of the folders still to read; "" is the root
  while (!folders.empty()) {
    std::string folder = std::move(folders.back());
    folders.pop_back();
    watch_->watchFolder(root_ + folder);  // before reading: a change made meanwhile is an event
    Dir d{::opendir((root_ + folder).c_str())};
    if (d.dir == nullptr) {
      if (errno == ENOENT && !folder.empty()) continue;  // removed meanwhile: its entries count as deleted
      throw ScanError("cannot read " + (folder.empty() ? root_ : folder) + ": " + errnoText());
    }
    for (;;) {
      errno = 0;
      auto* item = ::readdir(d.dir);
      if (item == nullptr) {
        if (errno != 0) throw ScanError("cannot read " + (folder.empty() ? root_ : folder) + ": " + errnoText());
        break;
      }
      std::string path = folder + "/" + item->d_name;
      if (path == folder + "/." || path == folder + "/..") continue;
      if (path == kStoreTempFolder || path == kStoreMarker) continue;
      struct stat st{};
      if (::fstatat(::dirfd(d.dir), item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue;
        throw ScanError("cannot read " + path + ": " + errnoText());
      }
      if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) continue;
      seen.insert(path);
      auto found = entries.find(path);
      const StoreEntry* known = found == entries.end() ? nullptr : &found->second;
      if (S_ISREG(st.st_mode)) {
        if (scanFile(path, known, st, scanSecond)) ++changed;
        continue;
      }
      folders.push_back(path);
      if (known == nullptr || known->deleted || !known->isDir) {
        StoreEntry e = entryOf(path, true, "", st);
        e.version = index_.nextVersion();
        index_.put(e);
        log_("store: picked up new folder " + path);
        ++changed;
      }
    }
  }
}

int Store::scan(std::int64_t now) {
  std::int64_t scanSecond = wallSecond();
  ++scansDone_;
  recheckPending_ = false;
  auto entries = index_.entries();
  std::set<std::string> seen;
  int changed = 0;
  index_.transaction([&] {
    scanFolders(entries, seen, changed, scanSecond);
    // A store folder that went away while it was read is not a store without files.
    if (!isFolder(root_) || (index_.markerSeen() && !fs::exists(fs::symlink_status(root_ + kStoreMarker)))) {
      throw ScanError("the store folder went away while it was read");
    }
    for (auto& [path, e] : entries) {
      if (!e.deleted && !seen.count(path)) {
        index_.tombstone(path, now);
        log_("store: picked up deletion of " + path);
        ++changed;
      }
    }
  });
  index_.clearBatchLost();  // what a lost batch left out of the index is in it again
  return changed;
}

void Store::fill(PlanInput& in) {
  in.store = index_.entries();
  in.known = index_.knownCopies();
  in.moves = index_.moves();
}

void Store::fillAround(PlanInput& in, const std::string& path) {
  in.store.merge(index_.subtree(path));
  for (std::string up = parentOf(path); !up.empty(); up = parentOf(up)) {
    if (in.store.count(up) != 0) continue;
    if (auto e = index_.entry(up)) in.store.emplace(up, std::move(*e));
  }
  in.known.merge(index_.knownCopiesIn(path));
}

std::unique_ptr<StoreIncoming> Store::beginIncoming() {
  static std::atomic<unsigned> counter{0};
  std::string path = root_ + kStoreTempFolder + "/in-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw IndexError("cannot create " + path + ": " + std::strerror(errno));
  return std::make_unique<StoreIncoming>(path, fd);
}

void Store::ensureParents(const std::string& path) {
  // Where each ancestor's path ends in `path`: "/a/b/c" -> 2 ("/a"), 4 ("/a/b").
  std::vector<std::size_t> ends;
  for (auto slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    ends.push_back(slash);
  }
  // The deepest ancestor that is a live folder both in the index and on disk;
  // the usual case stops at the parent.
  std::size_t present = ends.size();
  for (; present > 0; --present) {
    std::string_view ancestor(path.data(), ends[present - 1]);
    auto known = index_.entry(ancestor);
    if (known && !known->deleted && known->isDir && isFolder(root_ + std::string(ancestor))) break;
  }
  if (present == ends.size()) return;
  // Create and index the rest one name at a time from an open folder.
  std::string base = present == 0 ? root_ : root_ + path.substr(0, ends[present - 1]);
  Fd folder{::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (folder.fd < 0) throw IndexError("cannot open folder " + base + ": " + errnoText());
  for (std::size_t level = present; level < ends.size(); ++level) {
    std::size_t from = level == 0 ? 1 : ends[level - 1] + 1;
    std::string name = path.substr(from, ends[level] - from);
    if (::mkdirat(folder.fd, name.c_str(), 0755) != 0 && errno != EEXIST) {
      throw IndexError("cannot create folder " + root_ + path.substr(0, ends[level]) + ": " + errnoText());
    }
    Fd next{::openat(folder.fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    struct stat st{};
    if (next.fd < 0 || ::fstat(next.fd, &st) != 0) {
      throw IndexError("cannot create folder " + root_ + path.substr(0, ends[level]) + ": " + errnoText());
    }
    flushFolder(base);
    StoreEntry e = entryOf(path.substr(0, ends[level]), true, "", st);
    e.version = index_.nextVersion();
    index_.put(e);
    std::swap(folder.fd, next.fd);
    base = root_ + e.path;
  }
}

void Store::keepVersion(const std::string& path, const struct stat& st, std::int64_t now) {
  auto known = index_.entry(path);
  std::string hash = known && sameFile(*known, st) ? known->hash : "";
  auto kept = versions_.keep(path, diskPath(path), hash, now);
  log_("store: previous version of " + path + " kept (" + std::to_string(kept.size) + " bytes)");
}

void Store::keepVersions(const std::string& path, std::int64_t now) {
  std::vector<std::string> todo{path};
  while (!todo.empty()) {
    std::string item = std::move(todo.back());
    todo.pop_back();
    struct stat st{};
    if (::lstat(diskPath(item).c_str(), &st) != 0) {
      if (errno == ENOENT) continue;
      throw IndexError("cannot read " + diskPath(item) + ": " + errnoText());
    }
    if (S_ISREG(st.st_mode)) {
      keepVersion(item, st, now);
    } else if (S_ISDIR(st.st_mode)) {
      Dir d{::opendir(diskPath(item).c_str())};
      if (d.dir == nullptr) throw IndexError("cannot read " + diskPath(item) + ": " + errnoText());
      errno = 0;
      while (auto* e = ::readdir(d.dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") todo.push_back(item + "/" + name);
        errno = 0;
      }
      if (errno != 0) throw IndexError("cannot read " + diskPath(item) + ": " + errnoText());
    }
  }
}

void Store::checkReserved(const std::string& path) const {
  if (path == kStoreMarker || path == kStoreTempFolder || isUnder(path, kStoreTempFolder)) {
    throw IndexError(path + " is a name the server keeps for itself");
  }
}

void Store::install(StoreIncoming& file, const std::string& path, std::int64_t mtime, std::int64_t now) {
  checkReserved(path);
  ensureParents(path);
  if (mtime > 0) {
    struct timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
    if (::futimens(file.fd(), times) != 0) throw IndexError("cannot set the time of " + file.path());
  }
  if (::fsync(file.fd()) != 0) throw IndexError("cannot flush " + file.path() + ": " + errnoText());
  keepVersions(path, now);
  if (::rename(file.path().c_str(), diskPath(path).c_str()) != 0) {
    throw IndexError("cannot move into place " + diskPath(path) + ": " + std::strerror(errno));
  }
  file.taken();
  flushFolder(fs::path(diskPath(path)).parent_path().string());
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

AcceptResult Store::accept(const std::string& path, StoreIncoming& file, FetchMode mode, std::int64_t clientMtime,
                           std::int64_t now) {
  AcceptResult result;
  index_.transaction([&] {
    auto found = index_.entry(path);
    const StoreEntry* s = !found || found->deleted ? nullptr : &*found;
    if (found && found->deleted && !found->isDir && clientMtime == 0 && found->hash == file.hash()) {
      result.outcome = AcceptOutcome::DeletionStands;
      result.entry = *found;
      return;
    }
    if (s != nullptr && s->isDir) {
      if (mode == FetchMode::ReplacesFolder) {
        clearFolderForFile(path, now);
        s = nullptr;
      } else if (mode != FetchMode::Merge) {
        return;  // refused: only a planned swap replaces a folder
      }
    }
    if (s != nullptr && s->hash == file.hash()) {
      result.outcome = AcceptOutcome::Unchanged;
      result.entry = *s;
      return;
    }
    if ((s != nullptr && s->isDir) || changedSinceScan(path, s)) {
      // The store's file was written after its last scan: the index cannot
      // say which copy is newer, so the store's stays and the client's is
      // kept beside it; the next scan takes the store's edit in.
      result.conflictPath = conflictName(path, now);
      install(file, result.conflictPath, clientMtime, now);
      result.outcome = AcceptOutcome::ConflictStoreKept;
      result.entry = index_.entry(result.conflictPath).value();
      return;
    }
    if (s == nullptr || mode == FetchMode::ClientChanged) {
      install(file, path, clientMtime, now);
      result.outcome = AcceptOutcome::Updated;
    } else if (clientMtime == 0 || clientMtime > s->mtime) {
      result.conflictPath = conflictName(path, now);
      fs::rename(diskPath(path), diskPath(result.conflictPath));
      StoreEntry aside = *s;
      aside.path = result.conflictPath;
      aside.version = index_.nextVersion();
      index_.put(aside);
      install(file, path, clientMtime, now);
      result.outcome = AcceptOutcome::ConflictClientWon;
    } else {
      result.conflictPath = conflictName(path, now);
      install(file, result.conflictPath, clientMtime, now);
      result.outcome = AcceptOutcome::ConflictStoreKept;
      result.entry = index_.entry(result.conflictPath).value();
      return;
    }
    result.entry = index_.entry(path).value();
  });
  return result;
}

bool Store::changedSinceScan(const std::string& path, const StoreEntry* known) const {
  struct stat st {};
  if (::lstat(diskPath(path).c_str(), &st) != 0) return false;  // nothing there that could be lost
  if (known == nullptr) return true;                            // a new store item the index does not hold
  if (known->isDir || S_ISDIR(st.st_mode)) return known->isDir != S_ISDIR(st.st_mode);
  if (known->size != static_cast<std::int64_t>(st.st_size)) return true;
  if (known->inode != 0 && known->inode != static_cast<std::int64_t>(st.st_ino)) return true;
  if (known->mtimeNs != 0) return known->mtimeNs != nanoseconds(st.st_mtim);
  return known->mtime != static_cast<std::int64_t>(st.st_mtim.tv_sec);
}

void Store::makeFolder(const std::string& path, std::int64_t) {
  checkReserved(path);
  index_.transaction([&] { createFolder(path); });
}

void Store::createFolder(const std::string& path) {
  ensureParents(path);
  std::error_code ec;
  fs::create_directory(diskPath(path), ec);
  if (ec) throw IndexError("cannot create folder " + diskPath(path) + ": " + ec.message());
  flushFolder(root_ + parentOf(path));
  StoreEntry e = statEntry(path, true, "");
  if (!e.isDir || !isFolder(diskPath(path))) throw IndexError(diskPath(path) + " is not a folder");
  e.version = index_.nextVersion();
  index_.put(e);
}

void Store::remove(const std::string& path, std::int64_t now) {
  checkReserved(path);
  index_.transaction([&] {
    keepVersions(path, now);
    std::error_code ec;
    fs::remove_all(diskPath(path), ec);
    if (ec) throw IndexError("cannot remove " + diskPath(path) + ": " + ec.message());
    index_.tombstone(path, now);
  });
}

bool Store::rename(const std::string& path, const std::string& target, std::int64_t now) {
  checkReserved(path);
  checkReserved(target);
  if (!fs::exists(fs::symlink_status(diskPath(path)))) return false;
  index_.transaction([&] {
    if (fs::exists(fs::symlink_status(diskPath(target)))) keepAside(target, now);
    ensureParents(target);
    bool isDir = fs::is_directory(diskPath(path));
    fs::rename(diskPath(path), diskPath(target));
    flushFolder(fs::path(diskPath(target)).parent_path().string());
    index_.rename(path, target, isDir, now);
  });
  return true;
}

void Store::recordKnown(const std::string& path, std::int64_t size, std::int64_t mtime, const std::string& hash) {
  index_.recordKnown(path, {size, mtime, hash});
}

void Store::recordPushed(const std::string& path, std::int64_t size, const std::string& hash, std::int64_t from,
                         std::int64_t to) {
  if (hash.empty() || to < from || to - from >= kMaxPushedStamps) return;
  index_.transaction([&] {
    for (std::int64_t stamp = from; stamp <= to; ++stamp) index_.recordKnown(path, {size, stamp, hash});
  });
}

void Store::flushFolder(const std::string& folder) {
  if (batching_) {
    unflushed_.insert(folder);
    return;
  }
  if (!fsyncFolder(folder)) throw IndexError("cannot flush folder " + folder);
}

void Store::batchWrites(BatchLimits limits) {
  limits_ = limits;
  batching_ = true;
  index_.setBatching(true);
}

void Store::commitIfDue(std::int64_t steadyMs) {
  if (!index_.batchOpen()) {
    batchSeenMs_ = -1;
    return;
  }
  if (batchSeenMs_ < 0) batchSeenMs_ = steadyMs;
  if (index_.batchSteps() >= limits_.changes || steadyMs - batchSeenMs_ >= limits_.ms) commitWrites();
}

bool Store::commitWrites() {
  batchSeenMs_ = -1;
  int changes = index_.batchSteps();
  try {
    for (auto& folder : unflushed_) {
      if (!fsyncFolder(folder)) throw IndexError("cannot flush folder " + folder + ": " + errnoText());
    }
    unflushed_.clear();
    index_.commitBatch();
    return true;
  } catch (const std::exception& e) {
    unflushed_.clear();
    index_.dropBatch();  // a folder that could not be flushed: its names must not be claimed
    log_("index: " + std::to_string(changes) + " changes not committed: " + e.what() +
         "; the next scan picks the store's files up again");
    return false;
  }
}

}  // namespace kqs
