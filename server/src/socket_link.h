#pragma once
// SocketLink is a ClientLink over a connected socket: blocking sends and
// reads bounded by poll() waits that look at the stop flag every 100 ms.
#include <atomic>

#include "client_link.h"
#include "server_clock.h"

namespace kqs {

class SocketLink : public ClientLink {
 public:
  // SocketLink owns fd and closes it.
  SocketLink(int fd, const std::atomic<bool>& stop, Clock& clock);
  ~SocketLink() override;
  SocketLink(const SocketLink&) = delete;
  SocketLink& operator=(const SocketLink&) = delete;

  void sendAll(std::string_view bytes, int timeoutMs) override;
  std::string readSome(std::size_t n, int waitMs) override;
  bool pause(int ms) override;

  // kChunk is the most one read takes at a time.
  static constexpr std::size_t kChunk = 64 * 1024;

 private:
  // waitFor polls for events until timeoutMs has passed (0: one look, no
  // wait); false when none came.
  bool waitFor(short events, int timeoutMs);

  int fd_;
  const std::atomic<bool>& stop_;
  Clock& clock_;
};

}  // namespace kqs
