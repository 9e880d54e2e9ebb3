#include "engine/sync_engine.h"

namespace kq {

SyncEngine::SyncEngine(EnginePorts ports)
    : ports_(ports),
      shown_(ports.status),
      errors_(ports.errors, [this](const std::string& text) { statusReport_.noteError(text); }),
      filter_(ports.fs),
      tracker_(ports.log, shown_, filter_, ports.fs),
      syncFolder_(ports.fs, ports.config, tracker_, ports.server, shown_, ports.log),
      knownFiles_(ports.fs, ports.log, filter_, tracker_),
      dispatcher_(protocol_, ports.server, ports.log),
      connection_(protocol_, dispatcher_, ports.server, ports.config, ports.ini, ports.fs,
                  shown_, ports.log, errors_, ports.clock),
      changeReport_(protocol_, tracker_, ports.config, ports.fs, ports.clock, shown_,
                    ports.server, ports.log),
      cycleEnd_(protocol_, tracker_, ports.config, ports.ini, dispatcher_),
      cycleEndWatch_(cycleEnd_,
                     [this] {
                       knownFilesKeeper_.onCycleEnded();
                       statusReport_.onCycleEnded();
                     }),
      watcherMessages_(ports.log,
                       [this](int action, const std::string& path) {
                         tracker_.handleWatcherChange(action, path);
                       }),
      changeTimer_(tracker_, ports.watcher, ports.server, ports.config, shown_, ports.log,
                   errors_),
      forcedSync_(tracker_, filter_, ports.folders, ports.dialogs, ports.fs, ports.log),
      guardedFs_(ports.fs, [this] { return ports_.config.syncFolder(); }),
      handlerPorts_{ports.server, guardedFs_, ports.log, shown_, ports.folders, ports.ini,
                    ports.clock, ports.processes, protocol_, tracker_,
                    [this] { return ports_.config.syncFolder(); },
                    [this] { return ports_.config.settingsPath(); },
                    [this](const std::string& path) { return filter_.isExcluded(path); },
                    &failed_,
                    [this](const std::string& path, std::uint64_t done, std::uint64_t total) {
                      statusReport_.onSendProgress(path, done, total);
                    }},
      fileReceiver_(handlerPorts_),
      fileRequests_(handlerPorts_),
      logRequests_(handlerPorts_),
      folderListing_(handlerPorts_),
      serverDelete_(handlerPorts_),
      serverMove_(handlerPorts_),
      knownFilesKeeper_(knownFiles_, tracker_, ports.clock, ports.log, [this] { return ports_.config.syncFolder(); }),
      statusReport_({ports_, ports.published, protocol_, tracker_, syncFolder_, fileReceiver_, failed_, shown_.activity}) {
  // The request handlers, one row per request type.
  const struct {
    int code;
    RequestHandler* handler;
  } handlers[] = {
      {kRQCHG, &changeReport_},  {kRQFLS, &cycleEndWatch_}, {kRQFIL, &fileRequests_},
      {kRQPUT, &fileReceiver_},  {kRQDEL, &serverDelete_},  {kRQMOV, &serverMove_},
      {kRQLOG, &logRequests_},   {kRQLST, &folderListing_},
  };
  for (const auto& row : handlers) dispatcher_.setHandler(row.code, row.handler);
  dispatcher_.setReceiver(&fileReceiver_);
  dispatcher_.addObserver(changeReport_);
  // A watcher that lost reports: the folder is compared with the known files.
  tracker_.isSyncFolder = [this](const std::string& path) { return path == ports_.config.syncFolder(); };
  tracker_.onFullLookWanted = [this] { (void)knownFiles_.findChanges(ports_.config.syncFolder()); };
}

void SyncEngine::start() {
  fileReceiver_.removeLeftovers();
  knownFilesKeeper_.atStart();
  statusReport_.publish();
}

void SyncEngine::StatusTimer() {
  knownFilesKeeper_.tick();
  statusReport_.publish();
}

}  // namespace kq
