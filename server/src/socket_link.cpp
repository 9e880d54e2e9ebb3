#include "socket_link.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace kqs {

namespace {

constexpr std::int64_t kSliceMs = 100;  // how often a wait looks at the stop flag

}  // namespace

SocketLink::SocketLink(int fd, const std::atomic<bool>& stop, Clock& clock) : fd_(fd), stop_(stop), clock_(clock) {}

SocketLink::~SocketLink() { ::close(fd_); }

bool SocketLink::waitFor(short events, int timeoutMs) {
  const std::int64_t deadline = clock_.steadyMs() + std::max(0, timeoutMs);
  for (;;) {
    if (stop_) throw PeerError("server stopping");
    // Never a negative wait: poll() would take it as "for ever".
    std::int64_t left = std::max<std::int64_t>(0, deadline - clock_.steadyMs());
    pollfd p{fd_, events, 0};
    int rc = ::poll(&p, 1, static_cast<int>(std::min(left, kSliceMs)));
    if (rc < 0 && errno != EINTR) throw PeerError(std::string("poll: ") + std::strerror(errno));
    if (rc > 0) return true;
    if (left == 0) return false;
  }
}

std::string SocketLink::readSome(std::size_t n, int waitMs) {
  if (!waitFor(POLLIN, waitMs)) return {};
  char buffer[kChunk];
  auto got = ::recv(fd_, buffer, std::min(n, kChunk), 0);
  if (got < 0) {
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return {};
    throw PeerError(std::string("receive: ") + std::strerror(errno));
  }
  if (got == 0) throw PeerError("the client closed the connection");
  return std::string(buffer, static_cast<std::size_t>(got));
}

void SocketLink::sendAll(std::string_view bytes, int timeoutMs) {
  while (!bytes.empty()) {
    auto sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if (!waitFor(POLLOUT, timeoutMs)) throw PeerError("the client stopped reading");
        continue;
      }
      throw PeerError(std::string("send: ") + std::strerror(errno));
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
}

bool SocketLink::pause(int ms) {
  const std::int64_t deadline = clock_.steadyMs() + ms;
  for (std::int64_t left = ms; left > 0; left = deadline - clock_.steadyMs()) {
    if (stop_) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, kSliceMs)));
  }
  return !stop_;
}

}  // namespace kqs
