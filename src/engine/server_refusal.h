#pragma once
// ServerRefusal notices a server that closes the link right after the init
// text, before it sends anything: it did not accept the contract and the API
// key. Each such close is a refusal; from the third in a row on, the automatic
// connection attempts wait longer and longer (20 s, 40 s, ... up to 5 minutes)
// until the server answers or the configuration's host, port, contract or key
// change. A link the client closes itself is not a refusal.
#include <cstdint>
#include <string>

namespace kq {

class ServerRefusal {
 public:
  static constexpr int kSlowAfter = 3;                    // refusals in a row before the waits grow
  static constexpr std::int64_t kFirstWaitMs = 20'000;    // the first longer wait
  static constexpr std::int64_t kLongestWaitMs = 300'000; // the waits double up to this

  // onInitSent: the link is up and the init text for identity went out.
  void onInitSent(const std::string& identity);
  // onServerSpoke: bytes came from the server: it accepted the init text.
  void onServerSpoke();
  // onOwnClose: the client itself ends the link (a missing sync folder, the
  // Connect menu item): the close that follows is no refusal.
  void onOwnClose() { armed_ = false; }
  // onClosed: the link ended; true when this close is a refusal.
  bool onClosed(std::int64_t nowMs);
  // mayConnect: an automatic attempt for identity may start at nowMs. A new
  // identity (the configuration changed) forgets the refusals.
  bool mayConnect(const std::string& identity, std::int64_t nowMs);

  // refused: the last link ended in a refusal and nothing changed since.
  bool refused() const { return inARow_ > 0; }
  int inARow() const { return inARow_; }
  // waitMs is the pause before the next automatic attempt (0 while not slowed).
  std::int64_t waitMs() const;

 private:
  void forget();

  std::string identity_;
  bool armed_ = false;
  int inARow_ = 0;
  std::int64_t closedAtMs_ = 0;
};

// refusalText is the whole explanation: the log line, the tray's tip and balloon.
std::string refusalText(const std::string& contract);
// refusalPanelText is the short form for the connection panel.
std::string refusalPanelText(const std::string& contract);

}  // namespace kq
