#pragma once
// ServerLink and WatcherLink are the ports of the two TCP client sockets. The
// platform layer owns the real sockets and reports their events back to the
// engine as calls (FilesyncSocketConnect, FilesyncSocketRead, ...).
#include <cstdint>
#include <string>
#include <string_view>

namespace kq {

// LinkError is thrown by a link call that the socket refuses (for example a
// change of host or port on an active socket).
struct LinkError : std::exception {
  explicit LinkError(std::string m) : message(std::move(m)) {}
  const char* what() const noexcept override { return message.c_str(); }
  std::string message;
};

class ServerLink {
 public:
  virtual ~ServerLink() = default;
  // renew drops the current socket (and any attempt under way) and creates a
  // fresh inactive one: every reconnect attempt uses a new socket.
  virtual void renew() = 0;
  // activate starts an asynchronous connect to host:port. On an active socket it
  // is accepted only with the same host and port; otherwise it throws LinkError.
  virtual void activate(const std::string& host, int port) = 0;
  // deactivate closes the connection; the disconnect event follows when one was open.
  virtual void deactivate() = 0;
  // isActive is true from the connect event to the disconnect event.
  virtual bool isActive() = 0;
  // send hands every byte to the connection (the link completes short sends
  // itself) and says whether it did; it never throws. false: the link is not
  // connected, or the connection failed during the send. A connection that
  // fails is closed and reported by an error event followed by a disconnect
  // event; the caller stops sending what it was sending.
  [[nodiscard]] virtual bool send(std::string_view bytes) = 0;
};

// LinkEvents receives the events of one client socket (connecting, connect,
// read, disconnect, error; errors carry Windows Sockets numbers).
class LinkEvents {
 public:
  virtual ~LinkEvents() = default;
  virtual void onConnecting() {}
  virtual void onConnect() {}
  virtual void onRead(std::string_view bytes) { (void)bytes; }
  virtual void onDisconnect() {}
  virtual void onError(int wsaCode) { (void)wsaCode; }
};

class WatcherLink {
 public:
  virtual ~WatcherLink() = default;
  // activate starts a connection attempt to the watcher service (127.0.0.1:11111).
  virtual void activate() = 0;
  virtual bool isActive() = 0;
};

}  // namespace kq
