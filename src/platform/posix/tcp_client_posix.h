#pragma once
// TcpClient is the POSIX client socket behind ServerLink and WatcherLink: a
// non-blocking TCP socket (a UNIX-domain socket for a host that is a path
// beginning with "/", the port then unused) on the EventLoop that reports its events (connecting,
// connect, read, disconnect, error) to a LinkEvents sink, one at a time, never
// from inside a call the engine made. Errors carry Windows Sockets numbers.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/links.h"
#include "platform/posix/event_loop.h"
#include "wire/packet.h"

namespace kq {

class TcpClient : public ServerLink {
 public:
  // kMaxRead is the most one read event delivers.
  static constexpr std::size_t kMaxRead = kReadSize;
  // kSendStallMs is how long a send waits for a peer that takes no bytes at all.
  static constexpr int kSendStallMs = 60000;

  TcpClient(EventLoop& loop, LinkEvents& events);
  ~TcpClient() override;
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  void renew() override;
  void activate(const std::string& host, int port) override;
  void deactivate() override;
  bool isActive() override { return state_ == State::Connected; }
  // isConnecting is true while an attempt is under way.
  bool isConnecting() const { return state_ == State::Connecting; }
  // send completes short sends before it returns; a failure closes the
  // connection and is reported as an error event followed by a disconnect event.
  [[nodiscard]] bool send(std::string_view bytes) override;
  // fd is the socket of the connection (-1 without one).
  int fd() const { return fd_; }

 private:
  enum class State { Idle, Connecting, Connected };

  void startConnect();
  void onPoll(short revents);
  void finishConnect();
  void readWaiting();
  void closeSocket();
  // failConnected closes a broken connection and reports error + disconnect.
  void failConnected(int wsaCode);
  // postEvent runs event later unless the socket was renewed meanwhile.
  void postEvent(std::function<void()> event);
  [[nodiscard]] bool waitWritable(int timeoutMs);

  EventLoop& loop_;
  LinkEvents& events_;
  State state_ = State::Idle;
  int fd_ = -1;
  std::string host_;
  int port_ = 0;
  std::shared_ptr<int> generation_;  // shared with posted events; replaced by renew()
  std::vector<char> buffer_;
};

}  // namespace kq
