#pragma once
// ClientNotices turns what the two links and the engine's status report into
// the headless client's messages on the standard error: one line for each
// change of state a user cares about, so that a journal tells the story.
//
//   connected to HOST:PORT
//       when the server answered the init text (again after a disconnection).
//   disconnected from HOST:PORT: the server closed the connection
//   disconnected from HOST:PORT: connection reset (10054)
//       when a working connection ends.
//   cannot reach HOST:PORT: connection refused (10061)
//       when a connection attempt fails; again only after a connection worked.
//       A refused or unreachable port adds the hint that the contract may be
//       wrong ("is contract N right? the server derives the port 2N").
//   the server rejected contract N / API key
//       when the engine's status counts kRejectionsToGiveUp refusals in a row
//       (the server closed the connection right after the init text); the
//       client then stops (exit 77).
//   zrservice is not running (127.0.0.1:11111): changes in the sync folder
//   are only found by the server's listings
//       when the watcher cannot be reached; again only after it was connected.
//       The address is the user's watcher address (a port, or a socket path).
//   zrservice is running again (127.0.0.1:11111)
//       when the watcher is reached after that warning.
//   refused the watcher at 127.0.0.1:11111: it runs as another user (uid N)
//       when what answers at the address belongs to another user; once until
//       the user's own watcher was connected.
//   sync folder not found: PATH / sync folder found again: PATH
//   not synchronised: NAME (REASON)
//       each failed item the first time it is seen.
//   cycle completed
//       (verbose only) at the end of each server cycle.
//
// Quiet shows only the lines of a client that stops. The messages of the links
// go to the log as well; those taken from the status were logged by the engine.
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "engine/engine_status.h"
#include "platform/links.h"

#include "log/log.h"

namespace kq {

class ClientNotices {
 public:
  static constexpr int kRejectionsToGiveUp = 3;
  static constexpr int kExitRejected = 77;
  enum class Verbosity { Quiet, Normal, Verbose };

  struct Target {
    std::string host;      // as configured
    std::string port;      // as configured
    std::string contract;  // as configured
    std::string syncFolder;  // native, as the user knows it
    std::string watcher = "127.0.0.1:11111";  // the watcher's address, as messages show it
  };
  // show writes one message line to the standard error (the status line ends first).
  ClientNotices(Log& log, Target target, std::function<void(const std::string&)> show,
                std::function<void(int exitCode)> giveUp, Verbosity verbosity = Verbosity::Normal)
      : log_(log), target_(std::move(target)), show_(std::move(show)), giveUp_(std::move(giveUp)),
        verbosity_(verbosity) {}

  void serverConnected();
  void serverRead();
  void serverDisconnected();
  void serverError(int wsaCode);
  void watcherConnected();
  void watcherUnavailable();
  // watcherForeign: a watcher of another user answered (owner: its uid, when known).
  void watcherForeign(std::optional<long> owner);
  // statusChanged hears each status record the engine publishes.
  void statusChanged(const EngineStatus& status);
  // stopping tells a reason the client stops for (shown even when quiet).
  void stopping(const std::string& text) { tell(text, Verbosity::Quiet); }

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
  // tell logs text and shows it when the verbosity reaches level.
  void tell(const std::string& text, Verbosity level = Verbosity::Normal);
  // say shows text without logging it.
  void say(const std::string& text, Verbosity level = Verbosity::Normal);
  void connectionEnded(const std::string& reason);
  std::string server() const { return target_.host + ":" + target_.port; }

  Log& log_;
  Target target_;
  std::function<void(const std::string&)> show_;
  std::function<void(int)> giveUp_;
  Verbosity verbosity_;
  bool unreachableTold_ = false;
  bool connected_ = false;
  bool readSinceConnect_ = false;
  bool toldConnected_ = false;
  bool gaveUp_ = false;
  bool watcherWarned_ = false;
  bool foreignTold_ = false;
  std::optional<bool> folderPresent_;
  std::optional<std::int64_t> cycleEndedAt_;
  std::set<std::string> failedSeen_;
  ServerSink serverSink_{*this};
  WatcherSink watcherSink_{*this};
};

// socketErrorReason is the text for a Windows Sockets error number
// ("connection refused" for 10061), "socket error" for numbers without one.
std::string socketErrorReason(int wsaCode);

// contractHint is the hint for a port derived from the contract: "is contract
// 1234 right? the server derives the port 21234"; empty when port is not "2" + contract.
std::string contractHint(const std::string& contract, const std::string& port);

}  // namespace kq
