#pragma once
// ClientNotices turns what the two links report into the headless client's
// clear messages, each written once to the standard error and to the log:
//
//   cannot reach HOST:PORT: connection refused (10061)
//       when a connection attempt fails; again only after a connection worked.
//   the server rejected contract N / API key
//       when the server closes the connection right after the init text
//       kRejectionsToGiveUp times in a row; the client then stops (exit 77).
//   zrservice is not running (127.0.0.1:11111): changes in the sync folder
//   are only found by the server's listings
//       when the watcher cannot be reached; again only after it was connected.
#include <functional>
#include <string>
#include <string_view>

#include "platform/links.h"

#include "log/log.h"

namespace kq {

class ClientNotices {
 public:
  static constexpr int kRejectionsToGiveUp = 3;
  static constexpr int kExitRejected = 77;

  struct Target {
    std::string host;      // as configured
    std::string port;      // as configured
    std::string contract;  // as configured
  };
  // show writes one message line to the standard error (the status line ends first).
  ClientNotices(Log& log, Target target, std::function<void(const std::string&)> show,
                std::function<void(int exitCode)> giveUp)
      : log_(log), target_(std::move(target)), show_(std::move(show)), giveUp_(std::move(giveUp)) {}

  void serverConnected();
  void serverRead();
  void serverDisconnected();
  void serverError(int wsaCode);
  void watcherConnected() { watcherWarned_ = false; }
  void watcherUnavailable();

  // serverEvents and watcherEvents hear the links' events (before the engine).
  LinkEvents& serverEvents() { return serverSink_; }
  LinkEvents& watcherEvents() { return watcherSink_; }

 private:
  struct ServerSink : LinkEvents {
    explicit ServerSink(ClientNotices& n) : n(n) {}
    void onConnect() override { n.serverConnected(); }
    void onRead(std::string_view) override { n.serverRead(); }
    void onDisconnect() override { n.serverDisconnected(); }
    void onError(int code) override { n.serverError(code); }
    ClientNotices& n;
  };
  struct WatcherSink : LinkEvents {
    explicit WatcherSink(ClientNotices& n) : n(n) {}
    void onConnect() override { n.watcherConnected(); }
    void onError(int) override { n.watcherUnavailable(); }
    ClientNotices& n;
  };
  void tell(const std::string& text);

  Log& log_;
  Target target_;
  std::function<void(const std::string&)> show_;
  std::function<void(int)> giveUp_;
  bool unreachableTold_ = false;
  bool connected_ = false;
  bool readSinceConnect_ = false;
  int rejections_ = 0;
  bool watcherWarned_ = false;
  ServerSink serverSink_{*this};
  WatcherSink watcherSink_{*this};
};

// socketErrorReason is the text for a Windows Sockets error number
// ("connection refused" for 10061), "socket error" for numbers without one.
std::string socketErrorReason(int wsaCode);

}  // namespace kq
