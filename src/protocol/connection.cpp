#include "protocol/connection.h"

#include "config/config_store.h"
#include "config/settings.h"
#include "log/log.h"
#include "engine/timer_schedule.h"
#include "platform/clock.h"
#include "platform/error_reporter.h"
#include "platform/links.h"
#include "platform/views.h"
#include "protocol/dispatcher.h"

namespace kq {

int parsePort(const std::string& text) {
  auto first = text.find_first_not_of(' ');
  auto last = text.find_last_not_of(' ');
  if (first == std::string::npos) throw ConfigError("Port is empty");
  std::string digits = text.substr(first, last - first + 1);
  if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
    throw ConfigError("Port is not a number: " + text);
  }
  int port = std::stoi(digits);
  if (port < 1 || port > 65535) throw ConfigError("Port out of range: " + text);
  return port;
}

void ServerConnection::ReconnectTimer() {
  if (!reconnectEnabled_) return;
  try {
    if (server_.isActive()) {
      std::int64_t seconds = 0;
      if (!silentTooLong(seconds)) return;
      log_.writeLog("No data from Korvalinq Server for " + std::to_string(seconds) +
                        " s: the connection is taken for dead and made anew",
                    true);
      server_.deactivate();  // the disconnect event follows; the next tick connects
      return;
    }
    log_.writeLog("Auto connecting to Korvalinq Server...", true);
    noteHeard();  // the silence of a link counts from its attempt at the latest
    server_.renew();
    config_.reload();
    server_.activate(config_.main.host, parsePort(config_.main.port));
  } catch (...) {
    // The next tick tries again.
  }
}

bool ServerConnection::silentTooLong(std::int64_t& seconds) {
  if (inReadEvent_) return false;
  std::int64_t now = clock_.epochMillis();
  // A clock set back must not stretch the deadline: count from now instead.
  if (now < heardAtMs_) heardAtMs_ = now;
  seconds = (now - heardAtMs_) / 1000;
  return now - heardAtMs_ >= timers::kServerSilenceMs;
}

void ServerConnection::noteHeard() { heardAtMs_ = clock_.epochMillis(); }

void ServerConnection::readEventBegins() {
  inReadEvent_ = true;
  noteHeard();
}

void ServerConnection::readEventEnds() {
  inReadEvent_ = false;
  noteHeard();
}

void ServerConnection::FilesyncSocketConnecting() {
  log_.writeLog("Connecting to Korvalinq Server...", true);
}

void ServerConnection::FilesyncSocketConnect() {
  noteHeard();
  try {
    if (readInitialSync(ini_, config_.settingsPath()) != 0) state_.initialSyncDone = true;
    status_.setConnectCaption("Disconnect");
    log_.writeLog("Connected to Korvalinq Server!", true);
    status_.setPanel(0, config_.fields.host);
    sendInitText();
    connect();
    prepareWorkingPath();
  } catch (...) {
    log_.writeLog("Error: FilesyncSocketConnect()", true);
  }
}

void ServerConnection::sendInitText() {
  const ConfigFields& f = config_.fields;
  std::string init = "KQFILESYNC" + f.protocol + f.contract + f.apiKey;
  log_.writeLog("Sending init packet...", true);
  hexDump(init, 16, false, &log_);
  if (!server_.send(init)) throw std::runtime_error("the init text was not sent");
}

// connect re-reads the configuration and activates the link with the Host and
// Port fields; an active link refuses other values (LinkError).
void ServerConnection::connect() {
  config_.reload();
  server_.activate(config_.fields.host, parsePort(config_.fields.port));
}

void ServerConnection::prepareWorkingPath() {
  std::string folder = config_.syncFolder();
  if (!fs_.isFolder(folder)) {
    // A missing sync folder is not made anew (empty, it would read as every file deleted).
    log_.writeLog("Sync folder not found: " + folder, true);
    server_.deactivate();
    return;
  }
  log_.writeLog("Working path: " + folder, true);
}

void ServerConnection::FilesyncSocketDisconnect() {
  try {
    status_.setConnectCaption("Connect");
    log_.writeLog("Disconnected", true);
    status_.setPanel(0, "Disconnected");
    dispatcher_.onConnectionClosed();
  } catch (...) {
    log_.writeLog("Error: FilesyncSocketDisconnect()", true);
  }
}

void ServerConnection::FilesyncSocketError(int code) {
  try {
    log_.writeLog("Client socket error! Code: " + std::to_string(code), true);
    server_.deactivate();
    reconnectEnabled_ = true;
    errors_.reportError("Socket Error # " + std::to_string(code));
  } catch (...) {
    reconnectEnabled_ = true;
    log_.writeLog("Error: FilesyncSocketError()", true);
  }
}

void ServerConnection::Connect1Click() {
  try {
    if (server_.isActive()) {
      server_.deactivate();
      reconnectEnabled_ = false;
      return;
    }
    reconnectEnabled_ = true;
    noteHeard();
    connect();
  } catch (...) {
    log_.writeLog("Error: Connect1Click()", true);
  }
}

}  // namespace kq
