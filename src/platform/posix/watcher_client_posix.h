#pragma once
// WatcherClient is the watcher link of the Linux client: a TcpClient to the
// user's watcher address (127.0.0.1 and a port, or a UNIX-domain socket). It
// believes only a watcher run by the same user: a connection whose other end
// belongs to another user (or whose owner the kernel cannot tell) is closed
// before the engine hears of it, told through onForeign, and counts as a
// watcher that cannot be reached.
#include <sys/types.h>

#include <functional>
#include <string>

#include "platform/posix/tcp_client_posix.h"

namespace kq {

class WatcherClient : public WatcherLink {
 public:
  // onForeign hears the owner of a refused watcher (nullopt: not known).
  using Foreign = std::function<void(std::optional<uid_t> owner)>;
  // socketPath empty: TCP on 127.0.0.1:port.
  WatcherClient(EventLoop& loop, LinkEvents& events, std::string socketPath, int port, Foreign onForeign);
  // activate starts a new attempt, dropping one that is still under way.
  void activate() override;
  bool isActive() override { return client_.isActive(); }

 private:
  // OwnerCheck stands between the socket and the engine's events.
  struct OwnerCheck : LinkEvents {
    OwnerCheck(WatcherClient& w, LinkEvents& inner) : w(w), inner(inner) {}
    void onConnecting() override { inner.onConnecting(); }
    void onConnect() override { w.connected(); }
    void onRead(std::string_view bytes) override { inner.onRead(bytes); }
    void onDisconnect() override { inner.onDisconnect(); }
    void onError(int code) override { inner.onError(code); }
    WatcherClient& w;
    LinkEvents& inner;
  };
  void connected();

  OwnerCheck check_;
  TcpClient client_;
  std::string socketPath_;
  int port_;
  Foreign onForeign_;
};

}  // namespace kq
