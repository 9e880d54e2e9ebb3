#include "store_watch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kqs {

namespace {

constexpr std::uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                                  IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;

bool identity(const std::string& path, dev_t& dev, ino_t& ino) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  dev = st.st_dev;
  ino = st.st_ino;
  return true;
}

}  // namespace

StoreWatch::StoreWatch(std::string root, Logger log, bool useInotify, std::int64_t safetySeconds)
    : root_(std::move(root)), log_(std::move(log)), safetySeconds_(safetySeconds) {
  if (!useInotify) return;
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) log_("store watch: inotify not available (" + std::string(std::strerror(errno)) +
                    "); the store " + root_ + " is scanned every cycle");
}

StoreWatch::StoreWatch(std::string root, Logger log, std::function<bool()> changedElsewhere,
                       std::int64_t safetySeconds)
    : StoreWatch(std::move(root), std::move(log), true, safetySeconds) {
  changedElsewhere_ = std::move(changedElsewhere);
}

StoreWatch::~StoreWatch() {
  if (fd_ >= 0) ::close(fd_);
}

void StoreWatch::giveUp(const std::string& why) {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  watches_.clear();
  log_("store watch: " + why + "; the store " + root_ + " is scanned every cycle");
}

void StoreWatch::take(const inotify_event& event) {
  if ((event.mask & IN_Q_OVERFLOW) != 0) {
    if (!overflowSaid_) {
      log_("store watch: more changes than the event queue holds; the store " + root_ + " is scanned in full");
      overflowSaid_ = true;
    }
    dirty_ = true;
    return;
  }
  if ((event.mask & IN_IGNORED) != 0) {
    watches_.erase(event.wd);  // the folder went away (its removal was reported before)
    return;
  }
  dirty_ = true;
}

void StoreWatch::drain() {
  alignas(inotify_event) char buffer[64 * 1024];
  while (fd_ >= 0) {
    auto n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) {
        giveUp(std::string("cannot read its events (") + std::strerror(errno) + ")");
        dirty_ = true;
      }
      return;
    }
    for (ssize_t at = 0; at < n;) {
      auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      take(*event);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

bool StoreWatch::needsScan(std::int64_t now) {
  drain();
  if (changedElsewhere_ && changedElsewhere_()) dirty_ = true;
  if (fd_ < 0 || dirty_) return true;
  if (now < lastScan_ || now - lastScan_ >= safetySeconds_) return true;
  dev_t dev = 0;
  ino_t ino = 0;
  return !identity(root_, dev, ino) || dev != rootDev_ || ino != rootIno_;  // mounted over or replaced
}

void StoreWatch::scanStarting(std::int64_t now) {
  drain();
  dirty_ = false;
  lastScan_ = now;
  if (!identity(root_, rootDev_, rootIno_)) dirty_ = true;
}

void StoreWatch::watchFolder(const std::string& diskPath) {
  if (fd_ < 0) return;
  int wd = ::inotify_add_watch(fd_, diskPath.c_str(), kEvents);
  if (wd >= 0) {
    watches_.insert(wd);
    return;
  }
  if (errno == ENOENT || errno == ENOTDIR) return;  // gone meanwhile: the scan sees that
  giveUp("cannot watch " + diskPath + " (" + std::strerror(errno) + ")");
}

}  // namespace kqs
