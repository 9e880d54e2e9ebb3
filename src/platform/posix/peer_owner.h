#pragma once
// peerOwner is the user that owns the other end of a connected socket on this
// machine: for a UNIX-domain socket the credentials the kernel took at connect
// (SO_PEERCRED), for a loopback TCP connection the owner of the peer's socket
// in the kernel's socket table (sock_diag; an accepted socket is owned by the
// user who listens). nullopt when the kernel cannot tell.
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <netinet/in.h>
#include <sys/types.h>

#include <optional>

namespace kq {

std::optional<uid_t> peerOwner(int fd);

// PeerSocketQuery is the sock_diag request for the peer's socket of a
// loopback TCP connection whose own end has the address self and whose other
// end has the address peer.
struct PeerSocketQuery {
  nlmsghdr header;
  inet_diag_req_v2 request;
};
PeerSocketQuery peerSocketQuery(const sockaddr_in& self, const sockaddr_in& peer);

}  // namespace kq
