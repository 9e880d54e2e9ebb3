#include "ui/headless/client_notices.h"

#include "platform/codepage.h"

namespace kq {

std::string socketErrorReason(int wsaCode) {
  switch (wsaCode) {
    case 10061: return "connection refused";
    case 10060: return "connection timed out";
    case 10054: return "connection reset";
    case 10050: return "network is down";
    case 10051: return "network is unreachable";
    case 10064: return "host is down";
    case 10065: return "no route to host";
    case 11001: return "host not found";
    case 11002: return "temporary failure in name resolution";
    case 11003: return "name resolution failed";
    case 11004: return "host has no address";
    default: return "socket error";
  }
}

std::string contractHint(const std::string& contract, const std::string& port) {
  if (contract.empty() || port != "2" + contract) return {};
  return "is contract " + contract + " right? the server derives the port " + port;
}

void ClientNotices::say(const std::string& text, Verbosity level) {
  if (static_cast<int>(verbosity_) >= static_cast<int>(level)) show_(text);
}

void ClientNotices::tell(const std::string& text, Verbosity level) {
  log_.writeLog(utf8ToLocal(text), true);  // the log takes local text
  say(text, level);
}

void ClientNotices::serverConnected() {
  connected_ = true;
  readSinceConnect_ = false;
}

void ClientNotices::serverRead() {
  if (!readSinceConnect_ && !toldConnected_) {
    toldConnected_ = true;
    tell("connected to " + server());
  }
  readSinceConnect_ = true;
  unreachableTold_ = false;
}

void ClientNotices::connectionEnded(const std::string& reason) {
  connected_ = false;
  if (!readSinceConnect_) return;  // a refusal: the engine counts it (statusChanged)
  if (toldConnected_) tell("disconnected from " + server() + ": " + reason);
  toldConnected_ = false;
}

void ClientNotices::serverDisconnected() {
  if (!connected_) return;
  connectionEnded("the server closed the connection");
}

void ClientNotices::serverError(int wsaCode) {
  const std::string reason = socketErrorReason(wsaCode) + " (" + std::to_string(wsaCode) + ")";
  // An error on an open connection ends it.
  if (connected_) return connectionEnded(reason);
  if (unreachableTold_) return;
  unreachableTold_ = true;
  std::string text = "cannot reach " + server() + ": " + reason;
  // A refused port is where a wrong contract number leads.
  if (std::string hint = contractHint(target_.contract, target_.port); wsaCode == 10061 && !hint.empty())
    text += "; " + hint;
  tell(text);
}

void ClientNotices::watcherConnected() {
  foreignTold_ = false;
  if (!watcherWarned_) return;
  watcherWarned_ = false;
  tell("zrservice is running again (" + target_.watcher + ")");
}

void ClientNotices::watcherUnavailable() {
  if (watcherWarned_) return;
  watcherWarned_ = true;
  tell("zrservice is not running (" + target_.watcher + "): changes in the sync folder are only found by the "
       "server's listings");
}

void ClientNotices::watcherForeign(std::optional<long> owner) {
  if (foreignTold_) return;
  foreignTold_ = true;
  tell("refused the watcher at " + target_.watcher + ": it runs as another user (" +
       (owner ? "uid " + std::to_string(*owner) : std::string("its owner is unknown")) + ")");
}

void ClientNotices::statusChanged(const EngineStatus& s) {
  if (s.refusalsInARow >= kRejectionsToGiveUp && !gaveUp_) {
    gaveUp_ = true;
    std::string text = "the server rejected contract " + target_.contract + " / API key";
    if (std::string hint = contractHint(target_.contract, target_.port); !hint.empty()) text += "; " + hint;
    tell(text, Verbosity::Quiet);
    giveUp_(kExitRejected);
    return;
  }
  if (folderPresent_ && *folderPresent_ != s.syncFolderPresent)
    say((s.syncFolderPresent ? "sync folder found again: " : "sync folder not found: ") + target_.syncFolder);
  else if (!folderPresent_ && !s.syncFolderPresent)
    say("sync folder not found: " + target_.syncFolder);
  folderPresent_ = s.syncFolderPresent;
  for (const FailedItem& item : s.failedItems)
    if (failedSeen_.insert(item.path).second) say("not synchronised: " + item.path + " (" + item.reason + ")");
  if (s.cycleEndedAt && s.cycleEndedAt != cycleEndedAt_) say("cycle completed", Verbosity::Verbose);
  cycleEndedAt_ = s.cycleEndedAt;
}

}  // namespace kq
