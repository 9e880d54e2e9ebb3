#include "ui/headless/client_notices.h"

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

void ClientNotices::tell(const std::string& text) {
  log_.writeLog(text, true);
  show_(text);
}

void ClientNotices::serverConnected() {
  connected_ = true;
  readSinceConnect_ = false;
}

void ClientNotices::serverRead() {
  readSinceConnect_ = true;
  rejections_ = 0;
  unreachableTold_ = false;
}

void ClientNotices::serverDisconnected() {
  if (!connected_) return;
  connected_ = false;
  if (readSinceConnect_) return;
  if (++rejections_ < kRejectionsToGiveUp) return;
  tell("the server rejected contract " + target_.contract + " / API key");
  giveUp_(kExitRejected);
}

void ClientNotices::serverError(int wsaCode) {
  // An error on an open connection ends it: it counts as a close.
  if (connected_) return serverDisconnected();
  if (unreachableTold_) return;
  unreachableTold_ = true;
  tell("cannot reach " + target_.host + ":" + target_.port + ": " + socketErrorReason(wsaCode) + " (" +
       std::to_string(wsaCode) + ")");
}

void ClientNotices::watcherUnavailable() {
  if (watcherWarned_) return;
  watcherWarned_ = true;
  tell("zrservice is not running (127.0.0.1:11111): changes in the sync folder are only found by the server's "
       "listings");
}

}  // namespace kq
