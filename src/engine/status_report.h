#pragma once
// StatusReport gathers the engine's status record from the subsystems that
// hold each part and hands it to the EngineStatusPort. The rate of a running
// transfer is measured between the samples taken at each publication.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_ports.h"
#include "engine/engine_status.h"
#include "engine/failed_items.h"
#include "engine/queued_bytes.h"
#include "engine/transfer_meter.h"

namespace kq {

class ChangeTracker;
class FileReceiver;
class SyncFolderMonitor;
struct ProtocolState;

// shownName is a file of the sync folder as the user knows it: "docs/big.iso".
std::string shownName(const std::string& localPath, const std::string& syncFolder);

// shownServerPath is a server path value as the handlers receive it (JSON
// text, "\/docs\/r\u00e9sum\u00e9.txt") in UTF-8: "/docs/résumé.txt".
std::string shownServerPath(std::string_view value);

// shownUnsyncedName is a local name the client cannot synchronise, as the
// walk reports it (the name in the log's display form), in UTF-8 below the
// sync folder: below the folder Z:\S, the walked entry docs\ + \u65e5.txt gives "docs/日.txt".
std::string shownUnsyncedName(const std::string& localPath, const std::string& syncFolder);

class StatusReport {
 public:
  struct Sources {
    EnginePorts& ports;
    EngineStatusPort& out;
    const ProtocolState& protocol;
    const ChangeTracker& tracker;
    const SyncFolderMonitor& syncFolder;
    const FileReceiver& receiver;
    const FailedItems& failed;
    const std::string& activity;  // the activity panel's text
  };
  explicit StatusReport(Sources sources) : s_(sources), queuedBytes_(sources.ports.fs) {}

  void noteError(const std::string& text) { lastError_ = text; }
  void onCycleEnded() { cycleEndedAt_ = s_.ports.clock.epochMillis() / 1000; }
  // onSendProgress follows a file being sent; while the send holds the event,
  // the record is published from here at most once per kStatusMs.
  void onSendProgress(const std::string& path, std::uint64_t done, std::uint64_t total);
  // endOfReadEvent: a send lasts one read event at most.
  void endOfReadEvent() {
    sending_.reset();
    sendingPath_.clear();
    sendMeter_.reset();
  }
  // publish hands the current record to the port.
  void publish();
  EngineStatus current();

 private:
  std::optional<TransferProgress> receiving();
  // failedItems are the refused server paths, the files that failed on the
  // disk and the local names that cannot be synchronised, each as "/" + its
  // path in the sync folder.
  std::vector<FailedItem> failedItems() const;
  // bytesLeft: the rest of the transfers under way and the queued files.
  std::int64_t bytesLeft(const EngineStatus& status);

  Sources s_;
  TransferMeter receiveMeter_;
  TransferMeter sendMeter_;
  std::optional<TransferProgress> sending_;
  std::string sendingPath_;  // local path of the file being sent
  QueuedBytes queuedBytes_;
  std::int64_t publishedAtMs_ = 0;
  std::string lastError_;
  std::optional<std::int64_t> cycleEndedAt_;
};

}  // namespace kq
