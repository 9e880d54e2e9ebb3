#include "peer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace kqs {

namespace {

constexpr int kSliceMs = 100;  // how often a wait looks at the stop flag

}  // namespace

Peer::Peer(int fd, int timeoutMs, const std::atomic<bool>& stop) : fd_(fd), timeoutMs_(timeoutMs), stop_(stop) {}

Peer::~Peer() { ::close(fd_); }

bool Peer::waitFor(short events, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (stop_) throw PeerError("server stopping");
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 && timeoutMs > 0) return false;
    pollfd p{fd_, events, 0};
    int rc = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), kSliceMs)));
    if (rc < 0 && errno != EINTR) throw PeerError(std::string("poll: ") + std::strerror(errno));
    if (rc > 0) return true;
    if (timeoutMs <= 0) return false;
  }
}

bool Peer::readable() { return waitFor(POLLIN, 0); }

std::string Peer::readSome(std::size_t n, int waitMs) {
  if (!waitFor(POLLIN, waitMs)) return {};
  std::string buffer(n, '\0');
  auto got = ::recv(fd_, buffer.data(), n, 0);
  if (got < 0) throw PeerError(std::string("receive: ") + std::strerror(errno));
  if (got == 0) throw PeerError("the client closed the connection");
  buffer.resize(static_cast<std::size_t>(got));
  return buffer;
}

std::string Peer::readInit(int quietMs, std::size_t maxBytes) {
  std::string text = readSome(maxBytes, timeoutMs_);
  if (text.empty()) throw PeerError("no init text");
  while (text.size() < maxBytes) {
    std::string more = readSome(maxBytes - text.size(), quietMs);
    if (more.empty()) break;
    text += more;
  }
  return text;
}

std::string Peer::readExact(std::size_t n) {
  std::string out;
  out.reserve(n);
  while (out.size() < n) {
    std::string part = readSome(n - out.size(), timeoutMs_);
    if (part.empty()) throw PeerError("the client stopped answering");
    out += part;
  }
  return out;
}

void Peer::sendAll(std::string_view bytes) {
  while (!bytes.empty()) {
    auto sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if (!waitFor(POLLOUT, timeoutMs_)) throw PeerError("the client stopped reading");
        continue;
      }
      throw PeerError(std::string("send: ") + std::strerror(errno));
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
}

kq::RequestId Peer::sendRequest(const std::string& type, const std::string& body, std::uint64_t payloadLength) {
  kq::RequestId id{};
  std::uint32_t value = nextId_++;
  for (int i = 0; i < 4; ++i) id[i] = static_cast<char>((value >> (8 * (3 - i))) & 0xFF);
  sendAll(kq::encodeHeader({type, id, payloadLength}) + body);
  timing_ = payloadLength == body.size();
  sentAt_ = std::chrono::steady_clock::now();
  return id;
}

kq::PacketHeader Peer::readAnswer(const kq::RequestId& id, std::initializer_list<std::string_view> expected) {
  std::string raw = readExact(kq::kHeaderSize);
  kq::PacketHeader header{raw.substr(0, 5), kq::requestIdOf(raw), kq::payloadLength(raw)};
  bool known = false;
  for (auto e : expected) known = known || header.type == e;
  if (!known) throw PeerError("unexpected answer \"" + header.type + "\"");
  if (header.requestId != id) throw PeerError("answer " + header.type + " carries another request id");
  if (timing_ && header.payloadLength == 0) {
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - sentAt_).count();
    smoothedRoundTripUs_ = smoothedRoundTripUs_ < 0 ? us : (7 * smoothedRoundTripUs_ + us) / 8;
  }
  timing_ = false;
  return header;
}

int Peer::quietMs() const {
  if (smoothedRoundTripUs_ < 0) return kMaxQuietMs;
  return static_cast<int>(std::min<std::int64_t>(kMaxQuietMs, 2 + 2 * smoothedRoundTripUs_ / 1000));
}

bool Peer::pause(int ms) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (stop_) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, kSliceMs)));
  }
  return !stop_;
}

}  // namespace kqs
