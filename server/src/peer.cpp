#include "peer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "log_text.h"

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
  char buffer[kChunk];
  auto got = ::recv(fd_, buffer, std::min(n, kChunk), 0);
  if (got < 0) {
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return {};
    throw PeerError(std::string("receive: ") + std::strerror(errno));
  }
  if (got == 0) throw PeerError("the client closed the connection");
  return std::string(buffer, static_cast<std::size_t>(got));
}

int Peer::msUntil(Clock::time_point deadline) const {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::max<long long>(1, left));
}

template <typename Take>
void Peer::readUntil(std::size_t n, Clock::time_point deadline, const char* what, Take take) {
  while (n > 0) {
    if (Clock::now() >= deadline) throw PeerError(what);
    std::string part = readSome(n, msUntil(deadline));
    n -= part.size();
    if (!part.empty()) take(part);
  }
}

std::string Peer::readExact(std::size_t n) {
  std::string out;
  readUntil(n, Clock::now() + std::chrono::milliseconds(timeoutMs_), "the client stopped answering",
            [&](const std::string& part) { out += part; });
  return out;
}

void Peer::readBody(std::size_t n, Received& into) {
  std::size_t limit = into.size() + n;
  readUntil(n, answerDeadline_, "the client did not send its answer within the timeout",
            [&](const std::string& part) { into.append(part, limit); });
}

void Peer::skipBody(std::uint64_t n) {
  while (n > 0) {
    auto want = static_cast<std::size_t>(std::min<std::uint64_t>(n, kChunk));
    readUntil(want, answerDeadline_, "the client did not send its answer within the timeout",
              [](const std::string&) {});
    n -= want;
  }
}

Received::~Received() { std::free(data_); }

void Received::append(std::string_view bytes, std::size_t limit) {
  if (size_ + bytes.size() > capacity_) {
    std::size_t grown = std::min(std::max(size_ + bytes.size(), 2 * capacity_), std::max(limit, size_ + bytes.size()));
    auto* moved = static_cast<char*>(std::realloc(data_, grown));
    if (moved == nullptr) throw std::bad_alloc();
    data_ = moved;
    capacity_ = grown;
  }
  std::memcpy(data_ + size_, bytes.data(), bytes.size());
  size_ += bytes.size();
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
  // An answer is due within the timeout after the last byte of its request
  // (file data included) went out.
  answerDeadline_ = Clock::now() + std::chrono::milliseconds(timeoutMs_);
}

kq::RequestId Peer::sendRequest(const std::string& type, const std::string& body, std::uint64_t payloadLength) {
  kq::RequestId id{};
  std::uint32_t value = nextId_++;
  for (int i = 0; i < 4; ++i) id[i] = static_cast<char>((value >> (8 * (3 - i))) & 0xFF);
  sendAll(kq::encodeHeader({type, id, payloadLength}) + body);
  return id;
}

kq::PacketHeader Peer::readAnswer(const kq::RequestId& id, std::initializer_list<std::string_view> expected) {
  std::string raw;
  readUntil(kq::kHeaderSize, answerDeadline_, "the client stopped answering",
            [&](const std::string& part) { raw += part; });
  kq::PacketHeader header{raw.substr(0, 5), kq::requestIdOf(raw), kq::payloadLength(raw)};
  bool known = false;
  for (auto e : expected) known = known || header.type == e;
  if (!known) throw PeerError("unexpected answer \"" + logValue(header.type) + "\"");
  if (header.requestId != id) throw PeerError("answer " + header.type + " carries another request id");
  return header;
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
