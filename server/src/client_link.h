#pragma once
// ClientLink is the byte pump under one client conversation: it moves bytes
// and waits, nothing more. SocketLink is the real one; tests put the client
// engine itself behind it.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kqs {

// PeerError ends a client's connection (closed, stopped, timed out, out of turn).
struct PeerError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class ClientLink {
 public:
  virtual ~ClientLink() = default;
  // sendAll hands over every byte; throws PeerError when the client stops
  // reading for the whole timeout or the link fails.
  virtual void sendAll(std::string_view bytes, int timeoutMs) = 0;
  // readSome returns up to n bytes that are waiting or arrive within waitMs
  // (0: only what is waiting, never a wait); "" when none. Throws PeerError
  // when the client closed the link or the server stops.
  virtual std::string readSome(std::size_t n, int waitMs) = 0;
  // pause waits ms milliseconds; false when the server is stopping.
  virtual bool pause(int ms) = 0;
};

}  // namespace kqs
