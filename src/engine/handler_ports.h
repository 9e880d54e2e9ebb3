#pragma once
// HandlerPorts is what the server-request handlers of file transfer and file
// operations act through: the engine's ports, the shared protocol state, the
// change tracker's echo lists, and three small lookups the engine wires to the
// configuration and the exception filter (so the handlers stay testable alone).
#include <functional>
#include <string>

#include "log/log.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/links.h"
#include "platform/process_runner.h"
#include "platform/views.h"
#include "protocol/request_handler.h"
#include "tracking/change_tracker.h"

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
};

}  // namespace kq
