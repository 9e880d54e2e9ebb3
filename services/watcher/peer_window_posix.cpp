// Its own file: the kernel's tcp_info (with the window field) and the C
// library's netinet/tcp.h cannot be included together.
#include "watcher/peer_window_posix.h"

#include <linux/in.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstddef>

namespace kq {

std::optional<std::size_t> peerWindowRoom(int fd) {
  tcp_info info{};
  socklen_t length = sizeof info;
  if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
      length < offsetof(tcp_info, tcpi_snd_wnd) + sizeof info.tcpi_snd_wnd)
    return std::nullopt;
  int queued = 0;  // sent and not acknowledged, plus not sent yet
  if (ioctl(fd, SIOCOUTQ, &queued) != 0 || queued < 0) return std::nullopt;
  auto window = static_cast<std::size_t>(info.tcpi_snd_wnd);
  auto used = static_cast<std::size_t>(queued);
  return window > used ? window - used : 0;
}

}  // namespace kq
