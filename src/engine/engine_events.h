#pragma once
// EngineEvents is what both platform layers hand their events to: the two
// links' socket events, the timer ticks and the menu commands. Each event goes
// to the engine inside one guard: an exception that reaches it is logged as
// "Error in NAME(): TEXT" (shown), kept as the engine's last error, and goes
// no further. An observer of a link (the headless client's notices) hears each
// of its events before the engine does.
#include <exception>
#include <string>
#include <string_view>

#include "platform/links.h"

namespace kq {

class Log;
class SyncEngine;

class EngineEvents {
 public:
  EngineEvents(SyncEngine& engine, Log& log);
  EngineEvents(const EngineEvents&) = delete;
  EngineEvents& operator=(const EngineEvents&) = delete;

  // serverEvents and watcherEvents are the sinks of the two sockets.
  LinkEvents& serverEvents() { return server_; }
  LinkEvents& watcherEvents() { return watcher_; }
  void observeServer(LinkEvents* observer) { server_.observer = observer; }
  void observeWatcher(LinkEvents* observer) { watcher_.observer = observer; }

  void ReconnectTimer();
  void CheckChangesTimer();
  void StatusTimer();
  void Connect1Click();
  void ItemA1Click();
  void Synchronizeall1Click();
  void ItmeB1Click();
  // reconnectEnabled is the state the engine wants the Reconnect timer in.
  bool reconnectEnabled() const;

  // guard runs one event; no exception leaves it.
  template <class F>
  void guard(const char* name, F&& call) noexcept {
    try {
      call();
    } catch (const std::exception& e) {
      failed(name, e.what());
    } catch (...) {
      failed(name, "unknown error");
    }
  }

 private:
  struct ServerSink : LinkEvents {
    EngineEvents* owner = nullptr;
    LinkEvents* observer = nullptr;
    void onConnecting() override;
    void onConnect() override;
    void onRead(std::string_view bytes) override;
    void onDisconnect() override;
    void onError(int code) override;
  };
  // The engine has connect and read handlers only for the watcher link.
  struct WatcherSink : LinkEvents {
    EngineEvents* owner = nullptr;
    LinkEvents* observer = nullptr;
    void onConnect() override;
    void onRead(std::string_view bytes) override;
    void onDisconnect() override;
    void onError(int code) override;
  };
  void failed(const char* name, const std::string& text) noexcept;

  SyncEngine& engine_;
  Log& log_;
  ServerSink server_;
  WatcherSink watcher_;
};

}  // namespace kq
