#pragma once
// Win32ServerLink and Win32WatcherLink implement the link ports over
// AsyncSocket. Their events are handed to the callbacks given at construction
// (the main window routes them to the engine).
#include <memory>

#include "platform/links.h"
#include "platform/win32/async_socket_win32.h"

namespace kq {

class Win32ServerLink : public ServerLink {
 public:
  Win32ServerLink(HWND window, UINT firstMessage, AsyncSocket::Events events)
      : socket_(window, firstMessage, std::move(events)) {}
  void renew() override { socket_.close(false); }
  void activate(const std::string& host, int port) override;
  void deactivate() override { socket_.close(true); }
  bool isActive() override { return socket_.connected(); }
  [[nodiscard]] bool send(std::string_view bytes) override { return socket_.send(bytes); }
  AsyncSocket& socket() { return socket_; }

 private:
  AsyncSocket socket_;
};

// Win32WatcherLink connects to the watcher service on 127.0.0.1:11111. It has
// no error or disconnect handling of its own: a failed attempt leaves it
// inactive until the next activate.
class Win32WatcherLink : public WatcherLink {
 public:
  static constexpr int kPort = 11111;
  Win32WatcherLink(HWND window, UINT firstMessage, AsyncSocket::Events events)
      : socket_(window, firstMessage, std::move(events)) {}
  void activate() override {
    if (!socket_.connected()) socket_.open("127.0.0.1", port);
  }
  bool isActive() override { return socket_.connected(); }
  AsyncSocket& socket() { return socket_; }
  int port = kPort;

 private:
  AsyncSocket socket_;
};

}  // namespace kq
