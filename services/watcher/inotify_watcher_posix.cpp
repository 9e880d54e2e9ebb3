#include "watcher/inotify_watcher_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "log/log.h"
#include "platform/codepage.h"
#include "platform/posix/guarded_path.h"
#include "watcher/change_reporter.h"

namespace kq {

namespace {

constexpr std::uint32_t kMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_DONT_FOLLOW |
                                IN_ONLYDIR | IN_EXCL_UNLINK;

std::int64_t steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

InotifyWatcher::InotifyWatcher(EventLoop& loop, std::string nativeRoot, std::string localRoot,
                               ChangeReporter& reporter, Log& log)
    : loop_(loop), nativeRoot_(std::move(nativeRoot)), localRoot_(std::move(localRoot)),
      reporter_(reporter), log_(log) {
  while (nativeRoot_.size() > 1 && nativeRoot_.back() == '/') nativeRoot_.pop_back();
  while (localRoot_.size() > 1 && (localRoot_.back() == '\\' || localRoot_.back() == '/'))
    localRoot_.pop_back();
  unpairedTimer_ = loop_.addTimer(kUnpairedMoveMs, [this] { flushUnpaired(); }, false);
  rootTimer_ = loop_.addTimer(kRootRetryMs, [this] { onRootTimer(); }, false);
  holdTimer_ = loop_.addTimer(ChangeReporter::kRemovalHoldMs, [this] {
    loop_.setTimerEnabled(holdTimer_, false);
    reporter_.flushHeld();
  }, false);
  quietTimer_ = loop_.addTimer(kQuietCheckMs, [this] { reportQuietWrites(); }, false);
  reporter_.onRemovalHeld = [this] { loop_.restartTimer(holdTimer_, ChangeReporter::kRemovalHoldMs); };
}

InotifyWatcher::~InotifyWatcher() {
  loop_.removeTimer(unpairedTimer_);
  loop_.removeTimer(rootTimer_);
  loop_.removeTimer(holdTimer_);
  loop_.removeTimer(quietTimer_);
  reporter_.onRemovalHeld = nullptr;
  if (fd_ >= 0) {
    loop_.unwatchFd(fd_);
    close(fd_);
  }
}

bool InotifyWatcher::start() {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) {
    log_.writeLog(std::string("Cannot start watching: ") + std::strerror(errno), true);
    return false;
  }
  loop_.watchFd(fd_, POLLIN, [this](short) { readEvents(); });
  tryWatchRoot();
  return true;
}

void InotifyWatcher::onRootTimer() {
  if (rootWd_ < 0)
    tryWatchRoot();
  else
    checkRoot();
}

void InotifyWatcher::tryWatchRoot() {
  if (rootWd_ >= 0) return;
  loop_.setTimerEnabled(rootTimer_, true);
  struct stat st {};
  if (lstat(nativeRoot_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (!missingLogged_) log_.writeLog("Waiting for the sync folder: " + localRoot_, true);
    missingLogged_ = true;
    return;
  }
  watchTree(nativeRoot_, false);
  for (const auto& [wd, folder] : folders_)
    if (folder == nativeRoot_) rootWd_ = wd;
  if (rootWd_ < 0) return;
  rootDevice_ = st.st_dev;
  rootInode_ = st.st_ino;
  missingLogged_ = false;
  log_.writeLog("Watching " + localRoot_, true);
}

// checkRoot notices a sync folder whose path names something else now: one of
// its parents was moved or the folder was replaced, which inotify does not tell.
void InotifyWatcher::checkRoot() {
  struct stat st {};
  if (lstat(nativeRoot_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    rootLost("The sync folder is gone: ");
  } else if (st.st_dev != rootDevice_ || st.st_ino != rootInode_) {
    rootLost("The sync folder was replaced: ");
    tryWatchRoot();
  }
}

// rootLost stops watching; the removals that wait are the folder's own going
// and are not reported.
void InotifyWatcher::rootLost(const std::string& why) {
  std::size_t dropped = reporter_.dropHeld();
  loop_.setTimerEnabled(holdTimer_, false);
  (void)pairer_.takeUnpaired();
  writing_.clear();
  loop_.setTimerEnabled(quietTimer_, false);
  log_.writeLog(why + localRoot_ +
                    (dropped > 0 ? " (" + std::to_string(dropped) + " changes before it not reported)" : ""),
                true);
  for (const auto& [wd, folder] : folders_) inotify_rm_watch(fd_, wd);
  folders_.clear();
  rootWd_ = -1;
  loop_.setTimerEnabled(rootTimer_, true);
}

std::string InotifyWatcher::local(const std::string& native) const {
  std::string rest = native.substr(nativeRoot_.size());
  for (auto& c : rest)
    if (c == '/') c = '\\';
  return localRoot_ + utf8ToLocal(rest);
}

bool InotifyWatcher::holdable(const std::string& native) const {
  return fromUtf8(activeCodePage(), native.substr(nativeRoot_.size())).has_value();
}

int InotifyWatcher::openBelowRoot(const std::string& folder) const {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  if (folder == nativeRoot_) return ::open(folder.c_str(), kFlags);
  ResolvedPath parent = resolveParent(folder, nativeRoot_);
  if (!parent.ok() || !parent.guarded) return -1;
  return ::openat(parent.folder.get(), parent.name.c_str(), kFlags);
}

// addWatch adds the watch through the open folder itself (/proc/self/fd/N
// names exactly that folder), never through the path text.
int InotifyWatcher::addWatch(int fd, const std::string& folder) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  int wd = inotify_add_watch(fd_, self.c_str(), kMask & ~static_cast<std::uint32_t>(IN_DONT_FOLLOW));
  if (wd < 0 && errno == ENOSPC)
    log_.writeLog("Cannot watch " + local(folder) + ": the inotify watch limit is reached", true);
  if (wd < 0 && errno == ENOENT && !procMissingLogged_) {
    log_.writeLog("Cannot watch " + localRoot_ + ": /proc is not mounted", true);
    procMissingLogged_ = true;
  }
  return wd;
}

void InotifyWatcher::watchTree(const std::string& folder, bool report) {
  UniqueFd fd(openBelowRoot(folder));
  if (fd.valid()) walkOpen(fd.get(), folder, true, report);
}

void InotifyWatcher::walkOpen(int fd, const std::string& folder, bool watch, bool report) {
  if (watch) {
    int wd = addWatch(fd, folder);
    if (wd < 0) return;
    folders_[wd] = folder;
  }
  DIR* dir = fdopendir(::dup(fd));
  if (!dir) return;
  std::vector<std::string> subfolders;
  while (dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    std::string path = folder + "/" + entry->d_name;
    if (report && holdable(path)) reporter_.added(local(path));
    struct stat st {};
    if (fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
      subfolders.push_back(entry->d_name);
  }
  closedir(dir);
  if (onFolderRead) onFolderRead(folder);
  for (const auto& name : subfolders) {
    // A folder that became a link since it was read is not opened.
    UniqueFd sub(::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (sub.valid()) walkOpen(sub.get(), folder + "/" + name, watch, report);
  }
}

void InotifyWatcher::reportContent(const std::string& folder) {
  UniqueFd fd(openBelowRoot(folder));
  if (fd.valid()) walkOpen(fd.get(), folder, false, true);
}

void InotifyWatcher::dropTree(const std::string& folder) {
  for (auto it = folders_.begin(); it != folders_.end();) {
    if (it->second == folder || isBelow(it->second, folder)) {
      inotify_rm_watch(fd_, it->first);
      it = folders_.erase(it);
    } else {
      ++it;
    }
  }
}

void InotifyWatcher::moveTree(const std::string& from, const std::string& to) {
  for (auto& [wd, folder] : folders_) {
    if (folder == from) folder = to;
    else if (isBelow(folder, from)) folder = to + folder.substr(from.size());
  }
}

void InotifyWatcher::readEvents() {
  alignas(inotify_event) char buffer[65536];
  for (;;) {
    ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    for (char* p = buffer; p < buffer + n;) {
      auto* ev = reinterpret_cast<inotify_event*>(p);
      handleEvent(ev->mask, ev->cookie, ev->wd, ev->len ? ev->name : nullptr);
      p += sizeof(inotify_event) + ev->len;
    }
  }
  // An old name whose new name has not come yet gets a moment more.
  if (pairer_.armed()) loop_.restartTimer(unpairedTimer_, kUnpairedMoveMs);
}

void InotifyWatcher::handleEvent(std::uint32_t mask, std::uint32_t cookie, int wd, const char* name) {
  bool pairsWithArmed = (mask & IN_MOVED_TO) && pairer_.armed() && pairer_.armedCookie() == cookie;
  if (pairer_.armed() && !pairsWithArmed) flushUnpaired();
  if (mask & IN_Q_OVERFLOW) {
    log_.writeLog("Watch queue overflow: changes in " + localRoot_ + " may have been missed", true);
    return;
  }
  auto it = folders_.find(wd);
  if (it == folders_.end()) return;
  if (mask & IN_IGNORED) {
    folders_.erase(it);
    if (wd == rootWd_) rootLost("The sync folder is gone: ");
    return;
  }
  if (wd == rootWd_ && (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT))) {
    rootLost(mask & IN_UNMOUNT ? "The sync folder was unmounted: " : "The sync folder was removed or moved: ");
    return;
  }
  if (!name) return;
  std::string path = it->second + "/" + name;
  bool isFolder = (mask & IN_ISDIR) != 0;
  const bool held = holdable(path);  // a name the client cannot hold is never reported
  if (mask & IN_CREATE) {
    if (isFolder) {
      if (held) reporter_.added(local(path));
      watchTree(path, true);
    } else if (held) {
      noteWrite(path, true);  // reported once written and closed, or quiet
    }
  }
  if ((mask & IN_MODIFY) && !isFolder && held) noteWrite(path, false);
  if ((mask & IN_CLOSE_WRITE) && !isFolder && held) reportClosed(path);
  if (mask & (IN_DELETE | IN_MOVED_FROM)) reportWritesBelow(path);
  if ((mask & IN_DELETE) && held) reporter_.removed(local(path));
  if (mask & IN_MOVED_FROM) {
    auto older = pairer_.movedFrom(cookie, MoveEnd{path, isFolder});
    (void)older;  // flushed above: at most one move is ever armed
  }
  if (mask & IN_MOVED_TO) handleMovedTo(path, cookie, isFolder);
}

void InotifyWatcher::handleMovedTo(const std::string& path, std::uint32_t cookie, bool isFolder) {
  auto from = pairer_.movedTo(cookie);
  const bool toHeld = holdable(path);
  if (!from) {  // came from outside the sync folder
    if (toHeld) reporter_.added(local(path));
    if (isFolder) watchTree(path, true);
    return;
  }
  // A rename to or from a name the client cannot hold is a removal or an addition.
  const bool fromHeld = holdable(from->path);
  if (fromHeld && toHeld) reporter_.renamed(local(from->path), local(path));
  else if (fromHeld) reporter_.removed(local(from->path));
  else if (toHeld) reporter_.added(local(path));
  if (!isFolder) return;
  moveTree(from->path, path);
  // Out of a folder that is not reported (such as "_trash"): its content is new.
  if (!reporter_.scope().contains(local(from->path)) && reporter_.scope().contains(local(path)))
    reportContent(path);
}

void InotifyWatcher::flushUnpaired() {
  loop_.setTimerEnabled(unpairedTimer_, false);
  auto gone = pairer_.takeUnpaired();
  if (!gone) return;
  if (holdable(gone->path)) reporter_.removed(local(gone->path));
  if (gone->isFolder) dropTree(gone->path);
}

}  // namespace kq

namespace kq {

void InotifyWatcher::noteWrite(const std::string& path, bool added) {
  writing_.note(path, added, steadyMs());
  loop_.setTimerEnabled(quietTimer_, true);
}

void InotifyWatcher::report(const QuietWrites::Write& write) {
  if (write.added)
    reporter_.added(local(write.path));
  else
    reporter_.modified(local(write.path));
}

// reportClosed reports the write of path; a close after writing with no write
// seen (an open that truncated, say) is a modification.
void InotifyWatcher::reportClosed(const std::string& path) {
  report(writing_.take(path).value_or(QuietWrites::Write{path, false}));
}

void InotifyWatcher::reportWritesBelow(const std::string& path) {
  for (const auto& write : writing_.takeBelow(path, '/')) report(write);
}

void InotifyWatcher::reportQuietWrites() {
  for (const auto& write : writing_.takeQuiet(steadyMs())) report(write);
  if (writing_.empty()) loop_.setTimerEnabled(quietTimer_, false);
}

}  // namespace kq
