#pragma once
// peerWindowRoom tells how many more bytes a TCP connection's peer takes now:
// the receive window it last advertised, less what is sent and not yet
// acknowledged or still waits in fd's send queue. nullopt when the kernel
// cannot tell (no TCP_INFO window field).
#include <cstddef>
#include <optional>

namespace kq {

std::optional<std::size_t> peerWindowRoom(int fd);

}  // namespace kq
