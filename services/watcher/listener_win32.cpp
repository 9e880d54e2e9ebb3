#include "watcher/listener_win32.h"

#include <ws2tcpip.h>

#include "log/log.h"

namespace kq {

// Connection is one accepted client.
class WatcherListenerWin32::Connection : public NotificationChannel {
 public:
  explicit Connection(SOCKET s) : socket(s) {}
  ~Connection() override { closesocket(socket); }
  bool send(std::string_view message) override {
    std::size_t done = 0;
    while (done < message.size()) {
      int n = ::send(socket, message.data() + done, static_cast<int>(message.size() - done), 0);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(socket, &writable);
        timeval timeout{5, 0};
        if (select(0, nullptr, &writable, nullptr, &timeout) <= 0) return false;
      } else {
        return false;
      }
    }
    return true;
  }
  std::optional<std::size_t> unreadBytes() override {
    return closedCleanly ? std::optional<std::size_t>(0) : std::nullopt;
  }
  SOCKET socket;
  bool closedCleanly = false;
};

WatcherListenerWin32::WatcherListenerWin32(NotificationSender& sender, Log& log)
    : sender_(sender), log_(log), listenEvent_(WSACreateEvent()), clientEvent_(WSACreateEvent()) {}

WatcherListenerWin32::~WatcherListenerWin32() {
  if (client_) sender_.detach();
  client_.reset();
  if (listenSocket_ != INVALID_SOCKET) closesocket(listenSocket_);
  WSACloseEvent(listenEvent_);
  WSACloseEvent(clientEvent_);
}

bool WatcherListenerWin32::listen(int port) {
  listenSocket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  BOOL exclusive = TRUE;
  setsockopt(listenSocket_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof exclusive);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listenSocket_ == INVALID_SOCKET ||
      bind(listenSocket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenSocket_, 8) != 0 || WSAEventSelect(listenSocket_, listenEvent_, FD_ACCEPT) != 0) {
    log_.writeLog("Cannot listen on 127.0.0.1:" + std::to_string(port) + " (error " +
                      std::to_string(WSAGetLastError()) + ")",
                  true);
    return false;
  }
  log_.writeLog("Listening on 127.0.0.1:" + std::to_string(port), true);
  return true;
}

void WatcherListenerWin32::onListenEvent() {
  WSANETWORKEVENTS events{};
  WSAEnumNetworkEvents(listenSocket_, listenEvent_, &events);
  SOCKET accepted = accept(listenSocket_, nullptr, nullptr);
  if (accepted == INVALID_SOCKET) return;
  if (client_) dropClient("Client replaced by a new connection");
  BOOL noDelay = TRUE;
  setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  WSAEventSelect(accepted, clientEvent_, FD_READ | FD_CLOSE);
  client_ = std::make_unique<Connection>(accepted);
  sender_.attach(*client_);
  log_.writeLog("Client connected", true);
}

void WatcherListenerWin32::onClientEvent() {
  if (!client_) {
    WSAResetEvent(clientEvent_);
    return;
  }
  WSANETWORKEVENTS events{};
  WSAEnumNetworkEvents(client_->socket, clientEvent_, &events);
  char buffer[4096];
  int n = recv(client_->socket, buffer, sizeof buffer, 0);  // the client sends nothing: discard
  if (n == 0) client_->closedCleanly = true;
  if (n == 0 || (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) || (events.lNetworkEvents & FD_CLOSE))
    dropClient("Client disconnected");
}

void WatcherListenerWin32::dropClient(const char* why) {
  sender_.detach();
  client_.reset();
  WSAResetEvent(clientEvent_);
  log_.writeLog(why, true);
}

DWORD WatcherListenerWin32::pump() {
  bool wasAttached = sender_.attached();
  int again = sender_.pump(static_cast<std::int64_t>(GetTickCount64()));
  if (wasAttached && !sender_.attached() && client_) dropClient("Client connection broke");
  return again < 0 ? INFINITE : static_cast<DWORD>(again);
}

}  // namespace kq
