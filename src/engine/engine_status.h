#pragma once
// EngineStatus is what the engine tells the views about itself: the server
// link, the watcher link, the sync folder, the queues, the transfers under way,
// the items it refused or failed with their reasons, the last error and the
// end of the last server cycle. The engine publishes it through the
// EngineStatusPort at every StatusTimer tick; the status-bar panels, the
// status line and the state file are fed from it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kq {

struct TransferProgress {
  std::string file;  // relative to the sync folder, "/" separated, UTF-8
  std::int64_t bytesDone = 0;
  std::int64_t bytesTotal = 0;
  double bytesPerSecond = 0;  // 0 until a second sample
  bool operator==(const TransferProgress&) const = default;
};

struct FailedItem {
  std::string path;    // as the server or the sync folder names it
  std::string reason;  // why it was refused or failed
  bool operator==(const FailedItem&) const = default;
};

struct EngineStatus {
  bool connected = false;
  std::string server;  // HOST:PORT from the configuration
  bool watcherLinkUp = false;
  bool syncFolderPresent = true;
  int queuedModifications = 0;
  int queuedDeletions = 0;
  std::string activity;  // the activity panel's text ("Listening..." when idle)
  std::optional<TransferProgress> receiving;
  std::optional<TransferProgress> sending;
  // bytesLeft: what is left of the transfers under way plus the sizes of the
  // files queued to be sent ("MB left" while files move).
  std::int64_t bytesLeft = 0;
  std::vector<FailedItem> failedItems;  // oldest first, each path once
  std::string lastError;
  // diskFull: a received file did not fit on the disk, and none arrived whole since.
  bool diskFull = false;
  // refusal: why the server refused the link (contract and key), empty while it did not.
  std::string refusal;
  // refusalsInARow: the links in a row the server closed right after the init
  // text (it did not accept contract and key); 0 once it answered, or when the
  // configuration changed.
  int refusalsInARow = 0;
  std::optional<std::int64_t> cycleEndedAt;  // Unix seconds of the last completed server cycle
  bool operator==(const EngineStatus&) const = default;
};

class EngineStatusPort {
 public:
  virtual ~EngineStatusPort() = default;
  virtual void publish(const EngineStatus& status) = 0;
};

}  // namespace kq
