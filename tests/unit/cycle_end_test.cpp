#include "protocol/cycle_end.h"

#include <gtest/gtest.h>

#include "support/engine_harness.h"
#include "support/protocol_doubles.h"

namespace kq {
namespace {

using test::LogLine;

const RequestId kId{'\x05', '\x06', '\x07', '\x08'};
const std::string kRqfls = encodeHeader({"RQFLS", kId, 0}) + R"({"date":"2024-03-07","time":"10:00:00"})";

class CycleEndTest : public ::testing::Test {
 protected:
  CycleEndTest() { EXPECT_TRUE(t.fs.createFolders(t.syncFolder + "\\_config")); }
  ChangeTracker& tracker() { return t.engine.tracker(); }
  int writes() const { return t.memoryIni.writes; }
  test::MemoryEngine t;
};

TEST_F(CycleEndTest, FirstRqflsRecordsTheInitialSyncAndGoesBackToListening) {
  tracker().modificationQueue.push_back(t.path("a.txt"));
  tracker().deleteQueue = {t.path("b.txt"), t.path("c.txt")};
  tracker().blockedPaths.push_back(t.path("docs"));
  tracker().serverBusy = true;
  t.log.lines.clear();
  t.read(kRqfls);
  EXPECT_EQ(t.memoryIni.readInt(t.settingsFile(), "Basic", "InitialSync", 0), 1);
  EXPECT_TRUE(t.engine.protocol().initialSyncDone);
  EXPECT_EQ(t.status.panels[1], "Listening...");
  EXPECT_EQ(t.status.panels[2], "MOD: 1");
  EXPECT_EQ(t.status.panels[3], "DEL: 2");
  EXPECT_TRUE(tracker().blockedPaths.empty());
  EXPECT_FALSE(tracker().serverBusy);
  EXPECT_TRUE(t.server.sends.empty());  // RQFLS gets no answer
  auto texts = t.log.texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Modification queue: 1. Queue to delete: 2"), 1);
  EXPECT_EQ(t.engine.protocol().lastPacketType, kRQFLS);
}

TEST_F(CycleEndTest, InitialSyncIsWrittenOncePerRun) {
  t.read(kRqfls);
  EXPECT_EQ(writes(), 1);
  t.read(kRqfls);
  EXPECT_EQ(writes(), 1);
}

TEST_F(CycleEndTest, NothingIsWrittenWhenTheFileAlreadySaidSo) {
  t.memoryIni.set(t.settingsFile(), "Basic", "InitialSync", "1");
  t.connect();
  t.read(kRqfls);
  EXPECT_EQ(writes(), 0);
}

TEST_F(CycleEndTest, OpenReceivedFileIsClosedAndDataModeKept) {
  test::CountingReceiver receiver(t.engine.protocol());
  t.engine.registerReceiver(receiver);
  t.read(kRqfls);
  EXPECT_EQ(receiver.closes, 2);  // once per member
  EXPECT_FALSE(t.engine.protocol().fileDataMode);
}

TEST_F(CycleEndTest, SettingsWriteFailureEndsTheRead) {
  ASSERT_TRUE(t.fs.removeAll(t.syncFolder + "\\_config"));
  test::CountingReceiver receiver(t.engine.protocol());
  t.engine.registerReceiver(receiver);
  tracker().blockedPaths.push_back(t.path("docs"));
  tracker().serverBusy = true;
  t.read(kRqfls);
  EXPECT_EQ(t.log.lines.back(), (LogLine{"Error: FilesyncSocketRead()", true}));
  EXPECT_FALSE(t.engine.protocol().initialSyncDone);
  EXPECT_EQ(tracker().blockedPaths.size(), 1u);
  EXPECT_TRUE(tracker().serverBusy);
  EXPECT_EQ(receiver.closes, 1);  // the dispatcher's error handling closes the file
  EXPECT_NE(t.engine.protocol().lastPacketType, kRQFLS);

  // A later RQFLS that can write completes the cycle.
  ASSERT_TRUE(t.fs.createFolders(t.syncFolder + "\\_config"));
  t.read(kRqfls);
  EXPECT_TRUE(t.engine.protocol().initialSyncDone);
  EXPECT_TRUE(tracker().blockedPaths.empty());
  EXPECT_FALSE(tracker().serverBusy);
}

TEST_F(CycleEndTest, UnusableBodyIsAnsweredAnflsAndStillClosesTheCycle) {
  tracker().serverBusy = true;
  t.read(encodeHeader({"RQFLS", kId, 0}) + R"({"date":"2024-03-07")");
  EXPECT_EQ(t.server.sends, std::vector<std::string>{encodeHeader({"ANFLS", kId, 0})});
  EXPECT_FALSE(tracker().serverBusy);
  EXPECT_TRUE(t.engine.protocol().initialSyncDone);
}

TEST_F(CycleEndTest, HeaderAndBodyInSeparateReadsAndBytewiseHeader) {
  const std::string header = kRqfls.substr(0, kHeaderSize);
  t.readBytewise(header);
  tracker().serverBusy = true;
  t.read(kRqfls.substr(kHeaderSize));
  EXPECT_FALSE(tracker().serverBusy);
  EXPECT_EQ(t.status.panels[1], "Listening...");
}

TEST(CycleEndOnDisk, WritesInitialSyncToTheSettingsFile) {
  test::NativeEngine t;
  ASSERT_TRUE(t.fs.createFolders(t.syncFolder + "\\_config"));
  t.read(kRqfls);
  EXPECT_EQ(t.ini.readInt(t.settingsFile(), "Basic", "InitialSync", 0), 1);
  auto text = t.fs.readText(t.settingsFile());
  ASSERT_TRUE(text.has_value());
  EXPECT_NE(text->find("[Basic]"), std::string::npos);
  EXPECT_NE(text->find("InitialSync=1"), std::string::npos);
}

}  // namespace
}  // namespace kq
