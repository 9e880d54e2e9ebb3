#pragma once
// Peer is the server's end of one client connection: blocking reads and writes
// bounded by poll() timeouts and a stop flag. A request goes out in one send()
// call (header and JSON body together) so that it arrives in one client read.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "protocol/packet.h"

namespace kqs {

struct PeerError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Peer {
 public:
  Peer(int fd, int timeoutMs, const std::atomic<bool>& stop);
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // readInit collects the init text: the first bytes, then until the line is
  // quiet for quietMs or maxBytes arrived.
  std::string readInit(int quietMs, std::size_t maxBytes);
  // sendAll writes every byte, in as few send() calls as the socket allows.
  void sendAll(std::string_view bytes);
  // sendRequest sends header + body as one unit and returns the request id used.
  kq::RequestId sendRequest(const std::string& type, const std::string& body, std::uint64_t payloadLength);
  // readExact reads n bytes (throws on timeout, close or stop).
  std::string readExact(std::size_t n);
  // readSome reads up to n bytes that are already waiting or arrive within waitMs; "" when none.
  std::string readSome(std::size_t n, int waitMs);
  // readable is true when bytes from the client are waiting (no wait).
  bool readable();
  // readHeader reads a 17-byte header and checks it answers request id with one of the expected types.
  kq::PacketHeader readAnswer(const kq::RequestId& id, std::initializer_list<std::string_view> expected);
  // pause waits ms milliseconds; false when the server is stopping.
  bool pause(int ms) const;
  int timeoutMs() const { return timeoutMs_; }
  // quietMs is how long to listen for bytes that would come right behind the
  // last ones (an early refusal, a file that grew): twice the smoothed round
  // trip of header-only answers plus 2 ms, at most kMaxQuietMs (also before
  // any round trip was seen).
  int quietMs() const;
  static constexpr int kMaxQuietMs = 30;

 private:
  // waitFor polls for events until the timeout; false on timeout.
  bool waitFor(short events, int timeoutMs);

  int fd_;
  int timeoutMs_;
  const std::atomic<bool>& stop_;
  std::uint32_t nextId_ = 1;
  bool timing_ = false;  // the last request was header + body: its header-only answer gives a round trip
  std::chrono::steady_clock::time_point sentAt_;
  std::int64_t smoothedRoundTripUs_ = -1;  // -1 until the first round trip
};

}  // namespace kqs
