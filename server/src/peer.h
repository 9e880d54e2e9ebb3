#pragma once
// Peer is the server's end of one client connection: the framing of requests
// and answers over a ClientLink, with deadlines on the server's clock. A
// request goes out in one send (header and JSON body together) so that it
// arrives in one client read.
// Reads never allocate for bytes that have not arrived: a buffer grows with
// what was received, so a peer announcing much and sending little costs
// nothing. An answer (header and body) must arrive whole within the client
// timeout after the last byte of its request was sent; file data must arrive
// chunk by chunk within the timeout each.
#include <cstdint>
#include <string>
#include <string_view>

#include "client_link.h"
#include "server_clock.h"
#include "wire/packet.h"

namespace kqs {

// Received holds the bytes of one answer body as they arrive. It grows with
// realloc(), which moves a large block by remapping its pages rather than
// copying them, so holding n bytes never costs much more than n.
class Received {
 public:
  Received() = default;
  ~Received();
  Received(const Received&) = delete;
  Received& operator=(const Received&) = delete;
  // append adds bytes; the buffer doubles at most, and never beyond limit.
  void append(std::string_view bytes, std::size_t limit);
  std::string_view view() const { return {data_, size_}; }
  std::size_t size() const { return size_; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0, capacity_ = 0;
};

class Peer {
 public:
  Peer(ClientLink& link, Clock& clock, int timeoutMs);
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // sendAll writes every byte, in as few send() calls as the socket allows.
  void sendAll(std::string_view bytes);
  // sendRequest sends header + body as one unit and returns the request id used.
  kq::RequestId sendRequest(const std::string& type, const std::string& body, std::uint64_t payloadLength);
  // readExact reads n bytes, all within the client timeout (throws on timeout, close or stop).
  std::string readExact(std::size_t n);
  // readBody reads the n payload bytes of the answer just read, within the
  // time left to that answer.
  void readBody(std::size_t n, Received& into);
  // skipBody reads and drops n payload bytes of the answer just read, in
  // chunks, within the time left to that answer.
  void skipBody(std::uint64_t n);
  // readSome reads up to n bytes (at most one chunk) that are already waiting
  // or arrive within waitMs; "" when none.
  std::string readSome(std::size_t n, int waitMs);
  // readAnswer reads a 17-byte header and checks it answers request id with
  // one of the expected types; the header must arrive within the client
  // timeout after the request (with its data) was sent.
  // readable is true when bytes from the client are waiting; it never waits.
  bool readable();
  // readHeader reads a 17-byte header and checks it answers request id with one of the expected types.
  kq::PacketHeader readAnswer(const kq::RequestId& id, std::initializer_list<std::string_view> expected);
  // kChunk is the most one read takes at a time.
  static constexpr std::size_t kChunk = 64 * 1024;
  // pause waits ms milliseconds; false when the server is stopping.
  bool pause(int ms) { return link_.pause(ms); }
  int timeoutMs() const { return timeoutMs_; }
  // clock is the server's clock the deadlines run on.
  Clock& clock() { return clock_; }

 private:
  // take returns up to n bytes, those a readable() look kept first.
  std::string take(std::size_t n, int waitMs);
  // readUntil hands n received bytes to take, chunk by chunk; throws when the deadline passes first.
  template <typename Take>
  void readUntil(std::size_t n, std::int64_t deadline, const char* what, Take take);
  int msUntil(std::int64_t deadline) const;

  ClientLink& link_;
  Clock& clock_;
  int timeoutMs_;
  std::uint32_t nextId_ = 1;
  std::int64_t answerDeadline_ = 0;  // steady ms by which the answer to the last request is due
  std::string early_;                // bytes a readable() look took from the link
};

}  // namespace kqs
