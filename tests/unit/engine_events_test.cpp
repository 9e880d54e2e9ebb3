// EngineEvents: the links' events, timer ticks and menu commands reach the
// engine, observers hear link events first, and no exception leaves an event.
#include "engine/engine_events.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "support/engine_harness.h"

namespace kq {
namespace {

// Observer records the link events it hears and throws on the event named in throwOn.
struct Observer : LinkEvents {
  void onConnecting() override { hear("connecting"); }
  void onConnect() override { hear("connect"); }
  void onRead(std::string_view bytes) override { hear("read " + std::string(bytes)); }
  void onDisconnect() override { hear("disconnect"); }
  void onError(int code) override { hear("error " + std::to_string(code)); }
  void hear(const std::string& event) {
    heard.push_back(event);
    if (event == throwOn) throw std::runtime_error("cannot show " + event);
  }
  std::vector<std::string> heard;
  std::string throwOn;
};

class EngineEventsTest : public ::testing::Test {
 protected:
  test::MemoryEngine t;
  EngineEvents events{t.engine, t.log};
  Observer server, watcher;
};

TEST_F(EngineEventsTest, LinkEventsReachTheEngineAfterTheirObserver) {
  events.observeServer(&server);
  events.observeWatcher(&watcher);
  events.ReconnectTimer();
  EXPECT_EQ(t.server.activations, 1);
  events.serverEvents().onConnecting();
  t.server.active = true;
  events.serverEvents().onConnect();
  EXPECT_EQ(t.status.panels[0], "sync.example.com");
  events.watcherEvents().onConnect();
  EXPECT_TRUE(t.log.contains("Connected to service!"));
  events.watcherEvents().onError(10061);
  events.serverEvents().onError(10054);
  EXPECT_TRUE(events.reconnectEnabled());
  EXPECT_EQ(server.heard, (std::vector<std::string>{"connecting", "connect", "error 10054"}));
  EXPECT_EQ(watcher.heard, (std::vector<std::string>{"connect", "error 10061"}));
}

TEST_F(EngineEventsTest, AnExceptionInAnyEventIsLoggedWithItsTextAndGoesNoFurther) {
  struct Case {
    const char* event;
    std::function<void(EngineEvents&)> fire;
    bool watcherLink;
  };
  const Case cases[] = {
      {"FilesyncSocketConnecting", [](EngineEvents& e) { e.serverEvents().onConnecting(); }, false},
      {"FilesyncSocketConnect", [](EngineEvents& e) { e.serverEvents().onConnect(); }, false},
      {"FilesyncSocketRead", [](EngineEvents& e) { e.serverEvents().onRead("x"); }, false},
      {"FilesyncSocketDisconnect", [](EngineEvents& e) { e.serverEvents().onDisconnect(); }, false},
      {"FilesyncSocketError", [](EngineEvents& e) { e.serverEvents().onError(10054); }, false},
      {"ClientSocket1Connect", [](EngineEvents& e) { e.watcherEvents().onConnect(); }, true},
      {"ClientSocket1Read", [](EngineEvents& e) { e.watcherEvents().onRead("x"); }, true},
      {"ClientSocket1Disconnect", [](EngineEvents& e) { e.watcherEvents().onDisconnect(); }, true},
      {"ClientSocket1Error", [](EngineEvents& e) { e.watcherEvents().onError(10061); }, true},
  };
  for (const auto& c : cases) {
    test::MemoryEngine engine;
    EngineEvents under{engine.engine, engine.log};
    struct Always : Observer {
      void onConnecting() override { throw std::runtime_error("boom"); }
      void onConnect() override { throw std::runtime_error("boom"); }
      void onRead(std::string_view) override { throw std::runtime_error("boom"); }
      void onDisconnect() override { throw std::runtime_error("boom"); }
      void onError(int) override { throw 42; }
    } always;
    if (c.watcherLink)
      under.observeWatcher(&always);
    else
      under.observeServer(&always);
    EXPECT_NO_THROW(c.fire(under)) << c.event;
    const bool unknown = std::string(c.event).find("Error") != std::string::npos;
    const std::string line = std::string("Error in ") + c.event + "(): " + (unknown ? "unknown error" : "boom");
    EXPECT_EQ(engine.log.texts(), std::vector<std::string>{line}) << c.event;
    EXPECT_EQ(engine.log.lines.back().show, true);
    engine.engine.StatusTimer();
    EXPECT_EQ(engine.published.last().lastError, line);
  }
}

}  // namespace
}  // namespace kq
