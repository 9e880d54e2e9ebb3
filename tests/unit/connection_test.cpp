#include "protocol/connection.h"

#include <gtest/gtest.h>

#include "support/engine_harness.h"
#include "support/protocol_doubles.h"

namespace kq {
namespace {

using test::LogLine;

const std::string kSync = "C:\\Users\\user\\Docs";

TEST(ServerConnection, ConnectSendsTheInitTextAndPreparesTheWorkingPath) {
  test::MemoryEngine t;
  t.log.lines.clear();
  t.connect();
  std::vector<LogLine> expected = {
      {"Auto connecting to Korvalinq Server...", true},
      {"Connecting to Korvalinq Server...", true},
      {"Connected to Korvalinq Server!", true},
      {"Sending init packet...", true},
      {"Working path: " + kSync, true},
  };
  EXPECT_EQ(t.log.lines, expected);
  EXPECT_EQ(t.status.caption, "Disconnect");
  EXPECT_EQ(t.status.panels[0], "sync.example.com");
  // One-digit protocol, four-digit contract, 32-character key: 47 bytes, nothing between.
  EXPECT_EQ(t.server.sends,
            std::vector<std::string>{"KQFILESYNC11234" "0123456789abcdef0123456789abcdef"});
  EXPECT_EQ(t.server.sends[0].size(), 47u);
  EXPECT_TRUE(t.fs.isFolder(kSync));
  EXPECT_EQ(t.server.host, "sync.example.com");
  EXPECT_EQ(t.server.port, 7777);
}

struct InitialSyncCase {
  const char* stored;  // nullptr: no value in the file
  bool before;
  bool after;
};

TEST(ServerConnection, ConnectReadsInitialSync) {
  const InitialSyncCase cases[] = {
      {"1", false, true}, {"0", false, false}, {nullptr, false, false}, {"0", true, true},
      {"7", false, true}, {"x", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored ? c.stored : "absent");
    test::MemoryEngine t;
    if (c.stored) t.memoryIni.set(t.settingsFile(), "Basic", "InitialSync", c.stored);
    t.engine.protocol().initialSyncDone = c.before;
    t.connect();
    EXPECT_EQ(t.engine.protocol().initialSyncDone, c.after);
  }
}

TEST(ServerConnection, ChangedHostWhileConnectedEndsTheConnectHandler) {
  test::MemoryEngine t;
  t.engine.ReconnectTimer();
  t.server.active = true;
  test::EngineSettings other;
  other.host = "other.example.com";
  t.writeConfig(other);
  t.log.lines.clear();
  t.engine.FilesyncSocketConnect();
  EXPECT_EQ(t.log.lines.back(), (LogLine{"Error: FilesyncSocketConnect()", true}));
  EXPECT_FALSE(t.log.contains("Working path: " + kSync));
  EXPECT_EQ(t.server.sends.size(), 1u);  // the init text went out before
}

TEST(ServerConnection, MissingWorkingPathClosesTheLinkAndIsNotCreated) {
  test::MemoryEngine t;
  t.engine.ReconnectTimer();
  ASSERT_TRUE(t.fs.removeAll(kSync));
  t.log.lines.clear();
  t.engine.FilesyncSocketConnecting();
  t.server.active = true;
  t.engine.FilesyncSocketConnect();
  EXPECT_EQ(t.log.lines.back(), (LogLine{"Sync folder not found: " + kSync, true}));
  EXPECT_EQ(t.server.deactivations, 1);
  EXPECT_FALSE(t.fs.exists(kSync));
}

TEST(ServerConnection, ReconnectTimerStartsAFreshAttemptOnlyWhenInactive) {
  test::MemoryEngine t;
  t.engine.ReconnectTimer();
  EXPECT_EQ(t.server.renewals, 1);
  EXPECT_EQ(t.server.activations, 1);
  t.engine.ReconnectTimer();  // still connecting: the attempt is abandoned for a new one
  EXPECT_EQ(t.server.renewals, 2);
  t.server.active = true;
  t.log.lines.clear();
  t.engine.ReconnectTimer();
  EXPECT_EQ(t.server.renewals, 2);
  EXPECT_TRUE(t.log.lines.empty());
}

TEST(ServerConnection, ReconnectTimerDropsAnInvalidPortSilently) {
  test::EngineSettings bad;
  bad.port = "77x";
  test::MemoryEngine t(kSync, bad);
  t.log.lines.clear();
  t.engine.ReconnectTimer();
  EXPECT_EQ(t.log.texts(), std::vector<std::string>{"Auto connecting to Korvalinq Server..."});
  EXPECT_EQ(t.server.activations, 0);
}

TEST(ServerConnection, ServerDownRetriesEveryTick) {
  test::MemoryEngine t;
  t.log.lines.clear();
  for (int i = 0; i < 2; ++i) {
    t.engine.ReconnectTimer();
    t.engine.FilesyncSocketConnecting();
    t.engine.FilesyncSocketError(10061);
  }
  std::vector<std::string> once = {"Auto connecting to Korvalinq Server...",
                                   "Connecting to Korvalinq Server...",
                                   "Client socket error! Code: 10061"};
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(t.log.texts(), twice);
  EXPECT_EQ(t.server.deactivations, 2);
  EXPECT_TRUE(t.engine.reconnectEnabled());
  EXPECT_EQ(t.errors.errors, (std::vector<std::string>{"Socket Error # 10061", "Socket Error # 10061"}));
}

TEST(ServerConnection, ManualDisconnectStopsReconnecting) {
  test::MemoryEngine t;
  t.connect();
  t.engine.Connect1Click();
  EXPECT_EQ(t.server.deactivations, 1);
  EXPECT_FALSE(t.engine.reconnectEnabled());
  t.engine.FilesyncSocketDisconnect();
  EXPECT_EQ(t.status.caption, "Connect");
  EXPECT_EQ(t.status.panels[0], "Disconnected");
  int activations = t.server.activations;
  for (int i = 0; i < 10; ++i) t.engine.ReconnectTimer();
  EXPECT_EQ(t.server.activations, activations);

  t.engine.Connect1Click();  // connect again
  EXPECT_TRUE(t.engine.reconnectEnabled());
  EXPECT_EQ(t.server.activations, activations + 1);
  EXPECT_EQ(t.server.host, "sync.example.com");
}

TEST(ServerConnection, Connect1ClickWithABadPortLogsItsError) {
  test::EngineSettings bad;
  bad.port = "";
  test::MemoryEngine t(kSync, bad);
  t.engine.Connect1Click();
  EXPECT_EQ(t.log.lines.back(), (LogLine{"Error: Connect1Click()", true}));
  EXPECT_EQ(t.server.activations, 0);
}

TEST(ServerConnection, DisconnectEndsAnUnfinishedTransferAndKeepsTheRest) {
  test::MemoryEngine t;
  test::CountingReceiver receiver(t.engine.protocol());
  t.engine.registerReceiver(receiver);
  t.connect();
  const RequestId id{'\x01', '\x02', '\x03', '\x04'};
  t.read(encodeHeader({"RQFDA", id, 100}) + "partial");
  ASSERT_TRUE(t.engine.protocol().fileDataMode);
  t.server.active = false;
  t.log.lines.clear();
  t.engine.FilesyncSocketDisconnect();
  EXPECT_EQ(t.log.texts(), std::vector<std::string>{"Disconnected"});
  EXPECT_EQ(receiver.connectionCloses, 1);
  EXPECT_FALSE(t.engine.protocol().fileDataMode);
  EXPECT_EQ(t.engine.protocol().lastPacketType, kRQFDA);
  EXPECT_EQ(t.engine.protocol().currentRequestId, id);

  // After reconnecting, a request is a request again, not data of the old file.
  t.connect();
  t.server.sends.clear();
  t.read(encodeHeader({"RQCHG", id, 0}) + R"({"date":"2024-03-07","time":""})");
  ASSERT_EQ(t.server.sends.size(), 1u);
  EXPECT_EQ(t.server.sends[0].substr(0, 5), "ANCHG");
}

// A connected link that stays silent is closed on the first Reconnect tick at
// or after the deadline; up to it the tick leaves the link alone.
struct SilenceCase {
  std::int64_t silentMs;
  bool closed;
};

TEST(ServerConnection, ASilentLinkIsClosedAtTheDeadlineAndMadeAnew) {
  const SilenceCase cases[] = {{0, false}, {59999, false}, {60000, true}, {3600000, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.silentMs);
    test::MemoryEngine t;
    t.connect();
    t.clock.advance(c.silentMs);
    t.log.lines.clear();
    t.engine.ReconnectTimer();
    if (!c.closed) {
      EXPECT_TRUE(t.log.lines.empty());
      EXPECT_EQ(t.server.deactivations, 0);
      continue;
    }
    EXPECT_EQ(t.log.lines, (std::vector<LogLine>{
                               {"No data from Korvalinq Server for " + std::to_string(c.silentMs / 1000) +
                                    " s: the connection is taken for dead and made anew",
                                true}}));
    EXPECT_EQ(t.server.deactivations, 1);
    EXPECT_TRUE(t.engine.reconnectEnabled());
    // The disconnect event follows, then the next tick connects with a fresh socket.
    t.engine.FilesyncSocketDisconnect();
    int renewals = t.server.renewals;
    t.engine.ReconnectTimer();
    EXPECT_EQ(t.server.renewals, renewals + 1);
    EXPECT_EQ(t.log.texts().back(), "Auto connecting to Korvalinq Server...");
  }
}

TEST(ServerConnection, EveryReadEventRestartsTheSilenceDeadline) {
  test::MemoryEngine t;
  t.connect();
  const RequestId id{'\x01', '\x02', '\x03', '\x04'};
  for (int i = 0; i < 5; ++i) {
    t.clock.advance(50000);
    t.read(encodeHeader({"RQCHG", id, 0}) + R"({"date":"2024-03-07","time":""})");
    t.engine.ReconnectTimer();
  }
  t.clock.advance(59000);
  t.engine.ReconnectTimer();
  EXPECT_EQ(t.server.deactivations, 0);
  t.clock.advance(1000);
  t.engine.ReconnectTimer();
  EXPECT_EQ(t.server.deactivations, 1);
}

// SlowReceiver stands for a long piece of the client's own work inside a read
// event (a folder walk that lets timer ticks run): the clock moves on and the
// Reconnect tick comes while the event is still running.
class SlowReceiver : public test::CountingReceiver {
 public:
  SlowReceiver(ProtocolState& state, test::FakeClock& clock, SyncEngine& engine)
      : CountingReceiver(state), clock_(clock), engine_(engine) {}
  std::size_t onHeader(std::string_view read, PacketContext& packet) override {
    clock_.advance(300000);
    engine_.ReconnectTimer();
    return CountingReceiver::onHeader(read, packet);
  }

 private:
  test::FakeClock& clock_;
  SyncEngine& engine_;
};

TEST(ServerConnection, TheClientsOwnWorkInAReadEventIsNotSilence) {
  test::MemoryEngine t;
  SlowReceiver receiver(t.engine.protocol(), t.clock, t.engine);
  t.engine.registerReceiver(receiver);
  t.connect();
  t.read(encodeHeader({"RQFDA", RequestId{'\x01', '\x02', '\x03', '\x04'}, 4}) + "data");
  EXPECT_EQ(receiver.headers, 1);
  EXPECT_EQ(t.server.deactivations, 0);
  // The deadline counts from the end of the event.
  t.clock.advance(59000);
  t.engine.ReconnectTimer();
  EXPECT_EQ(t.server.deactivations, 0);
}

TEST(ServerConnection, AClockSetBackDoesNotStretchTheSilenceDeadline) {
  test::MemoryEngine t;
  t.connect();
  t.clock.advance(-3600000);
  t.engine.ReconnectTimer();
  EXPECT_EQ(t.server.deactivations, 0);
  t.clock.advance(60000);
  t.engine.ReconnectTimer();
  EXPECT_EQ(t.server.deactivations, 1);
}

TEST(ServerConnection, AManualDisconnectStopsTheSilenceCheckToo) {
  test::MemoryEngine t;
  t.connect();
  t.engine.Connect1Click();
  t.server.active = true;  // a disconnect that has not been delivered yet
  t.clock.advance(120000);
  t.engine.ReconnectTimer();
  EXPECT_EQ(t.server.deactivations, 1);  // the click's own
}

struct PortCase {
  std::string text;
  int port;  // 0: invalid
};

TEST(ParsePort, AcceptsDecimalPortsOnly) {
  const PortCase cases[] = {{"7777", 7777}, {" 80 ", 80}, {"65535", 65535}, {"1", 1},
                            {"0", 0},       {"65536", 0}, {"", 0},          {"12abc", 0},
                            {"-1", 0},      {"0x50", 0},  {"9999999999", 0}};
  for (const auto& c : cases) {
    if (c.port == 0) {
      EXPECT_THROW(parsePort(c.text), ConfigError) << c.text;
    } else {
      EXPECT_EQ(parsePort(c.text), c.port) << c.text;
    }
  }
}

}  // namespace
}  // namespace kq
