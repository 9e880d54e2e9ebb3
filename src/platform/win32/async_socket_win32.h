#pragma once
// AsyncSocket is a non-blocking TCP client socket whose events (connecting,
// connect, read, disconnect, error) arrive through a window's message loop by
// WSAAsyncSelect. Every open() creates a fresh socket; events of a socket that
// was closed or replaced are recognised and dropped. Sends always complete.
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kq {

class AsyncSocket {
 public:
  struct Events {
    std::function<void()> connecting;                    // name resolved, connect under way
    std::function<void()> connect;                       // connection established
    std::function<void(std::string_view)> read;          // what has arrived, in one piece
    std::function<void()> disconnect;                    // an established connection ended
    std::function<void(int code, const char* api)> error;  // an attempt or the socket failed
  };

  // kMessageRange messages from firstMessage on belong to this socket.
  static constexpr UINT kMessageRange = 64;

  AsyncSocket(HWND window, UINT firstMessage, Events events);
  ~AsyncSocket();
  AsyncSocket(const AsyncSocket&) = delete;
  AsyncSocket& operator=(const AsyncSocket&) = delete;

  // open drops the current socket (without events) and starts an asynchronous
  // connect on a fresh one. Its outcome, including a failed name lookup, is
  // reported by the events, never by a call back into the caller during open.
  void open(const std::string& host, int port);
  // close drops the socket; notifyDisconnect posts the disconnect event when a
  // connection was established.
  void close(bool notifyDisconnect);
  // connected is true from the connect event to the disconnect event.
  bool connected() const { return connected_; }
  // attempting is true while a socket exists (connecting or connected).
  bool attempting() const { return socket_ != INVALID_SOCKET; }
  const std::string& host() const { return host_; }
  int port() const { return port_; }

  // send hands every byte to the connection: when the socket's buffer is full it
  // waits for writability and continues. false when the socket is not
  // connected, or when the send fails or makes no progress for sendTimeoutMs:
  // the socket is then dropped and an error event ("send") and a disconnect
  // event follow.
  [[nodiscard]] bool send(std::string_view bytes);
  int sendTimeoutMs = 60000;

  // owns tells whether message belongs to this socket's range.
  bool owns(UINT message) const { return message >= first_ && message < first_ + kMessageRange; }
  // handleMessage processes one message of this socket's range.
  void handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  UINT currentMessage() const { return first_ + generation_ % kMessageRange; }
  void post(WPARAM wParam, WORD event, WORD error);
  void readAvailable();
  // failSend drops a connected socket whose send failed and posts error and disconnect.
  bool failSend(int code);
  void dropSocket();

  HWND window_;
  UINT first_;
  Events events_;
  SOCKET socket_ = INVALID_SOCKET;
  std::uint32_t generation_ = 0;
  bool connected_ = false;
  std::string host_;
  int port_ = 0;
};

// initWinsock starts Windows Sockets 2.2 once per process; false when it fails.
bool initWinsock();
// socketErrorText describes a Windows Sockets error code in words.
std::string socketErrorText(int code);

}  // namespace kq
