#pragma once
// EnginePorts bundles every port the engine acts through. The platform layer
// (or a test) owns the implementations; the engine only holds references.
#include "config/config_store.h"
#include "engine/engine_status.h"
#include "log/log.h"
#include "platform/clock.h"
#include "platform/error_reporter.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/links.h"
#include "platform/process_runner.h"
#include "platform/views.h"

namespace kq {

struct EnginePorts {
  ServerLink& server;
  WatcherLink& watcher;
  FileSystem& fs;
  Clock& clock;
  IniFile& ini;
  StatusView& status;
  FolderView& folders;
  Dialogs& dialogs;
  ProcessRunner& processes;
  ConfigStore& config;
  Log& log;
  ErrorReporter& errors;
  EngineStatusPort& published;  // where the engine's status record goes
};

}  // namespace kq
