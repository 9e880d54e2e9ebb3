#pragma once
// HandlerPorts is what the server-request handlers of file transfer and file
// operations act through: the engine's ports, the shared protocol state, the
// change tracker's echo lists, and three small lookups the engine wires to the
// configuration and the exception filter (so the handlers stay testable alone).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/failed_items.h"
#include "log/log.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/links.h"
#include "platform/process_runner.h"
#include "platform/views.h"
#include "protocol/request_handler.h"
#include "tracking/change_tracker.h"
#include "transfer/server_path.h"

namespace kq {

struct HandlerPorts {
  ServerLink& server;
  FileSystem& fs;
  Log& log;
  StatusView& status;
  FolderView& folders;
  IniFile& ini;
  Clock& clock;
  ProcessRunner& processes;
  ProtocolState& protocol;
  ChangeTracker& tracker;
  // syncFolder is syncFolderPath of the configuration (no trailing separator).
  std::function<std::string()> syncFolder;
  // settingsPath is "Filesync.ini" built from the sync folder field.
  std::function<std::string()> settingsPath;
  // isExcluded is the exception filter's test.
  std::function<bool(const std::string&)> isExcluded;
  // failed records what the handlers refuse or fail, for the status; may be null.
  FailedItems* failed = nullptr;
  // sendProgress hears how many bytes of a file were sent (done == total: the
  // send is over); may be empty.
  std::function<void(const std::string& path, std::uint64_t done, std::uint64_t total)> sendProgress;
};

// refuse logs a refused server path with its reason and records it as failed.
inline void refuse(HandlerPorts& p, std::string_view value, const LocalPath& local) {
  logRefusal(p.log, value, local);
  if (p.failed) p.failed->add(std::string(value), local.refusal);
}

// fail records path as failed with reason (the caller logs its own line).
inline void fail(HandlerPorts& p, const std::string& path, const std::string& reason) {
  if (p.failed) p.failed->add(path, reason);
}

// received records that path arrived whole.
inline void received(HandlerPorts& p, const std::string& path) {
  if (p.failed) p.failed->received(path);
}

}  // namespace kq
