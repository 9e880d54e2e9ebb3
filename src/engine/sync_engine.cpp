#include "engine/sync_engine.h"


namespace kq {

SyncEngine::SyncEngine(EnginePorts ports)
    : ports_(ports),
      shown_(ports.status),
      stamped_(ports.published),
      errors_(ports.errors, [this](const std::string& text) { statusReport_.noteError(text); }),
      settingsIni_(ports.ini, ports.fs, ports.log),
      filter_(ports.fs, &ports.log),
      tracker_(ports.log, shown_, filter_, ports.fs),
      syncFolder_(ports.fs, ports.config, tracker_, ports.server, shown_, ports.log),
      knownFiles_(ports.fs, ports.log, filter_, tracker_),
      dispatcher_(protocol_, ports.server, ports.log),
      connection_(protocol_, dispatcher_, ports.server, ports.config, settingsIni_, ports.fs,
                  shown_, ports.log, errors_, ports.clock),
      changeReport_(protocol_, tracker_, ports.config, ports.fs, ports.clock, shown_,
                    ports.server, ports.log),
      cycleEnd_(protocol_, tracker_, ports.config, settingsIni_, dispatcher_),
      cycleEndWatch_(cycleEnd_,
                     [this] {
                       knownFilesKeeper_.onCycleEnded();
                       statusReport_.onCycleEnded();
                     }),
      watcherMessages_(ports.log,
                       [this](int action, const std::string& path) {
                         tracker_.handleWatcherChange(action, path);
                       },
                       [this](const WatcherNotification& report) {
                         return checkWatcherReport(ports_.fs, ports_.config.syncFolder(), report);
                       }),
      changeTimer_(tracker_, ports.watcher, ports.server, ports.config, shown_, ports.log,
                   errors_),
      forcedSync_(tracker_, filter_, ports.folders, ports.dialogs, ports.fs, ports.log),
      guardedFs_(ports.fs, [this] { return ports_.config.syncFolder(); }),
      handlerPorts_{ports.server, guardedFs_, ports.log, shown_, ports.folders, settingsIni_,
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
      statusReport_({ports_, stamped_, protocol_, tracker_, syncFolder_, fileReceiver_, failed_, shown_.activity}) {
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
  dispatcher_.addObserver(serverMove_);  // a move's deferred answer goes before the next request's
  // A watcher that lost reports: the folder is compared with the known files.
  tracker_.isSyncFolder = [this](const std::string& path) { return path == ports_.config.syncFolder(); };
  tracker_.onFullLookWanted = [this] { (void)knownFiles_.findChanges(ports_.config.syncFolder()); };
}

void SyncEngine::start() {
  fileReceiver_.removeLeftovers();
  knownFilesKeeper_.atStart();
  statusReport_.publish();
}

std::string SyncEngine::linkIdentity() const {
  const ConfigFields& f = ports_.config.fields;
  return f.host + '\n' + f.port + '\n' + f.protocol + '\n' + f.contract + '\n' + f.apiKey;
}

void SyncEngine::FilesyncSocketConnect() {
  connection_.FilesyncSocketConnect();
  // A link closed at once by the client itself (no sync folder) is no refusal.
  if (ports_.server.isActive()) refusal_.onInitSent(linkIdentity());
}

void SyncEngine::noteServerSpoke() {
  const bool wasRefused = refusal_.refused();
  refusal_.onServerSpoke();
  if (wasRefused) showRefusal(false);
}

void SyncEngine::FilesyncSocketDisconnect() {
  const bool refused = refusal_.onClosed(ports_.clock.epochMillis());
  if (refused) {
    ports_.log.writeLog(refusalText(ports_.config.fields.contract), true);
    if (refusal_.waitMs() > 0)
      ports_.log.writeLog("Refused " + std::to_string(refusal_.inARow()) + " times in a row: next attempt in " +
                              std::to_string(refusal_.waitMs() / 1000) + " s",
                          true);
    showRefusal(true);
  }
  connection_.FilesyncSocketDisconnect();
  if (refused) statusReport_.publish();  // each refusal is told at once
}

void SyncEngine::ReconnectTimer() {
  if (!syncFolder_.check()) return;
  if (refusal_.refused()) {
    try {
      ports_.config.reload();  // a new key or contract ends the wait
    } catch (const std::exception&) {
    }
  }
  const bool may = refusal_.mayConnect(linkIdentity(), ports_.clock.epochMillis());
  if (!refusal_.refused()) showRefusal(false);
  const bool wasActive = ports_.server.isActive();
  if (may) connection_.ReconnectTimer();
  // A silent link that the client closed itself is no refusal.
  if (wasActive && !ports_.server.isActive()) refusal_.onOwnClose();
}

void SyncEngine::showRefusal(bool refused) {
  const std::string& contract = ports_.config.fields.contract;
  shown_.refusal = refused ? refusalPanelText(contract) : std::string();
  stamped_.refusal = refused ? refusalText(contract) : std::string();
  stamped_.refusalsInARow = refusal_.inARow();
  if (refused) shown_.setPanel(0, "Disconnected");
}

void SyncEngine::StatusTimer() {
  serverMove_.tick();
  knownFilesKeeper_.tick();
  statusReport_.publish();
}

}  // namespace kq
