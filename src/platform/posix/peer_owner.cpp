#include "platform/posix/peer_owner.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace kq {

namespace {

std::optional<uid_t> unixPeer(int fd) {
  ucred credentials{};
  socklen_t len = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &len) != 0 || credentials.pid == 0) return std::nullopt;
  return credentials.uid;
}

std::optional<uid_t> tcpPeer(const sockaddr_in& self, const sockaddr_in& peer) {
  PeerSocketQuery m = peerSocketQuery(self, peer);
  int netlink = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (netlink < 0) return std::nullopt;
  timeval timeout{0, 500000};
  setsockopt(netlink, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  std::optional<uid_t> owner;
  alignas(nlmsghdr) char answer[8192];
  if (sendto(netlink, &m, sizeof m, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
      static_cast<ssize_t>(sizeof m)) {
    ssize_t n = recv(netlink, answer, sizeof answer, 0);
    auto* h = reinterpret_cast<nlmsghdr*>(answer);
    if (n > 0 && NLMSG_OK(h, static_cast<unsigned>(n)) && h->nlmsg_type == SOCK_DIAG_BY_FAMILY)
      owner = static_cast<inet_diag_msg*>(NLMSG_DATA(h))->idiag_uid;
  }
  close(netlink);
  return owner;
}

}  // namespace

PeerSocketQuery peerSocketQuery(const sockaddr_in& self, const sockaddr_in& peer) {
  PeerSocketQuery m{};
  m.header.nlmsg_len = sizeof m;
  m.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  m.header.nlmsg_flags = NLM_F_REQUEST;
  m.request.sdiag_family = AF_INET;
  m.request.sdiag_protocol = IPPROTO_TCP;
  m.request.idiag_states = ~0u;
  m.request.id.idiag_sport = peer.sin_port;  // the peer's socket: its ports and addresses
  m.request.id.idiag_dport = self.sin_port;
  m.request.id.idiag_src[0] = peer.sin_addr.s_addr;
  m.request.id.idiag_dst[0] = self.sin_addr.s_addr;
  m.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  m.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  return m;
}

std::optional<uid_t> peerOwner(int fd) {
  sockaddr_storage self{}, peer{};
  socklen_t len = sizeof self;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&self), &len) != 0) return std::nullopt;
  if (self.ss_family == AF_UNIX) return unixPeer(fd);
  len = sizeof peer;
  if (self.ss_family != AF_INET || getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return std::nullopt;
  return tcpPeer(reinterpret_cast<const sockaddr_in&>(self), reinterpret_cast<const sockaddr_in&>(peer));
}

}  // namespace kq
