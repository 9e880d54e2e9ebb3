#include "platform/posix/tcp_client_posix.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <chrono>
#include <cstring>

#include "engine/timer_schedule.h"
#include "platform/posix/socket_errors.h"

namespace kq {

namespace {

// lookup resolves host to one address, IPv4 first (as the Windows client does),
// then IPv6. Returns 0 or a Windows Sockets error number.
int lookup(const std::string& host, int port, sockaddr_storage& out, socklen_t& outLen) {
  if (!host.empty() && host.front() == '/') {
    auto& unix = reinterpret_cast<sockaddr_un&>(out);
    if (host.size() >= sizeof unix.sun_path) return kWsaHostNotFound;
    unix.sun_family = AF_UNIX;
    std::memcpy(unix.sun_path, host.c_str(), host.size() + 1);
    outLen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + host.size() + 1);
    return 0;
  }
  const int families[] = {AF_INET, AF_INET6};
  int result = kWsaHostNotFound;
  for (int family : families) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc == 0 && found) {
      std::memcpy(&out, found->ai_addr, found->ai_addrlen);
      outLen = found->ai_addrlen;
      freeaddrinfo(found);
      return 0;
    }
    if (found) freeaddrinfo(found);
    if (family == AF_INET) result = wsaErrorFromLookup(rc, errno);
  }
  return result;
}

// keepAlive makes the kernel probe an idle connection, so that a peer gone
// for good (powered off, a NAT that dropped the mapping) ends the connection
// with an error instead of leaving it open for ever.
void keepAlive(int fd) {
  int one = 1;
  int idle = timers::kKeepAliveIdleS;
  int interval = timers::kKeepAliveIntervalS;
  int probes = timers::kKeepAliveProbes;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

}  // namespace

TcpClient::TcpClient(EventLoop& loop, LinkEvents& events)
    : loop_(loop), events_(events), generation_(std::make_shared<int>(0)), buffer_(kMaxRead) {}

TcpClient::~TcpClient() {
  *generation_ = -1;  // posted events of this socket must not run any more
  closeSocket();
}

void TcpClient::renew() {
  closeSocket();
  state_ = State::Idle;
  *generation_ = -1;
  generation_ = std::make_shared<int>(0);
}

void TcpClient::activate(const std::string& host, int port) {
  if (state_ == State::Connected) {
    if (host != host_ || port != port_)
      throw LinkError("Cannot change Host or Port on an active connection");
    return;
  }
  if (port < 1 || port > 65535) throw LinkError("Invalid port: " + std::to_string(port));
  if (state_ == State::Connecting) {
    if (host == host_ && port == port_) return;
    closeSocket();
    state_ = State::Idle;
  }
  host_ = host;
  port_ = port;
  startConnect();
}

void TcpClient::startConnect() {
  sockaddr_storage addr{};
  socklen_t addrLen = 0;
  int lookupError = lookup(host_, port_, addr, addrLen);
  if (lookupError != 0) {
    postEvent([this, lookupError] { events_.onError(lookupError); });
    return;
  }
  fd_ = socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    int code = wsaErrorFromErrno(errno);
    postEvent([this, code] { events_.onError(code); });
    return;
  }
  int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  keepAlive(fd_);
  state_ = State::Connecting;
  postEvent([this] { events_.onConnecting(); });
  int rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), addrLen);
  if (rc != 0 && errno != EINPROGRESS) {
    int code = wsaErrorFromErrno(errno);
    closeSocket();
    state_ = State::Idle;
    postEvent([this, code] { events_.onError(code); });
    return;
  }
  // Completion (also an immediate one) is seen by poll() as writability.
  int fd = fd_;
  loop_.watchFd(fd, POLLOUT, [this](short revents) { onPoll(revents); });
}

void TcpClient::postEvent(std::function<void()> event) {
  std::weak_ptr<int> generation = generation_;
  loop_.post([generation, event = std::move(event)] {
    auto alive = generation.lock();
    if (alive && *alive == 0) event();
  });
}

void TcpClient::onPoll(short revents) {
  (void)revents;
  if (state_ == State::Connecting) finishConnect();
  else if (state_ == State::Connected) readWaiting();
}

void TcpClient::finishConnect() {
  int error = 0;
  socklen_t len = sizeof error;
  if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
  if (error != 0) {
    closeSocket();
    state_ = State::Idle;
    events_.onError(wsaErrorFromErrno(error));
    return;
  }
  state_ = State::Connected;
  loop_.setFdEvents(fd_, POLLIN);
  events_.onConnect();
}

void TcpClient::readWaiting() {
  ssize_t n = recv(fd_, buffer_.data(), buffer_.size(), 0);
  if (n > 0) {
    events_.onRead(std::string_view(buffer_.data(), static_cast<std::size_t>(n)));
    return;
  }
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n == 0) {
    closeSocket();
    state_ = State::Idle;
    events_.onDisconnect();
    return;
  }
  failConnected(wsaErrorFromErrno(errno));
}

void TcpClient::failConnected(int wsaCode) {
  closeSocket();
  state_ = State::Idle;
  // Both events belong to this socket: a renew() in the error handler drops the second.
  std::weak_ptr<int> generation = generation_;
  postEvent([this, wsaCode, generation] {
    events_.onError(wsaCode);
    auto alive = generation.lock();
    if (alive && *alive == 0) events_.onDisconnect();
  });
}

void TcpClient::deactivate() {
  State was = state_;
  closeSocket();
  state_ = State::Idle;
  if (was == State::Connected) postEvent([this] { events_.onDisconnect(); });
}

bool TcpClient::send(std::string_view bytes) {
  if (state_ != State::Connected) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (waitWritable(kSendStallMs)) continue;
      failConnected(kWsaTimedOut);
      return false;
    }
    failConnected(wsaErrorFromErrno(n < 0 ? errno : EPIPE));
    return false;
  }
  return true;
}

bool TcpClient::waitWritable(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd_, POLLOUT, 0};
    int rc = poll(&p, 1, static_cast<int>(left));
    if (rc > 0) return true;  // writable, or an error that the next send reports
    if (rc < 0 && errno != EINTR) return true;
  }
}

void TcpClient::closeSocket() {
  if (fd_ < 0) return;
  loop_.unwatchFd(fd_);
  ::close(fd_);
  fd_ = -1;
}

}  // namespace kq
