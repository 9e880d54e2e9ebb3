#include "platform/posix/watcher_client_posix.h"

#include <unistd.h>

#include "platform/posix/peer_owner.h"
#include "platform/posix/socket_errors.h"

namespace kq {

WatcherClient::WatcherClient(EventLoop& loop, LinkEvents& events, std::string socketPath, int port, Foreign onForeign)
    : check_(*this, events), client_(loop, check_), socketPath_(std::move(socketPath)), port_(port),
      onForeign_(std::move(onForeign)) {}

void WatcherClient::activate() {
  client_.renew();
  client_.activate(socketPath_.empty() ? "127.0.0.1" : socketPath_, port_);
}

void WatcherClient::connected() {
  const std::optional<uid_t> owner = peerOwner(client_.fd());
  if (owner && *owner == ::geteuid()) {
    check_.inner.onConnect();
    return;
  }
  client_.renew();  // closed without an event: the engine never heard of it
  if (onForeign_) onForeign_(owner);
  check_.inner.onError(kWsaConnectionRefused);
}

}  // namespace kq
