#pragma once
// StatePublisher is the headless client's EngineStatusPort: it keeps the state
// of "kqfilesync status" from the engine's status records and writes the state
// file when the state changed (and again after a write that failed).
#include <cstdint>
#include <functional>
#include <string>

#include "engine/engine_status.h"
#include "ui/headless/status_file.h"

namespace kq {

class StatePublisher : public EngineStatusPort {
 public:
  // now gives Unix seconds for the "updated" field.
  StatePublisher(ClientState initial, std::string path, std::function<std::int64_t()> now)
      : state_(std::move(initial)), path_(std::move(path)), now_(std::move(now)) {}

  void publish(const EngineStatus& status) override;
  // setFolderLocked records whether this client holds the sync folder's lock
  // (written with the next record).
  void setFolderLocked(bool locked) { folderLocked_ = locked; }
  // stopped records that the client ends: no connection, no transfer.
  void stopped();
  const ClientState& state() const { return state_; }

 private:
  void write();

  ClientState state_;
  std::string path_;
  std::function<std::int64_t()> now_;
  bool dirty_ = true;
  bool folderLocked_ = false;
};

// ClientState::fromStatus: the fields of the state file the engine's record gives.
void applyStatus(ClientState& state, const EngineStatus& status);

}  // namespace kq
