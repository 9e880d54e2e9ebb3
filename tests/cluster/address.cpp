#include "address.h"

#include <arpa/inet.h>

#include <cstring>

namespace kqcluster {

std::string addressText(const sockaddr_storage& s) {
  char host[INET6_ADDRSTRLEN] = "?";
  if (s.ss_family == AF_INET) {
    auto* a = reinterpret_cast<const sockaddr_in*>(&s);
    inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(a->sin_port));
  }
  auto* a = reinterpret_cast<const sockaddr_in6*>(&s);
  inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
  return "[" + std::string(host) + "]:" + std::to_string(ntohs(a->sin6_port));
}

std::string peerText(int fd) {
  sockaddr_storage s{};
  socklen_t length = sizeof s;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&s), &length) != 0) return "?";
  return addressText(s);
}

namespace {

std::optional<unsigned> parsePort(const std::string& digits) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  unsigned port = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + unsigned(c - '0');
  }
  if (port > 65535) return std::nullopt;
  return port;
}

}  // namespace

std::optional<Address> parseAddress(const std::string& text, std::string& why) {
  auto colon = text.rfind(':');
  if (colon == std::string::npos) {
    why = "not HOST:PORT: " + text;
    return std::nullopt;
  }
  std::string host = text.substr(0, colon);
  auto port = parsePort(text.substr(colon + 1));
  if (!port) {
    why = "not a port number: " + text.substr(colon + 1);
    return std::nullopt;
  }
  Address a;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    auto* s = reinterpret_cast<sockaddr_in6*>(&a.storage);
    s->sin6_family = AF_INET6;
    s->sin6_port = htons(uint16_t(*port));
    if (inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &s->sin6_addr) != 1) {
      why = "not an IPv6 address: " + host;
      return std::nullopt;
    }
    a.length = sizeof(sockaddr_in6);
  } else {
    auto* s = reinterpret_cast<sockaddr_in*>(&a.storage);
    s->sin_family = AF_INET;
    s->sin_port = htons(uint16_t(*port));
    if (inet_pton(AF_INET, host.c_str(), &s->sin_addr) != 1) {
      why = "not an IPv4 address: " + host;
      return std::nullopt;
    }
    a.length = sizeof(sockaddr_in);
  }
  a.text = addressText(a.storage);
  return a;
}

Address boundAddress(int fd) {
  Address a;
  a.length = sizeof a.storage;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&a.storage), &a.length) != 0) a.length = 0;
  a.text = a.length ? addressText(a.storage) : "?";
  return a;
}

}  // namespace kqcluster
