#include "peer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "log_text.h"

namespace kqs {

Peer::Peer(ClientLink& link, Clock& clock, int timeoutMs) : link_(link), clock_(clock), timeoutMs_(timeoutMs) {}

bool Peer::readable() {
  if (early_.empty()) early_ = link_.readSome(kChunk, 0);
  return !early_.empty();
}

std::string Peer::take(std::size_t n, int waitMs) {
  if (early_.empty()) return link_.readSome(std::min(n, kChunk), waitMs);
  std::string part = early_.substr(0, n);
  early_.erase(0, part.size());
  return part;
}

std::string Peer::readSome(std::size_t n, int waitMs) { return take(n, waitMs); }

int Peer::msUntil(std::int64_t deadline) const {
  return static_cast<int>(std::clamp<std::int64_t>(deadline - clock_.steadyMs(), 1, timeoutMs_ + 1));
}

template <typename Take>
void Peer::readUntil(std::size_t n, std::int64_t deadline, const char* what, Take into) {
  while (n > 0) {
    if (early_.empty() && clock_.steadyMs() >= deadline) throw PeerError(what);
    std::string part = take(n, msUntil(deadline));
    n -= part.size();
    if (!part.empty()) into(part);
  }
}

std::string Peer::readExact(std::size_t n) {
  std::string out;
  readUntil(n, clock_.steadyMs() + timeoutMs_, "the client stopped answering",
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
  link_.sendAll(bytes, timeoutMs_);
  // An answer is due within the timeout after the last byte of its request
  // (file data included) went out.
  answerDeadline_ = clock_.steadyMs() + timeoutMs_;
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

}  // namespace kqs
