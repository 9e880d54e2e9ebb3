#include "balancer.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kqcluster {
namespace {

bool transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

}  // namespace

Balancer::Balancer(int listenFd, std::vector<Address> backends, std::FILE* log, size_t maxLinks)
    : listenFd_(listenFd), backends_(std::move(backends)), log_(log), maxLinks_(maxLinks) {}

Balancer::~Balancer() {
  for (auto& [id, l] : links_) {
    if (l->client >= 0) close(l->client);
    if (l->backend >= 0) close(l->backend);
  }
  if (epoll_ >= 0) close(epoll_);
}

void Balancer::say(const std::string& line) {
  std::fprintf(log_, "%s\n", line.c_str());
  std::fflush(log_);
}

bool Balancer::run(int stopFd) {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  if (epoll_ < 0) {
    say(std::string("cannot start the event loop: ") + std::strerror(errno));
    return false;
  }
  watch(listenFd_, EPOLLIN, false);
  watch(stopFd, EPOLLIN, false);
  epoll_event events[64];
  for (;;) {
    int n = epoll_wait(epoll_, events, 64, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      say(std::string("the event loop failed: ") + std::strerror(errno));
      return false;
    }
    for (int i = 0; i < n; ++i) {
      int fd = events[i].data.fd;
      if (fd == stopFd) return true;
      if (fd == listenFd_) {
        acceptAll();
        continue;
      }
      // A link closed by an earlier event of this round has left byFd_.
      auto it = byFd_.find(fd);
      if (it != byFd_.end()) onEvent(*it->second, fd, events[i].events);
    }
  }
}

void Balancer::watch(int fd, uint32_t events, bool added) {
  epoll_event e{};
  e.events = events;
  e.data.fd = fd;
  epoll_ctl(epoll_, added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &e);
}

void Balancer::acceptAll() {
  for (;;) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (!transient(errno) && errno != ECONNABORTED)
        say(std::string("cannot accept a connection: ") + std::strerror(errno));
      return;
    }
    if (links_.size() >= maxLinks_) {
      say("connection from " + peerText(fd) + " closed: " + std::to_string(maxLinks_) + " connections are open");
      close(fd);
      continue;
    }
    startLink(fd);
  }
}

void Balancer::startLink(int client) {
  auto owned = std::make_unique<Link>();
  Link& l = *owned;
  l.id = ++count_;
  l.peer = peerText(client);
  l.client = client;
  l.first = next_;
  links_[l.id] = std::move(owned);
  tryNextBackend(l);
}

// tryNextBackend starts a connection to the next back end not tried yet for
// this link; when every one has refused, the client's connection is closed.
void Balancer::tryNextBackend(Link& l) {
  while (l.tried < backends_.size()) {
    l.target = (l.first + l.tried++) % backends_.size();
    const Address& b = backends_[l.target];
    int fd = socket(b.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) break;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&b.storage), b.length) == 0) {
      l.backend = fd;
      connected(l);
      return;
    }
    if (errno == EINPROGRESS) {
      l.backend = fd;
      l.connecting = true;
      byFd_[fd] = &l;
      watch(fd, EPOLLOUT, false);
      return;
    }
    say("connection " + std::to_string(l.id) + ": back end " + b.text + " refused (" + std::strerror(errno) + ")");
    close(fd);
  }
  say("connection " + std::to_string(l.id) + " from " + l.peer + ": no back end accepts it; closed");
  close(l.client);
  l.client = -1;
  links_.erase(l.id);
}

void Balancer::finishConnect(Link& l) {
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(l.backend, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
  l.connecting = false;
  if (error == 0) {
    connected(l);
    return;
  }
  say("connection " + std::to_string(l.id) + ": back end " + backends_[l.target].text + " refused (" +
      std::strerror(error) + ")");
  byFd_.erase(l.backend);
  epoll_ctl(epoll_, EPOLL_CTL_DEL, l.backend, nullptr);
  close(l.backend);
  l.backend = -1;
  tryNextBackend(l);
}

void Balancer::connected(Link& l) {
  next_ = (l.target + 1) % backends_.size();
  say("connection " + std::to_string(l.id) + " from " + l.peer + " -> " + backends_[l.target].text);
  l.up.from = l.client, l.up.to = l.backend;
  l.down.from = l.backend, l.down.to = l.client;
  bool backendWatched = byFd_.count(l.backend) > 0;
  byFd_[l.backend] = &l;
  byFd_[l.client] = &l;
  watch(l.backend, EPOLLIN, backendWatched);
  watch(l.client, EPOLLIN, false);
}

void Balancer::onEvent(Link& l, int fd, uint32_t events) {
  if (l.connecting) {
    finishConnect(l);
    return;
  }
  Flow& reading = fd == l.client ? l.up : l.down;
  if ((events & EPOLLERR) || ((events & EPOLLHUP) && reading.ended)) {
    int error = 0;
    socklen_t size = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
    closeLink(l, std::string("cut by the ") + (fd == l.client ? "client" : "back end") +
                     (error ? std::string(" (") + std::strerror(error) + ")" : std::string()));
    return;
  }
  std::string why;
  if (!move(l.up, why) || !move(l.down, why)) {
    closeLink(l, "cut: " + why);
    return;
  }
  if (l.up.passed && l.down.passed) {
    closeLink(l, "closed");
    return;
  }
  updateInterest(l);
}

// move reads what the source has (while the buffer has room), writes what the
// destination takes, and passes an end of stream on once the buffer is empty.
bool Balancer::move(Flow& f, std::string& why) {
  if (f.off > 0 && f.off + f.len == kBuffer) {
    std::memmove(f.data.get(), f.data.get() + f.off, f.len);  // room for more at the end
    f.off = 0;
  }
  if (!f.ended && f.off + f.len < kBuffer) {
    ssize_t n = read(f.from, f.data.get() + f.off + f.len, kBuffer - f.off - f.len);
    if (n > 0) f.len += size_t(n);
    if (n == 0) f.ended = true;
    if (n < 0 && !transient(errno)) {
      why = std::string("read: ") + std::strerror(errno);
      return false;
    }
  }
  if (f.len > 0) {
    ssize_t n = send(f.to, f.data.get() + f.off, f.len, MSG_NOSIGNAL);
    if (n > 0) f.off += size_t(n), f.len -= size_t(n), f.bytes += uint64_t(n);
    if (f.len == 0) f.off = 0;
    if (n < 0 && !transient(errno)) {
      why = std::string("send: ") + std::strerror(errno);
      return false;
    }
  }
  if (f.ended && f.len == 0 && !f.passed) {
    shutdown(f.to, SHUT_WR);
    f.passed = true;
  }
  return true;
}

void Balancer::updateInterest(Link& l) {
  auto wants = [](const Flow& reading, const Flow& writing) {
    uint32_t e = 0;
    if (!reading.ended && reading.len < kBuffer) e |= EPOLLIN;
    if (writing.len > 0) e |= EPOLLOUT;
    return e;
  };
  watch(l.client, wants(l.up, l.down), true);
  watch(l.backend, wants(l.down, l.up), true);
}

void Balancer::closeLink(Link& l, const std::string& how) {
  say("connection " + std::to_string(l.id) + " " + how + " (" + std::to_string(l.up.bytes) + " bytes to " +
      backends_[l.target].text + ", " + std::to_string(l.down.bytes) + " back)");
  for (int fd : {l.client, l.backend}) {
    if (fd < 0) continue;
    byFd_.erase(fd);
    close(fd);  // closing removes it from the epoll set
  }
  links_.erase(l.id);
}

}  // namespace kqcluster
