#pragma once
// peerOwner is the user that owns the other end of a connected socket on this
// machine: for a UNIX-domain socket the credentials the kernel took at connect
// (SO_PEERCRED), for a loopback TCP connection the owner of the peer's socket
// in the kernel's socket table (sock_diag; an accepted socket is owned by the
// user who listens). nullopt when the kernel cannot tell.
#include <sys/types.h>

#include <optional>

namespace kq {

std::optional<uid_t> peerOwner(int fd);

}  // namespace kq
