#include "engine/sync_engine.h"

namespace kq {

SyncEngine::SyncEngine(EnginePorts ports)
    : ports_(ports),
      filter_(ports.fs),
      tracker_(ports.log, ports.status, filter_, ports.fs),
      dispatcher_(protocol_, ports.server, ports.log),
      connection_(protocol_, dispatcher_, ports.server, ports.config, ports.ini, ports.fs,
                  ports.status, ports.log, ports.errors),
      changeReport_(protocol_, tracker_, ports.config, ports.fs, ports.clock, ports.status,
                    ports.server, ports.log),
      cycleEnd_(protocol_, tracker_, ports.config, ports.ini, dispatcher_),
      watcherMessages_(ports.log,
                       [this](int action, const std::string& path) {
                         tracker_.handleWatcherChange(action, path);
                       }),
      changeTimer_(tracker_, ports.watcher, ports.server, ports.config, ports.status, ports.log,
                   ports.errors),
      forcedSync_(tracker_, filter_, ports.folders, ports.dialogs, ports.fs, ports.log),
      handlerPorts_{ports.server, ports.fs, ports.log, ports.status, ports.folders, ports.ini,
                    ports.clock, ports.processes, protocol_, tracker_,
                    [this] { return ports_.config.syncFolder(); },
                    [this] { return ports_.config.settingsPath(); },
                    [this](const std::string& path) { return filter_.isExcluded(path); }},
      fileReceiver_(handlerPorts_),
      fileRequests_(handlerPorts_),
      logRequests_(handlerPorts_),
      folderListing_(handlerPorts_),
      serverDelete_(handlerPorts_),
      serverMove_(handlerPorts_) {
  dispatcher_.setHandler(kRQCHG, &changeReport_);
  dispatcher_.setHandler(kRQFLS, &cycleEnd_);
  dispatcher_.setHandler(kRQFIL, &fileRequests_);
  dispatcher_.setHandler(kRQPUT, &fileReceiver_);
  dispatcher_.setHandler(kRQDEL, &serverDelete_);
  dispatcher_.setHandler(kRQMOV, &serverMove_);
  dispatcher_.setHandler(kRQLOG, &logRequests_);
  dispatcher_.setHandler(kRQLST, &folderListing_);
  dispatcher_.setReceiver(&fileReceiver_);
  dispatcher_.addObserver(changeReport_);
}

}  // namespace kq
