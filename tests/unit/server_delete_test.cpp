#include "fileops/server_delete.h"

#include <gtest/gtest.h>

#include "support/handler_fixture.h"

namespace kq {
namespace {

class ServerDeleteTest : public test::HandlerFixture {
 protected:
  void setPolicy(int policy) {
    ASSERT_TRUE(disk.fs().createFolders(at("_config")));
    ASSERT_TRUE(disk.ini().writeInt(at("_config\\Filesync.ini"), "Basic", "filedeletion", policy));
  }
  std::string remove(const std::string& value) {
    PacketContext packet{kRQDEL, ""};
    handler.onMember("\"filepath\"", value, packet);
    return packet.answerType;
  }
  ServerDelete handler{ports};
};

TEST_F(ServerDeleteTest, TrashPolicyMovesAFileIntoTheHiddenTrash) {
  ASSERT_TRUE(write("docs\\a.txt", "first"));
  folders.folder = at("docs");
  EXPECT_EQ(remove(R"(\/docs\/a.txt)"), "ANDEL");
  EXPECT_FALSE(exists("docs\\a.txt"));
  EXPECT_EQ(read("_trash\\docs\\a.txt"), "first");
  EXPECT_EQ(disk.fs().attributes(at("_trash")), std::make_pair(true, false));
  EXPECT_TRUE(processes.moves.empty());
  tracker.handleWatcherChange(2, at("docs\\a.txt"));  // the watcher's report is an echo
  EXPECT_TRUE(tracker.deleteQueue.empty());
  EXPECT_TRUE(tracker.blockedPaths.empty());
  EXPECT_EQ(status.panels[1], "Removing file");
  EXPECT_EQ(folders.shown, (std::vector<std::string>{"", at("docs")}));
  const std::vector<std::string> expected = {
      "filepath to delete=" + at("docs\\a.txt"),
      "Moving file '" + at("docs\\a.txt") + "' to trash-folder '" + at("_trash\\docs\\a.txt") + "'",
      "Used directory: " + at("docs"),
      "Working directory: " + at("docs"),
  };
  EXPECT_EQ(log.texts(), expected);

  // A new copy deleted later replaces the earlier one in the trash.
  ASSERT_TRUE(write("docs\\a.txt", "second"));
  folders.folder = sync;
  EXPECT_EQ(remove(R"(\/docs\/a.txt)"), "ANDEL");
  EXPECT_EQ(read("_trash\\docs\\a.txt"), "second");
  EXPECT_EQ(folders.shown.back(), "");  // another folder was shown: the tree stays at the root
}

TEST_F(ServerDeleteTest, TrashPolicyMovesAFolderThroughTheFolderMove) {
  ASSERT_TRUE(write("docs\\a.txt", "a"));
  ASSERT_TRUE(write("docs\\sub\\b.txt", "b"));
  setPolicy(0);
  EXPECT_EQ(remove(R"(\/docs\/)"), "ANDEL");
  EXPECT_EQ(processes.moves, (std::vector<std::pair<std::string, std::string>>{
                                 {at("docs"), at("_trash\\docs")}}));
  EXPECT_EQ(tracker.blockedPaths, std::vector<std::string>{at("docs")});
  tracker.blockedPaths.clear();  // an echo even once the cycle is over
  tracker.handleWatcherChange(2, at("docs"));  // the watcher's report is an echo
  EXPECT_TRUE(tracker.deleteQueue.empty());
  EXPECT_FALSE(exists("docs"));
  EXPECT_EQ(read("_trash\\docs\\a.txt"), "a");
  EXPECT_EQ(read("_trash\\docs\\sub\\b.txt"), "b");
  EXPECT_TRUE(log.contains("File command move to trash folder: robocopy /move /e \"" + at("docs") +
                           "\" \"" + at("_trash\\docs") + "\""));
  EXPECT_TRUE(log.contains("Working directory: " + at("docs")));
}

TEST_F(ServerDeleteTest, FolderItemsThatCannotMoveStayInPlace) {
  ASSERT_TRUE(write("docs\\locked.txt", "keep me"));
  ASSERT_TRUE(write("docs\\free.txt", "free"));
  faulty.failRename("locked.txt");
  EXPECT_EQ(remove(R"(\/docs\/)"), "ANDEL");
  EXPECT_EQ(read("docs\\locked.txt"), "keep me");
  EXPECT_FALSE(exists("docs\\free.txt"));
  EXPECT_EQ(read("_trash\\docs\\free.txt"), "free");
  bool reported = false;
  for (const auto& t : log.texts())
    reported |= t.rfind("ERROR: Not everything was moved to the trash folder, left in place: " + at("docs"), 0) == 0;
  EXPECT_TRUE(reported);
}

TEST_F(ServerDeleteTest, AFolderMoveThatMovesNothingLosesNothing) {
  ASSERT_TRUE(write("docs\\a.txt", "a"));
  ASSERT_TRUE(write("docs\\empty\\.keep", ""));
  robocopyMovesNothing();
  EXPECT_EQ(remove(R"(\/docs\/)"), "ANDEL");
  EXPECT_EQ(read("docs\\a.txt"), "a");
  EXPECT_TRUE(exists("docs\\empty\\.keep"));
}

TEST_F(ServerDeleteTest, KeepPolicyLeavesTheDiskAlone) {
  ASSERT_TRUE(write("a.txt", "a"));
  setPolicy(1);
  EXPECT_EQ(remove(R"(\/a.txt)"), "ANDEL");
  EXPECT_EQ(read("a.txt"), "a");
  EXPECT_FALSE(exists("_trash"));
  EXPECT_TRUE(tracker.serverEchoes.hasRemovals());
}

TEST_F(ServerDeleteTest, DeletePolicyRemovesFilesAndFolders) {
  ASSERT_TRUE(write("a.txt", "a"));
  ASSERT_TRUE(write("d\\e\\f.txt", "f"));
  setPolicy(2);
  EXPECT_EQ(remove(R"(\/a.txt)"), "ANDEL");
  EXPECT_EQ(remove(R"(\/d\/)"), "ANDEL");
  EXPECT_FALSE(exists("a.txt"));
  EXPECT_FALSE(exists("d"));
  EXPECT_FALSE(exists("_trash"));
  EXPECT_EQ(tracker.blockedPaths, (std::vector<std::string>{at("a.txt"), at("d\\")}));
  EXPECT_TRUE(log.contains("Removing file."));
}

TEST_F(ServerDeleteTest, FailuresAreLoggedAndStillAnswered) {
  struct Case {
    int policy;
    std::string value;
    std::string failRemoveAll;
    std::string line;
  };
  const Case cases[] = {
      {2, R"(\/missing.txt)", "", "ERROR: Can not delete the file - the file does not exist!"},
      {2, R"(\/held.txt)", "held.txt", "ERROR: Can not remove file!"},
      {0, R"(\/missing.txt)", "", "ERROR: Can't complete RQDEL command!"},
  };
  ASSERT_TRUE(write("held.txt", "h"));
  for (const auto& c : cases) {
    setPolicy(c.policy);
    faulty.heal();
    if (!c.failRemoveAll.empty()) faulty.failRemoveAll(c.failRemoveAll);
    std::size_t before = log.lines.size();
    EXPECT_EQ(remove(c.value), "ANDEL") << c.line;
    auto lines = logSince(before);
    EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end()) << c.line;
  }
  EXPECT_EQ(read("held.txt"), "h");
}

TEST_F(ServerDeleteTest, TrashFolderThatCannotBeCreated) {
  ASSERT_TRUE(write("a.txt", "a"));
  faulty.failCreateFolders("_trash");
  EXPECT_EQ(remove(R"(\/a.txt)"), "ANDEL");
  EXPECT_EQ(read("a.txt"), "a");
  EXPECT_EQ(log.texts().back(), "ERROR: Can't complete RQDEL command!");
  EXPECT_FALSE(log.contains("Used directory: "));
}

TEST_F(ServerDeleteTest, RefusedPathsTouchNothing) {
  ASSERT_TRUE(disk.fs().writeText(disk.path("outside.txt"), "o"));
  setPolicy(2);
  for (std::string value : {R"(\/..\/outside.txt)", R"(\/)", R"()", R"(\/..\/)"}) {
    EXPECT_EQ(remove(value), "ANDEL") << value;
  }
  EXPECT_TRUE(disk.fs().exists(disk.path("outside.txt")));
  EXPECT_TRUE(disk.fs().isFolder(sync));
  EXPECT_TRUE(disk.fs().exists(at("_config\\Filesync.ini")));
  EXPECT_TRUE(tracker.serverQueue.empty());
  EXPECT_FALSE(tracker.serverEchoes.hasRemovals());
  EXPECT_TRUE(tracker.blockedPaths.empty());
}

TEST_F(ServerDeleteTest, OtherKeysOnlySetBusy) {
  PacketContext packet{kRQDEL, ""};
  handler.onMember("\"date\"", "x", packet);
  EXPECT_EQ(packet.answerType, "");
  EXPECT_TRUE(tracker.serverBusy);
  EXPECT_TRUE(log.lines.empty());
}

}  // namespace
}  // namespace kq
