#include "engine/sync_engine.h"

#include <gtest/gtest.h>

#include "support/engine_harness.h"

namespace kq {
namespace {

const RequestId kId{'\x01', '\x02', '\x03', '\x04'};

std::string rqchg() { return encodeHeader({"RQCHG", kId, 0}) + R"({"date":"2024-03-07","time":""})"; }
std::string rqfls() { return encodeHeader({"RQFLS", kId, 0}) + R"({"date":"2024-03-07","time":""})"; }

// A local change travels from the watcher to the server: queued on the
// watcher's report, reported at the next RQCHG, released at RQFLS.
template <typename Engine>
void localChangeRoundTrip(Engine& t) {
  ASSERT_TRUE(t.fs.createFolders(t.path("_config")));
  ASSERT_TRUE(t.fs.writeText(t.path("report.pdf"), "12345678"));
  t.connect();
  t.engine.ClientSocket1Connect();
  EXPECT_TRUE(t.log.contains("Connected to service!"));
  t.engine.ClientSocket1Read("3" + t.path("report.pdf"));
  ASSERT_EQ(t.engine.tracker().modificationQueue.size(), 1u);
  t.server.sends.clear();
  t.read(rqchg());
  const std::string json =
      R"({"date":"2024-03-07","time":"","changes":[{"filepath":"/report.pdf","date":"2024-03-07","time":"","mdate":"","mtime":"","size":"8","changetype":"MODIFIED"}]})";
  EXPECT_EQ(t.server.sends, std::vector<std::string>{encodeHeader({"ANCHG", kId, json.size()}) + json});
  EXPECT_TRUE(t.engine.tracker().serverBusy);
  t.read(rqfls());
  EXPECT_FALSE(t.engine.tracker().serverBusy);
  EXPECT_TRUE(t.engine.protocol().initialSyncDone);
  EXPECT_EQ(t.status.panels[1], "Listening...");
}

TEST(SyncEngine, LocalChangeRoundTripInMemory) {
  test::MemoryEngine t;
  localChangeRoundTrip(t);
}

TEST(SyncEngine, LocalChangeRoundTripOnDisk) {
  test::NativeEngine t;
  localChangeRoundTrip(t);
  EXPECT_EQ(t.ini.readInt(t.settingsFile(), "Basic", "InitialSync", 0), 1);
}

TEST(SyncEngine, ChangeTimerReconnectsTheWatcherAndShowsTheServerDown) {
  test::MemoryEngine t;
  t.engine.CheckChangesTimer();
  EXPECT_EQ(t.watcher.activations, 1);
  EXPECT_TRUE(t.log.contains("Connecting to service..."));
  EXPECT_EQ(t.status.panels[0], "Disconnected");
}

TEST(SyncEngine, ForcedSynchronisationQueuesTheSelectedFile) {
  test::MemoryEngine t;
  ASSERT_TRUE(t.fs.createFolders(t.syncFolder));
  ASSERT_TRUE(t.fs.writeText(t.path("a.txt"), "x"));
  t.folders.folder = t.syncFolder;
  t.folders.selected = "a.txt";
  t.folders.files = {"a.txt"};
  t.engine.ItemA1Click();
  EXPECT_EQ(t.engine.tracker().modificationQueue, std::deque<std::string>{t.path("a.txt")});
}

TEST(SyncEngine, ReconnectTimerFollowsTheEnabledState) {
  test::MemoryEngine t;
  EXPECT_TRUE(t.engine.reconnectEnabled());
  t.server.active = true;
  t.engine.Connect1Click();
  EXPECT_FALSE(t.engine.reconnectEnabled());
  t.engine.FilesyncSocketError(10054);
  EXPECT_TRUE(t.engine.reconnectEnabled());
}

}  // namespace
}  // namespace kq
