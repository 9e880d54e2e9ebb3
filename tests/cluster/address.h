// address: "HOST:PORT" for the balancer's command line (a numeric IPv4 or
// IPv6 address; IPv6 in brackets, "[::1]:27400").
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <optional>
#include <string>

namespace kqcluster {

struct Address {
  sockaddr_storage storage{};
  socklen_t length = 0;
  std::string text;  // as the log shows it
};

// parseAddress reads "HOST:PORT"; nullopt with the reason in `why` when it is not one.
[[nodiscard]] std::optional<Address> parseAddress(const std::string& text, std::string& why);

// addressText shows an address as "HOST:PORT" ("[HOST]:PORT" for IPv6).
[[nodiscard]] std::string addressText(const sockaddr_storage& s);

// peerText is the address of a connected socket's peer, "?" when unknown.
[[nodiscard]] std::string peerText(int fd);

// boundAddress is the address a socket is bound to (the port the kernel chose for 0).
[[nodiscard]] Address boundAddress(int fd);

}  // namespace kqcluster
