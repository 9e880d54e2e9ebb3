#include "engine/engine_events.h"

#include "engine/sync_engine.h"
#include "log/log.h"

namespace kq {

EngineEvents::EngineEvents(SyncEngine& engine, Log& log) : engine_(engine), log_(log) {
  server_.owner = this;
  watcher_.owner = this;
}

void EngineEvents::failed(const char* name, const std::string& text) noexcept {
  try {
    const std::string line = std::string("Error in ") + name + "(): " + text;
    engine_.noteError(line);
    log_.writeLog(line, true);
  } catch (...) {
    // Logging failed too: nothing is left to tell it to.
  }
}

void EngineEvents::ReconnectTimer() { guard("ReconnectTimer", [&] { engine_.ReconnectTimer(); }); }
void EngineEvents::CheckChangesTimer() { guard("CheckChangesTimer", [&] { engine_.CheckChangesTimer(); }); }
void EngineEvents::StatusTimer() { guard("StatusTimer", [&] { engine_.StatusTimer(); }); }
void EngineEvents::Connect1Click() { guard("Connect1Click", [&] { engine_.Connect1Click(); }); }
void EngineEvents::ItemA1Click() { guard("ItemA1Click", [&] { engine_.ItemA1Click(); }); }
void EngineEvents::Synchronizeall1Click() {
  guard("Synchronizeall1Click", [&] { engine_.Synchronizeall1Click(); });
}
void EngineEvents::ItmeB1Click() { guard("ItmeB1Click", [&] { engine_.ItmeB1Click(); }); }
bool EngineEvents::reconnectEnabled() const { return engine_.reconnectEnabled(); }

void EngineEvents::ServerSink::onConnecting() {
  owner->guard("FilesyncSocketConnecting", [&] {
    if (observer) observer->onConnecting();
    owner->engine_.FilesyncSocketConnecting();
  });
}
void EngineEvents::ServerSink::onConnect() {
  owner->guard("FilesyncSocketConnect", [&] {
    if (observer) observer->onConnect();
    owner->engine_.FilesyncSocketConnect();
  });
}
void EngineEvents::ServerSink::onRead(std::string_view bytes) {
  owner->guard("FilesyncSocketRead", [&] {
    if (observer) observer->onRead(bytes);
    owner->engine_.FilesyncSocketRead(bytes);
  });
}
void EngineEvents::ServerSink::onDisconnect() {
  owner->guard("FilesyncSocketDisconnect", [&] {
    if (observer) observer->onDisconnect();
    owner->engine_.FilesyncSocketDisconnect();
  });
}
void EngineEvents::ServerSink::onError(int code) {
  owner->guard("FilesyncSocketError", [&] {
    if (observer) observer->onError(code);
    owner->engine_.FilesyncSocketError(code);
  });
}

void EngineEvents::WatcherSink::onConnect() {
  owner->guard("ClientSocket1Connect", [&] {
    if (observer) observer->onConnect();
    owner->engine_.ClientSocket1Connect();
  });
}
void EngineEvents::WatcherSink::onRead(std::string_view bytes) {
  owner->guard("ClientSocket1Read", [&] {
    if (observer) observer->onRead(bytes);
    owner->engine_.ClientSocket1Read(bytes);
  });
}
void EngineEvents::WatcherSink::onDisconnect() {
  owner->guard("ClientSocket1Disconnect", [&] {
    if (observer) observer->onDisconnect();
  });
}
void EngineEvents::WatcherSink::onError(int code) {
  owner->guard("ClientSocket1Error", [&] {
    if (observer) observer->onError(code);
  });
}

}  // namespace kq
