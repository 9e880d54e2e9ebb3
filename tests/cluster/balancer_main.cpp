// kq_balancer: the cluster tests' TCP load balancer (see balancer.h).
//   kq_balancer LISTEN_HOST:PORT BACKEND_HOST:PORT...
// Prints "balancing LISTEN -> BACKEND, ..." once it listens, then one line per
// connection: the back end it went to, a back end that refused, its end.
// SIGTERM or SIGINT stop it (exit 0); a usage error exits 2, a listening
// socket it cannot have exits 1.
#include "balancer.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

const char kUsage[] = "usage: kq_balancer LISTEN_HOST:PORT BACKEND_HOST:PORT...\n";

int listenOn(const kqcluster::Address& a) {
  int fd = socket(a.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&a.storage), a.length) != 0 || listen(fd, 128) != 0) {
    int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

int stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  return signalfd(-1, &set, SFD_CLOEXEC);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::vector<kqcluster::Address> addresses;
  for (int i = 1; i < argc; ++i) {
    std::string why;
    auto a = kqcluster::parseAddress(argv[i], why);
    if (!a) {
      std::fprintf(stderr, "kq_balancer: %s\n%s", why.c_str(), kUsage);
      return 2;
    }
    addresses.push_back(*a);
  }
  signal(SIGPIPE, SIG_IGN);
  int stopFd = stopSignals();
  int listenFd = listenOn(addresses.front());
  if (listenFd < 0 || stopFd < 0) {
    std::fprintf(stderr, "kq_balancer: cannot listen on %s: %s\n", addresses.front().text.c_str(), std::strerror(errno));
    return 1;
  }
  std::vector<kqcluster::Address> backends(addresses.begin() + 1, addresses.end());
  std::string line = "balancing " + kqcluster::boundAddress(listenFd).text + " ->";
  for (size_t i = 0; i < backends.size(); ++i) line += (i ? ", " : " ") + backends[i].text;
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  kqcluster::Balancer balancer(listenFd, std::move(backends), stdout);
  bool ok = balancer.run(stopFd);
  std::printf("stopped\n");
  return ok ? 0 : 1;
}
