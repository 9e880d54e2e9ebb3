// Balancer: a TCP load balancer for the cluster tests. One listening socket,
// a list of back ends; each new connection goes to the next back end in turn
// (round robin) that accepts it, a back end that refuses is skipped, and bytes
// are copied both ways until both directions have ended (an end of stream on
// one side is passed on as a half close). One thread, non-blocking sockets,
// 64 KiB buffered per direction: a side that does not read slows the other.
#pragma once

#include "address.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace kqcluster {

class Balancer {
 public:
  // listenFd: a bound, listening, non-blocking socket. Log lines go to log.
  Balancer(int listenFd, std::vector<Address> backends, std::FILE* log, size_t maxLinks = 1024);
  ~Balancer();
  Balancer(const Balancer&) = delete;
  Balancer& operator=(const Balancer&) = delete;

  // run serves until stopFd is readable; false (with a log line) when the
  // event loop itself fails.
  [[nodiscard]] bool run(int stopFd);

 private:
  static constexpr size_t kBuffer = 64 * 1024;
  struct Flow {
    int from = -1, to = -1;
    std::unique_ptr<char[]> data = std::make_unique<char[]>(kBuffer);
    size_t off = 0, len = 0;
    bool ended = false;   // the source sent its end of stream
    bool passed = false;  // ... and it was passed on (shutdown of the writing side)
    uint64_t bytes = 0;
  };
  struct Link {
    uint64_t id = 0;
    std::string peer;
    int client = -1, backend = -1;
    size_t first = 0, tried = 0, target = 0;
    bool connecting = false;
    Flow up, down;  // client to back end, back end to client
  };

  void acceptAll();
  void startLink(int client);
  void tryNextBackend(Link& l);
  void finishConnect(Link& l);
  void connected(Link& l);
  void onEvent(Link& l, int fd, uint32_t events);
  [[nodiscard]] bool move(Flow& f, std::string& why);
  void watch(int fd, uint32_t events, bool added);
  void updateInterest(Link& l);
  void closeLink(Link& l, const std::string& how);
  void say(const std::string& line);

  int listenFd_;
  int epoll_ = -1;
  std::vector<Address> backends_;
  std::FILE* log_;
  size_t maxLinks_;
  size_t next_ = 0;
  uint64_t count_ = 0;
  std::unordered_map<uint64_t, std::unique_ptr<Link>> links_;
  std::unordered_map<int, Link*> byFd_;
};

}  // namespace kqcluster
