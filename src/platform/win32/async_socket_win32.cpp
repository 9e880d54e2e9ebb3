#include "platform/win32/async_socket_win32.h"

#include <mstcpip.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "engine/timer_schedule.h"
#include "platform/links.h"
#include "wire/packet.h"

namespace kq {
namespace {

// Events of our own, posted through the same message as the socket's events.
constexpr WORD kEventConnecting = 0x1000;
constexpr WORD kEventLookupError = 0x2000;
constexpr WORD kEventDisconnected = 0x4000;
constexpr WORD kEventSendError = 0x0800;
// kSynthetic marks a posted event that no longer has (or never had) a socket handle.
constexpr WPARAM kSynthetic = static_cast<WPARAM>(-2);
// kMaxRead bounds one read event; more waiting data gives further read events.
constexpr std::size_t kMaxRead = kReadSize;

// keepAlive makes Windows probe an idle connection, so that a peer gone for
// good (powered off, a NAT that dropped the mapping) ends the connection with
// an error instead of leaving it open for ever. Windows sends its own number
// of probes.
void keepAlive(SOCKET socket) {
  BOOL on = TRUE;
  setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
  tcp_keepalive values{};
  values.onoff = 1;
  values.keepalivetime = static_cast<ULONG>(timers::kKeepAliveIdleS) * 1000;
  values.keepaliveinterval = static_cast<ULONG>(timers::kKeepAliveIntervalS) * 1000;
  DWORD returned = 0;
  WSAIoctl(socket, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr);
}

}  // namespace

bool initWinsock() {
  static const bool ok = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ok;
}

std::string socketErrorText(int code) {
  char* buffer = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(code), 0,
                           reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = n && buffer ? std::string(buffer, n) : std::string();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                           text.back() == '.'))
    text.pop_back();
  return text.empty() ? "Socket error" : text;
}

AsyncSocket::AsyncSocket(HWND window, UINT firstMessage, Events events)
    : window_(window), first_(firstMessage), events_(std::move(events)) {
  initWinsock();
}

AsyncSocket::~AsyncSocket() { dropSocket(); }

void AsyncSocket::post(WPARAM wParam, WORD event, WORD error) {
  PostMessageW(window_, currentMessage(), wParam, WSAMAKESELECTREPLY(event, error));
}

void AsyncSocket::dropSocket() {
  if (socket_ != INVALID_SOCKET) {
    WSAAsyncSelect(socket_, window_, 0, 0);
    closesocket(socket_);
  }
  socket_ = INVALID_SOCKET;
  connected_ = false;
}

void AsyncSocket::open(const std::string& host, int port) {
  dropSocket();
  ++generation_;
  host_ = host;
  port_ = port;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  if (port <= 0 || port > 65535) {
    post(kSynthetic, kEventLookupError, WSAEADDRNOTAVAIL);
    return;
  }
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
    int code = WSAGetLastError();
    post(kSynthetic, kEventLookupError, static_cast<WORD>(code ? code : WSAHOST_NOT_FOUND));
    return;
  }
  socket_ = socket(found->ai_family, SOCK_STREAM, IPPROTO_TCP);
  if (socket_ == INVALID_SOCKET) {
    int code = WSAGetLastError();
    freeaddrinfo(found);
    post(kSynthetic, FD_CONNECT, static_cast<WORD>(code));
    return;
  }
  keepAlive(socket_);
  // WSAAsyncSelect also makes the socket non-blocking.
  WSAAsyncSelect(socket_, window_, currentMessage(), FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE);
  post(socket_, kEventConnecting, 0);
  int rc = connect(socket_, found->ai_addr, static_cast<int>(found->ai_addrlen));
  int code = rc == SOCKET_ERROR ? WSAGetLastError() : 0;
  freeaddrinfo(found);
  if (rc == SOCKET_ERROR && code != WSAEWOULDBLOCK) {
    dropSocket();
    post(kSynthetic, FD_CONNECT, static_cast<WORD>(code));
  }
}

void AsyncSocket::close(bool notifyDisconnect) {
  bool wasConnected = connected_;
  dropSocket();
  if (notifyDisconnect && wasConnected) post(kSynthetic, kEventDisconnected, 0);
}

bool AsyncSocket::failSend(int code) {
  dropSocket();
  post(kSynthetic, kEventSendError, static_cast<WORD>(code));
  post(kSynthetic, kEventDisconnected, 0);
  return false;
}

bool AsyncSocket::send(std::string_view bytes) {
  if (!connected_ || socket_ == INVALID_SOCKET) return false;
  std::size_t offset = 0;
  while (offset < bytes.size()) {
    int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - offset, 1u << 20));
    int n = ::send(socket_, bytes.data() + offset, chunk, 0);
    if (n > 0) {
      offset += static_cast<std::size_t>(n);
      continue;
    }
    int code = WSAGetLastError();
    if (code != WSAEWOULDBLOCK) return failSend(code);
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(socket_, &writable);
    timeval wait{sendTimeoutMs / 1000, (sendTimeoutMs % 1000) * 1000};
    int ready = select(0, nullptr, &writable, nullptr, &wait);
    if (ready == 0) return failSend(WSAETIMEDOUT);
    if (ready == SOCKET_ERROR) return failSend(WSAGetLastError());
  }
  return true;
}

void AsyncSocket::readAvailable() {
  u_long waiting = 0;
  ioctlsocket(socket_, FIONREAD, &waiting);
  std::size_t size = waiting ? std::min<std::size_t>(waiting, kMaxRead) : kMaxRead;
  std::string buffer(size, '\0');
  int got = recv(socket_, buffer.data(), static_cast<int>(size), 0);
  if (got <= 0) return;  // nothing yet, or the close event follows
  buffer.resize(static_cast<std::size_t>(got));
  if (events_.read) events_.read(buffer);
}

void AsyncSocket::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != currentMessage()) return;  // a replaced socket's late event
  const WORD event = WSAGETSELECTEVENT(lParam);
  const int error = WSAGETSELECTERROR(lParam);
  if (wParam != kSynthetic && (socket_ == INVALID_SOCKET || wParam != socket_)) return;
  switch (event) {
    case kEventConnecting:
      if (events_.connecting) events_.connecting();
      break;
    case kEventLookupError:
      if (events_.error) events_.error(error, "lookup");
      break;
    case kEventSendError:
      if (events_.error) events_.error(error, "send");
      break;
    case kEventDisconnected:
      if (events_.disconnect) events_.disconnect();
      break;
    case FD_CONNECT:
      if (error) {
        dropSocket();
        if (events_.error) events_.error(error, "connect");
      } else {
        connected_ = true;
        if (events_.connect) events_.connect();
      }
      break;
    case FD_READ:
      if (connected_) readAvailable();
      break;
    case FD_CLOSE: {
      // Data that arrived with the close is handed on, in read events of at most
      // kMaxRead bytes, before the disconnect.
      const auto generation = generation_;
      std::string chunk(kMaxRead, '\0');
      for (;;) {
        int got = recv(socket_, chunk.data(), static_cast<int>(chunk.size()), 0);
        if (got <= 0) break;
        if (events_.read) events_.read(std::string_view(chunk.data(), static_cast<std::size_t>(got)));
        if (generation != generation_ || socket_ == INVALID_SOCKET) return;  // replaced meanwhile
      }
      bool wasConnected = connected_;
      dropSocket();
      if (wasConnected && events_.disconnect) events_.disconnect();
      break;
    }
    default:  // FD_WRITE: sends wait for writability themselves
      break;
  }
}

}  // namespace kq
