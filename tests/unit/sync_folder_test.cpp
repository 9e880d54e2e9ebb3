// A sync folder that is moved away, deleted or unmounted is not an empty
// folder: the engine says so, stays away from the server, creates nothing,
// reports nothing, and carries on when the folder is back.
#include <gtest/gtest.h>

#include "engine/sync_engine.h"
#include "support/engine_harness.h"

namespace kq {
namespace {

const RequestId kId{'\x01', '\x02', '\x03', '\x04'};

std::string rqchg() { return encodeHeader({"RQCHG", kId, 0}) + R"({"date":"2024-03-07","time":""})"; }

class SyncFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t.memoryFs.addFile(t.path("a.txt"), "alpha");
    t.connect();
    connected = t.server.activations;
  }
  void takeFolderAway() {
    t.memoryFs.addFile("C:\\away\\keep", "");
    ASSERT_TRUE(t.fs.rename(t.syncFolder, "C:\\away\\Docs"));
  }
  void bringFolderBack() { ASSERT_TRUE(t.fs.rename("C:\\away\\Docs", t.syncFolder)); }
  std::string notFound() const { return "Sync folder not found: " + t.syncFolder; }

  test::MemoryEngine t;
  int connected = 0;  // activations of the first connection
};

TEST_F(SyncFolderTest, MissingFolderIsShownAndTheServerLinkIsLeftAlone) {
  takeFolderAway();
  t.engine.CheckChangesTimer();
  EXPECT_TRUE(t.log.contains(notFound()));
  EXPECT_EQ(t.status.panels[1], notFound());
  EXPECT_EQ(t.server.deactivations, 1);
  t.engine.CheckChangesTimer();
  t.engine.ReconnectTimer();
  EXPECT_EQ(t.server.activations, connected);  // no new attempt while it is missing
  int said = 0;
  for (const auto& line : t.log.lines) said += line.text == notFound();
  EXPECT_EQ(said, 1);  // said once, not every tick
  EXPECT_FALSE(t.fs.exists(t.syncFolder));

  bringFolderBack();
  t.engine.ReconnectTimer();
  EXPECT_TRUE(t.log.contains("Sync folder found again: " + t.syncFolder));
  EXPECT_EQ(t.status.panels[1], "Listening...");
  EXPECT_EQ(t.server.activations, connected + 1);
}

TEST_F(SyncFolderTest, ChangesWaitWhileTheFolderIsMissingAndDeletionsOfWhatCameBackAreDropped) {
  t.engine.tracker().deleteQueue = {t.path("a.txt"), t.path("gone.txt")};
  takeFolderAway();
  t.server.sends.clear();
  t.read(rqchg());
  const std::string empty =
      R"({"date":"2024-03-07","time":"","changes":[{"filepath":"","date":"2024-03-07","time":"","mdate":"","mtime":"","size":"0","changetype":""}]})";
  EXPECT_EQ(t.server.sends, std::vector<std::string>{encodeHeader({"ANCHG", kId, empty.size()}) + empty});
  EXPECT_EQ(t.engine.tracker().deleteQueue.size(), 2u);

  t.engine.CheckChangesTimer();
  bringFolderBack();
  t.engine.CheckChangesTimer();
  EXPECT_EQ(t.engine.tracker().deleteQueue, std::deque<std::string>{t.path("gone.txt")});
}

TEST_F(SyncFolderTest, ConnectionToAMissingFolderIsClosedAndTheFolderNotMade) {
  t.engine.FilesyncSocketDisconnect();
  t.server.active = false;
  takeFolderAway();
  t.log.lines.clear();
  t.engine.FilesyncSocketConnecting();  // an attempt that was under way
  t.server.active = true;
  t.engine.FilesyncSocketConnect();
  EXPECT_TRUE(t.log.contains(notFound()));
  EXPECT_FALSE(t.log.contains("Working path: " + t.syncFolder));
  EXPECT_EQ(t.server.deactivations, 1);
  EXPECT_FALSE(t.fs.exists(t.syncFolder));
}

TEST_F(SyncFolderTest, SettingsAreNotSavedIntoAMissingFolder) {
  takeFolderAway();
  EXPECT_FALSE(t.engine.exceptionFilter().save(t.syncFolder));
  EXPECT_FALSE(t.fs.exists(t.syncFolder));
}

// Whatever the server orders before the client has noticed the loss, nothing
// makes an empty sync folder appear in its place.
TEST_F(SyncFolderTest, ServerOrdersDoNotMakeAMissingFolderAnew) {
  takeFolderAway();
  const std::string put = R"({"filepath":"\/docs\/new.txt"})";
  t.read(encodeHeader({"RQPUT", kId, put.size()}) + put);
  t.read(encodeHeader({"RQFDA", kId, 2}) + "ab");
  const std::string folder = R"({"filepath":"\/made\/"})";
  t.read(encodeHeader({"RQPUT", kId, folder.size()}) + folder);
  const std::string del = R"({"filepath":"\/a.txt"})";
  t.read(encodeHeader({"RQDEL", kId, del.size()}) + del);
  EXPECT_FALSE(t.fs.exists(t.syncFolder));
  EXPECT_EQ(t.memoryFs.content("C:\\away\\Docs\\a.txt"), "alpha");
}

}  // namespace
}  // namespace kq
