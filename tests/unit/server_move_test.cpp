#include "fileops/server_move.h"

#include <gtest/gtest.h>

#include "support/handler_fixture.h"

namespace kq {
namespace {

class ServerMoveTest : public test::HandlerFixture {
 protected:
  // move sends the members in order as one packet; returns the answer type,
  // the one of the packet or, for a finished move, the one the timer sends
  // once the settle time is up.
  std::string move(const std::vector<std::pair<std::string, std::string>>& members) {
    PacketContext packet{kRQMOV, ""};
    for (const auto& [key, value] : members) handler.onMember("\"" + key + "\"", value, packet);
    handler.endOfReadEvent();
    if (!handler.answerPending()) return packet.answerType;
    EXPECT_TRUE(packet.answerType.empty());
    server.sends.clear();
    clock.advance(kMoveSettleMs);
    handler.tick();
    EXPECT_FALSE(handler.answerPending());
    return server.sends.size() == 1 ? server.sends[0].substr(0, 5) : "<" + std::to_string(server.sends.size()) + " sends>";
  }
  std::string move(const std::string& from, const std::string& to) {
    return move({{"sourcefilepath", from}, {"destinationfilepath", to}});
  }
  ServerMove handler{ports};
};

TEST_F(ServerMoveTest, FolderIsMovedAndAnsweredAnmov) {
  ASSERT_TRUE(write("old\\a.txt", "a"));
  ASSERT_TRUE(write("old\\sub\\b.txt", "b"));
  EXPECT_EQ(move(R"(\/old\/)", R"(\/new\/)"), "ANMOV");
  EXPECT_FALSE(exists("old"));
  EXPECT_EQ(read("new\\a.txt"), "a");
  EXPECT_EQ(read("new\\sub\\b.txt"), "b");
  EXPECT_EQ(status.panels[1], "Rename folder/file");
  EXPECT_EQ(folders.shown, std::vector<std::string>{""});
  EXPECT_EQ(tracker.blockedPaths, (std::vector<std::string>{at("old_____"), at("new"), at("old")}));
  EXPECT_TRUE(tracker.serverQueue.empty());
  const std::vector<std::string> expected = {
      "Directory to move:", at("old\\"), "Move to :", at("new\\"),
      "Moving data:", "From: " + at("old"), "To: " + at("new"),
      "File command move: robocopy /move /e \"" + at("old") + "\" \"" + at("new") + "\"",
      "ANMOV ===>",  // the answer, sent once the settle time is up
  };
  EXPECT_EQ(log.texts(), expected);
}

TEST_F(ServerMoveTest, MoveMergesIntoAnExistingDestination) {
  ASSERT_TRUE(write("old\\a.txt", "new a"));
  ASSERT_TRUE(write("new\\a.txt", "old a"));
  ASSERT_TRUE(write("new\\keep.txt", "k"));
  EXPECT_EQ(move(R"(\/old\/)", R"(\/new\/)"), "ANMOV");
  EXPECT_EQ(read("new\\a.txt"), "new a");
  EXPECT_EQ(read("new\\keep.txt"), "k");
}

TEST_F(ServerMoveTest, FolderInUseIsNotMoved) {
  ASSERT_TRUE(write("old\\a.txt", "a"));
  faulty.failRename("old_____");  // the test rename fails: the folder is held open
  EXPECT_EQ(move(R"(\/old\/)", R"(\/new\/)"), "FLMOV");
  EXPECT_EQ(read("old\\a.txt"), "a");
  EXPECT_FALSE(exists("new"));
  EXPECT_TRUE(processes.moves.empty());
  EXPECT_EQ(log.texts().back(), "Error: Can not move directory! Sending FLMOV to the Server...");
  EXPECT_EQ(status.panels[1], "Move folder/file error!");
}

TEST_F(ServerMoveTest, LockedItemStaysAtTheSourceAndIsAnsweredFlmov) {
  ASSERT_TRUE(write("old\\locked.txt", "l"));
  ASSERT_TRUE(write("old\\free.txt", "f"));
  faulty.failRename("locked.txt");
  EXPECT_EQ(move(R"(\/old\/)", R"(\/new\/)"), "FLMOV");
  EXPECT_EQ(read("old\\locked.txt"), "l");
  EXPECT_EQ(read("new\\free.txt"), "f");
  EXPECT_FALSE(exists("new\\locked.txt"));
}

TEST_F(ServerMoveTest, MoveThatMovesNothingLosesNothing) {
  ASSERT_TRUE(write("old\\a.txt", "a"));
  robocopyMovesNothing();
  EXPECT_EQ(move(R"(\/old\/)", R"(\/new\/)"), "FLMOV");
  EXPECT_EQ(read("old\\a.txt"), "a");
}

TEST_F(ServerMoveTest, MissingSourceCreatesTheDestination) {
  EXPECT_EQ(move(R"(\/gone\/)", R"(\/x\/y\/new\/)"), "ANMOV");
  EXPECT_TRUE(disk.fs().isFolder(at("x\\y\\new")));
  EXPECT_TRUE(processes.moves.empty());
}

TEST_F(ServerMoveTest, DestinationThatCannotBeCreated) {
  faulty.failCreateFolders("new");
  EXPECT_EQ(move(R"(\/gone\/)", R"(\/new\/)"), "ANMOV");
  EXPECT_TRUE(log.contains("Error in RQMOV command parsing!"));
}

TEST_F(ServerMoveTest, RenameBackThatFailsIsAnsweredFlmov) {
  ASSERT_TRUE(write("old\\a.txt", "a"));
  // Only the renaming back (from the test name) fails.
  class BackFails : public test::FaultyFileSystem {
   public:
    using FaultyFileSystem::FaultyFileSystem;
    bool rename(const std::string& from, const std::string& to) override {
      if (from.size() > 5 && from.compare(from.size() - 5, 5, "_____") == 0) return false;
      return FaultyFileSystem::rename(from, to);
    }
  };
  BackFails fs(disk.fs());
  HandlerPorts p{server, fs, log, status, folders, disk.ini(), clock, processes, protocol, tracker,
                 ports.syncFolder, ports.settingsPath, ports.isExcluded};
  ServerMove h(p);
  PacketContext packet{kRQMOV, ""};
  h.onMember("\"sourcefilepath\"", R"(\/old\/)", packet);
  h.onMember("\"destinationfilepath\"", R"(\/new\/)", packet);
  EXPECT_EQ(packet.answerType, "FLMOV");
  EXPECT_TRUE(log.contains("Error in RQMOV command parsing!"));
  EXPECT_EQ(read("old_____\\a.txt"), "a");  // left under the test name, nothing lost
}

TEST_F(ServerMoveTest, DestinationBeforeSourceChangesNothing) {
  ASSERT_TRUE(write("old\\a.txt", "a"));
  EXPECT_EQ(move({{"destinationfilepath", R"(\/new\/)"}, {"sourcefilepath", R"(\/old\/)"}}), "ANMOV");
  EXPECT_EQ(read("old\\a.txt"), "a");
  EXPECT_FALSE(exists("new"));
  // The source of that packet does not carry over to the next one.
  EXPECT_EQ(move({{"destinationfilepath", R"(\/new\/)"}}), "ANMOV");
  EXPECT_FALSE(exists("new"));
  EXPECT_TRUE(log.lines.empty());
  EXPECT_TRUE(tracker.serverBusy);
}

TEST_F(ServerMoveTest, RefusedPathsAreAnsweredFlmov) {
  ASSERT_TRUE(write("old\\a.txt", "a"));
  EXPECT_EQ(move(R"(\/old\/)", R"(\/..\/stolen\/)"), "FLMOV");
  EXPECT_EQ(move(R"(\/..\/)", R"(\/new\/)"), "FLMOV");
  EXPECT_EQ(move(R"(\/)", R"(\/new\/)"), "FLMOV");
  EXPECT_EQ(read("old\\a.txt"), "a");
  EXPECT_FALSE(exists("new"));
  EXPECT_FALSE(disk.fs().exists(disk.path("stolen")));
  EXPECT_TRUE(log.contains("Refused server path \\/..\\/stolen\\/: a parent folder segment"));
}

// The settle time holds nothing: the answer waits on the timer, goes out with
// the RQMOV's own id once the time is up, and reflects the source as it is then.
class DeferredMoveAnswer : public ServerMoveTest {
 protected:
  const RequestId kMoveId{'\x71', '\x72', '\x73', '\x74'};
  const RequestId kNextId{'\x01', '\x02', '\x03', '\x04'};
  // startMove runs the RQMOV's members; the move is done, its answer waits.
  void startMove() {
    ASSERT_TRUE(write("old\\a.txt", "a"));
    protocol.currentRequestId = kMoveId;
    PacketContext packet{kRQMOV, ""};
    handler.onMember("\"sourcefilepath\"", R"(\/old\/)", packet);
    handler.onMember("\"destinationfilepath\"", R"(\/new\/)", packet);
    handler.endOfReadEvent();
    EXPECT_EQ(packet.answerType, "");
    EXPECT_TRUE(handler.answerPending());
    EXPECT_EQ(read("new\\a.txt"), "a");
    protocol.currentRequestId = kNextId;
  }
  std::vector<std::string> answers(const char* type) { return {encodeHeader({type, kMoveId, 0})}; }
};

TEST_F(DeferredMoveAnswer, TheAnswerGoesOutWhenTheSettleTimeIsUp) {
  startMove();
  clock.advance(kMoveSettleMs - 1);
  handler.tick();
  EXPECT_TRUE(server.sends.empty());
  clock.advance(1);
  handler.tick();
  EXPECT_EQ(server.sends, answers("ANMOV"));
  EXPECT_EQ(status.panels[1], "Rename folder/file");
  handler.tick();
  EXPECT_EQ(server.sends.size(), 1u);
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(DeferredMoveAnswer, ASourceBackBeforeTheTimeIsUpIsAnsweredFlmov) {
  startMove();
  ASSERT_TRUE(write("old\\late.txt", "written meanwhile"));
  clock.advance(kMoveSettleMs);
  handler.tick();
  EXPECT_EQ(server.sends, answers("FLMOV"));
  EXPECT_TRUE(log.contains("Error: Can not move directory! Sending FLMOV to the Server..."));
  EXPECT_EQ(read("old\\late.txt"), "written meanwhile");
}

TEST_F(DeferredMoveAnswer, TheNextRequestFindsTheAnswerSentFirst) {
  startMove();
  handler.onRequestHeader(kRQCHG);
  EXPECT_EQ(server.sends, answers("ANMOV"));
  EXPECT_FALSE(handler.answerPending());
}

TEST_F(DeferredMoveAnswer, AClosedConnectionDropsTheAnswer) {
  startMove();
  handler.onSessionClosed();
  clock.advance(kMoveSettleMs);
  handler.tick();
  EXPECT_TRUE(server.sends.empty());
  EXPECT_EQ(log.texts().back(), "The answer to RQMOV is dropped: the connection closed");
}

}  // namespace
}  // namespace kq
