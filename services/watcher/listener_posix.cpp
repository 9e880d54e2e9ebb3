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
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "log/log.h"

namespace kq {

namespace {

std::int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch()).count();
}

// unreadByPeer asks the kernel how many bytes wait unread in the receive queue
// of the peer socket (the other end of fd, on this machine). -1 when unknown.
long unreadByPeer(int fd) {
  sockaddr_in self{}, peer{};
  socklen_t len = sizeof self;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&self), &len) != 0 || self.sin_family != AF_INET)
    return -1;
  len = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return -1;
  int nl = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (nl < 0) return -1;
  timeval timeout{0, 200000};
  setsockopt(nl, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  message.request.sdiag_family = AF_INET;
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = ~0u;
  message.request.id.idiag_sport = peer.sin_port;  // the peer's socket: its ports and addresses
  message.request.id.idiag_dport = self.sin_port;
  message.request.id.idiag_src[0] = peer.sin_addr.s_addr;
  message.request.id.idiag_dst[0] = self.sin_addr.s_addr;
  message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  long result = -1;
  if (sendto(nl, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
      static_cast<ssize_t>(sizeof message)) {
    alignas(nlmsghdr) char answer[8192];
    ssize_t n = recv(nl, answer, sizeof answer, 0);
    auto* h = reinterpret_cast<nlmsghdr*>(answer);
    if (n > 0 && NLMSG_OK(h, static_cast<unsigned>(n)) && h->nlmsg_type == SOCK_DIAG_BY_FAMILY) {
      auto* info = static_cast<inet_diag_msg*>(NLMSG_DATA(h));
      result = static_cast<long>(info->idiag_rqueue);
    }
  }
  close(nl);
  return result;
}

}  // namespace

ReadProbe peerReadProbe(int fd) {
  int unsent = 0;
  if (ioctl(fd, SIOCOUTQ, &unsent) == 0 && unsent > 0) return ReadProbe::Unread;
  long unread = unreadByPeer(fd);
  if (unread < 0) return ReadProbe::Unknown;
  return unread == 0 ? ReadProbe::Read : ReadProbe::Unread;
}

// Connection is one accepted client.
class WatcherListener::Connection : public NotificationChannel {
 public:
  explicit Connection(int fd) : fd(fd) {}
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
  // probeRead: a peer that closed with a plain end of stream had read
  // everything (one that had not would have reset the connection).
  ReadProbe probeRead() override { return closedCleanly ? ReadProbe::Read : peerReadProbe(fd); }
  int fd;
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

void WatcherListener::acceptClient() {
  int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
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
  int again = hub_.pump(nowMs());
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
