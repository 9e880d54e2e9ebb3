#include "watcher/listener_posix.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "log/log.h"
#include "platform/posix/peer_owner.h"
#include "watcher/peer_window_posix.h"

namespace kq {

namespace {

std::int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

struct PeerUnread::Request : PeerSocketQuery {};

PeerUnread::PeerUnread(int fd) : fd_(fd) {
  sockaddr_in self{}, peer{};
  socklen_t len = sizeof self;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&self), &len) != 0) return;
  unixSocket_ = self.sin_family == AF_UNIX;
  if (self.sin_family != AF_INET) return;
  len = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return;
  netlink_ = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (netlink_ < 0) return;
  timeval timeout{0, 200000};
  setsockopt(netlink_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  request_ = std::make_unique<Request>(Request{peerSocketQuery(self, peer)});
}

PeerUnread::~PeerUnread() {
  if (netlink_ >= 0) close(netlink_);
}

std::optional<std::size_t> PeerUnread::count() {
  int unsent = 0;
  // On a UNIX-domain socket the queue holds what the peer has not read yet (in
  // the kernel's own units): empty means everything was read.
  if (unixSocket_ && ioctl(fd_, SIOCOUTQ, &unsent) == 0 && unsent == 0) return 0;
  if (ioctl(fd_, SIOCOUTQ, &unsent) != 0 || unsent < 0 || !request_) return std::nullopt;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(netlink_, request_.get(), sizeof(Request), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) !=
      static_cast<ssize_t>(sizeof(Request)))
    return std::nullopt;
  alignas(nlmsghdr) char answer[8192];
  ssize_t n = recv(netlink_, answer, sizeof answer, 0);
  auto* h = reinterpret_cast<nlmsghdr*>(answer);
  if (n <= 0 || !NLMSG_OK(h, static_cast<unsigned>(n)) || h->nlmsg_type != SOCK_DIAG_BY_FAMILY) return std::nullopt;
  auto* info = static_cast<inet_diag_msg*>(NLMSG_DATA(h));
  return static_cast<std::size_t>(unsent) + info->idiag_rqueue;
}

// Connection is one accepted client.
class WatcherListener::Connection : public NotificationChannel {
 public:
  explicit Connection(int fd) : fd(fd), peer(fd) {}
  ~Connection() override { close(fd); }
  bool send(std::string_view message) override {
    std::size_t done = 0;
    while (done < message.size()) {
      ssize_t n = ::send(fd, message.data() + done, message.size() - done, MSG_NOSIGNAL);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, 5000) == 0) return false;
      } else {
        return false;
      }
    }
    return true;
  }
  // unreadBytes: a peer that closed with a plain end of stream had read
  // everything (one that had not would have reset the connection).
  std::optional<std::size_t> unreadBytes() override {
    return closedCleanly ? std::optional<std::size_t>(0) : peer.count();
  }
  std::optional<std::size_t> room() override { return peerWindowRoom(fd); }
  int fd;
  PeerUnread peer;
  bool closedCleanly = false;
};

WatcherListener::WatcherListener(EventLoop& loop, NotificationHub& hub, Log& log)
    : loop_(loop), hub_(hub), log_(log) {
  pumpTimer_ = loop_.addTimer(1, [this] { pump(); }, false);
}

WatcherListener::~WatcherListener() {
  loop_.removeTimer(pumpTimer_);
  for (auto& [fd, client] : clients_) {
    loop_.unwatchFd(fd);
    hub_.detach(*client);
  }
  if (listenFd_ >= 0) {
    loop_.unwatchFd(listenFd_);
    close(listenFd_);
  }
  if (!socketPath_.empty()) unlink(socketPath_.c_str());
}

bool WatcherListener::listen(int port) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 8) != 0) {
    log_.writeLog("Cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno),
                  true);
    return false;
  }
  loop_.watchFd(listenFd_, POLLIN, [this](short) { acceptClient(); });
  log_.writeLog("Listening on 127.0.0.1:" + std::to_string(port), true);
  return true;
}

bool WatcherListener::listenAt(const std::string& socketPath) {
  auto fail = [&](const std::string& why) {
    log_.writeLog("Cannot listen on " + socketPath + ": " + why, true);
    return false;
  };
  sockaddr_un address{};
  if (socketPath.size() >= sizeof address.sun_path) return fail("the path is too long for a socket");
  const std::string folder = socketPath.substr(0, socketPath.find_last_of('/'));
  struct stat st {};
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return fail(folder + ": " + std::strerror(errno));
  if (lstat(folder.c_str(), &st) != 0) return fail(folder + ": " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0)
    return fail(folder + " is not a folder of this user's alone (mode 0700)");
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  // A socket file left by a zrservice that ended without removing it is
  // replaced; one where a zrservice still listens is not.
  int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool taken = probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (probe >= 0) close(probe);
  if (taken) return fail("another zrservice listens there");
  unlink(socketPath.c_str());
  listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return fail(std::strerror(errno));
  socketPath_ = socketPath;
  if (::listen(listenFd_, 8) != 0) return fail(std::strerror(errno));
  loop_.watchFd(listenFd_, POLLIN, [this](short) { acceptClient(); });
  log_.writeLog("Listening on " + socketPath, true);
  return true;
}

void WatcherListener::acceptClient() {
  int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  // Reports name this user's files: they go to this user's processes alone.
  if (auto owner = peerOwner(fd); !owner || *owner != geteuid()) {
    close(fd);
    log_.writeLog("Client of another user refused (" +
                      (owner ? "uid " + std::to_string(*owner) : std::string("its owner is unknown")) + ")",
                  true);
    return;
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  auto& client = clients_[fd];
  client = std::make_unique<Connection>(fd);
  loop_.watchFd(fd, POLLIN, [this, fd](short revents) { onClientEvent(fd, revents); });
  hub_.attach(*client);
  log_.writeLog("Client connected", true);
  pump();
}

void WatcherListener::onClientEvent(int fd, short revents) {
  auto it = clients_.find(fd);
  if (it == clients_.end()) return;
  char buffer[4096];
  ssize_t n = recv(fd, buffer, sizeof buffer, 0);  // clients send nothing: discard
  if (n == 0) it->second->closedCleanly = true;
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR) || (revents & (POLLERR | POLLNVAL)))
    dropClient(fd, "Client disconnected");
}

void WatcherListener::dropClient(int fd, const char* why) {
  auto it = clients_.find(fd);
  if (it == clients_.end()) return;
  hub_.detach(*it->second);
  loop_.unwatchFd(fd);
  clients_.erase(it);
  log_.writeLog(why, true);
}

void WatcherListener::pump() {
  // 0: more waits and may go at once (a batch is bounded); a few rounds here,
  // then the loop's timer, so that the watcher's own events are read between.
  int again = 0;
  for (int round = 0; round < 16 && again == 0; ++round) again = hub_.pump(nowMs());
  for (NotificationChannel* gone : hub_.takeBroken()) {
    for (auto& [fd, client] : clients_) {
      if (client.get() != gone) continue;
      dropClient(fd, "Client connection broke");
      break;
    }
  }
  if (again < 0) loop_.setTimerEnabled(pumpTimer_, false);
  else loop_.restartTimer(pumpTimer_, again);
}

}  // namespace kq
