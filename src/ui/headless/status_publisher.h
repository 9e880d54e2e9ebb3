#pragma once
// StatePublisher follows what the headless client shows (status panels, the
// Connect caption, log lines) and keeps the state file of "kqfilesync status"
// up to date: publish() writes it when something changed.
//
// Panel 0 is the host or "Disconnected", panel 1 the activity ("Listening..."
// is idle), panels 2 and 3 "MOD: n" and "DEL: n", set when a server cycle
// ends. A log line "Refused server path NAME: ..." counts NAME as failed, once.
#include <cstdint>
#include <set>
#include <string>

#include "ui/headless/status_file.h"

namespace kq {

class StatePublisher {
 public:
  static constexpr std::size_t kMaxFailedNames = 10000;

  StatePublisher(ClientState initial, std::string path) : state_(std::move(initial)), path_(std::move(path)) {}

  void onPanel(int index, const std::string& text, std::int64_t nowSeconds);
  void onCaption(const std::string& caption);
  void onLogLine(const std::string& line);
  void setTransfer(const std::optional<TransferProgress>& transfer);

  // publish writes the state file when the state changed since the last write
  // (or the last write failed).
  void publish(std::int64_t nowSeconds);
  const ClientState& state() const { return state_; }

 private:
  ClientState state_;
  std::string path_;
  std::set<std::string> failedNames_;
  bool dirty_ = true;
};

}  // namespace kq
