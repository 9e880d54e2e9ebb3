#pragma once
// The running client's state for "kqfilesync status": ClientState is what it
// publishes, written atomically (a temporary file renamed over the old one) to
// its state file outside the sync folder (state_location.h), so that reading
// it needs no connection to the client and works while the folder is missing.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine_status.h"
#include "engine/status_text.h"

namespace kq {


struct ClientState {
  long pid = 0;
  bool connected = false;
  std::string server;      // HOST:PORT
  std::string contract;
  std::string syncFolder;  // real path
  std::optional<std::int64_t> lastCycleEnd;  // Unix seconds of the last completed cycle
  int queuedModifications = 0;
  int queuedDeletions = 0;
  int failedItems = 0;     // how many items failed
  std::vector<FailedItem> failed;  // each with its reason
  bool watcherConnected = false;
  bool syncFolderPresent = true;
  bool syncFolderLocked = false;  // this client holds the folder's lock
  std::string lastError;
  // refusalsInARow: connections in a row the server closed right after the
  // contract and API key (the client stops at the third).
  int refusalsInARow = 0;
  std::string activity;    // what the client does now ("Receiving file data..."), empty when idle
  std::optional<TransferProgress> transfer;  // the file being received
  std::optional<TransferProgress> sending;   // the file being sent
  std::int64_t updated = 0;  // Unix seconds
};

// stateJson and stateFromJson are the file's text and its reading (nullopt
// for a text that is not a state).
std::string stateJson(const ClientState& state);
std::optional<ClientState> stateFromJson(const std::string& text);

// writeStateFile writes atomically; false when the file could not be written.
[[nodiscard]] bool writeStateFile(const std::string& path, const std::string& text);

// statusText is the human-readable "kqfilesync status" report; running false
// when no client holds the folder now (the state is then the last one published).
std::string statusText(const ClientState& state, bool running);
std::string statusJson(const ClientState& state, bool running);

// failedText lists the failed items, one "NAME: REASON" line each;
// failedJson is the same as a JSON array of {"path", "reason"}.
std::string failedText(const ClientState& state);
std::string failedListJson(const ClientState& state);


}  // namespace kq
