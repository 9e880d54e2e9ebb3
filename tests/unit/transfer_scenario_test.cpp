// Engine scenarios for file transfer and server-ordered file operations: exact
// byte chunks into the SyncEngine, exact bytes out, real files in a temporary folder.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/tree_move.h"
#include "support/engine_harness.h"

namespace kq {
namespace {

const RequestId kId{'\x11', '\x22', '\x33', '\x44'};

std::string request(const char* type, const std::string& body) {
  return encodeHeader({type, kId, body.size()}) + body;
}
std::string answer(const char* type, std::uint64_t size = 0) { return encodeHeader({type, kId, size}); }
std::string rqfda(std::uint64_t size) { return encodeHeader({"RQFDA", kId, size}); }

class TransferScenario : public ::testing::Test {
 protected:
  TransferScenario() {
    EXPECT_TRUE(t.fs.createFolders(t.path("_config")));
    t.processes.delegate = &portable;
    t.connect();
    t.server.sends.clear();
  }
  std::string read(const std::string& relative) { return t.fs.readText(t.path(relative)).value_or("<missing>"); }
  test::NativeEngine t;
  PortableTreeMove portable{t.fs};
};

TEST_F(TransferScenario, PushInOneReadEach) {
  t.read(request("RQPUT", R"({"filepath":"\/docs\/report.pdf"})"));
  EXPECT_EQ(t.server.sends, std::vector<std::string>{answer("ANPUT")});
  t.read(rqfda(5) + "hello");
  EXPECT_EQ(t.server.sends, (std::vector<std::string>{answer("ANPUT"), answer("ANFDA")}));
  EXPECT_EQ(read("docs\\report.pdf"), "hello");
  EXPECT_FALSE(t.engine.protocol().fileDataMode);
}

TEST_F(TransferScenario, PushOverManyReadsWithTheNextRequestBehindTheData) {
  t.read(request("RQPUT", R"({"filepath":"\/big.bin"})"));
  std::string content(600000, 'z');
  content[0] = '{';  // file data that looks like JSON is still file data
  t.read(rqfda(content.size()) + content.substr(0, 229376 - 17));
  std::size_t offset = 229376 - 17;
  t.read(content.substr(offset, 229376));
  offset += 229376;
  // The last read carries the rest of the file and the next request.
  t.read(content.substr(offset) + request("RQFIL", R"({"filepath":"\/big.bin"})"));
  ASSERT_EQ(t.server.sends.size(), 4u);
  EXPECT_EQ(t.server.sends[1], answer("ANFDA"));
  EXPECT_EQ(t.server.sends[2], answer("ANFIL", content.size()));
  EXPECT_EQ(t.server.sends[3], content);
  EXPECT_EQ(read("big.bin"), content);
}

// The lines that reach the log file do not repeat with every read of file data.
TEST_F(TransferScenario, ShownLinesOfAPushDoNotGrowWithItsReads) {
  auto shownLinesOfPush = [this](const std::string& name, int reads) {
    t.log.lines.clear();
    t.read(request("RQPUT", R"({"filepath":"\/)" + name + R"("})"));
    const std::size_t chunk = 229376;
    t.read(rqfda(chunk * reads) + std::string(chunk - 17, 'x'));
    for (int i = 1; i < reads; ++i) t.read(std::string(chunk, 'x'));
    t.read(std::string(17, 'x'));
    std::size_t shown = 0;
    for (const auto& line : t.log.lines) shown += line.show;
    return shown;
  };
  EXPECT_EQ(shownLinesOfPush("one.bin", 1), shownLinesOfPush("ten.bin", 10));
}

TEST_F(TransferScenario, ZeroSizeAndExcludedPushes) {
  t.read(request("RQPUT", R"({"filepath":"\/empty.txt"})") );
  t.read(rqfda(0));
  EXPECT_TRUE(t.fs.isFile(t.path("empty.txt")));
  t.read(request("RQPUT", R"({"filepath":"\/draft.tmp"})"));
  t.read(rqfda(4) + "data");
  EXPECT_FALSE(t.fs.exists(t.path("draft.tmp")));
  EXPECT_EQ(t.server.sends, (std::vector<std::string>{answer("ANPUT"), answer("ANFDA"), answer("ANPUT"),
                                                      answer("ANFDA")}));
  EXPECT_TRUE(t.log.contains("RQFDA is unblocked."));
}

TEST_F(TransferScenario, TraversalIsRefusedEverywhere) {
  ASSERT_TRUE(t.fs.writeText(t.disk.path("outside.txt"), "secret"));
  ASSERT_TRUE(t.ini.writeInt(t.settingsFile(), "Basic", "filedeletion", 2));
  t.read(request("RQPUT", R"({"filepath":"\/..\/outside.txt"})"));
  t.read(rqfda(3) + "bad");
  t.read(request("RQFIL", R"({"filepath":"\/..\/outside.txt"})"));
  t.read(request("RQDEL", R"({"filepath":"\/..\/outside.txt"})"));
  t.read(request("RQMOV", R"({"sourcefilepath":"\/..\/","destinationfilepath":"\/stolen\/"})"));
  t.read(request("RQLST", R"({"filepath":"\/..\/"})"));
  const std::string empty = "{\"content\":[{}]}";
  EXPECT_EQ(t.server.sends,
            (std::vector<std::string>{answer("ANPUT"), answer("ANFDA"), answer("ANFIL"), answer("ANDEL"),
                                      answer("FLMOV"), answer("ANLST", empty.size()) + empty}));
  EXPECT_EQ(t.fs.readText(t.disk.path("outside.txt")).value_or(""), "secret");
  EXPECT_FALSE(t.fs.exists(t.path("stolen")));
}

TEST_F(TransferScenario, NonAsciiNameRoundTrip) {
  t.read(request("RQPUT", R"({"filepath":"\/caf\u00e9.txt"})"));
  t.read(rqfda(2) + "ok");
  EXPECT_EQ(read("caf\xe9.txt"), "ok");
  t.server.sends.clear();
  t.read(request("RQLST", R"({"filepath":""})"));
  // The listed time is the file's own modification time in local time.
  LocalTime m = t.clock.toLocal(t.fs.status(t.path("caf\xe9.txt")).modified);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, R"("mdate":"%04d-%02d-%02d","mtime":"%02d.%02d.%02d")", m.year, m.month,
                m.day, m.hour, m.minute, m.second);
  const std::string file = R"("filepath":"/caf\u00e9.txt","size":"2",)" + std::string(stamp);
  const std::string config = R"("filepath":"/_config","size":"0","mdate":"","mtime":"")";
  std::string listing = "{\"content\":[{" + config + "," + file + "}]}";
  std::string other = "{\"content\":[{" + file + "," + config + "}]}";
  ASSERT_EQ(t.server.sends.size(), 1u);
  std::string sent = t.server.sends[0];
  std::string text = sent.substr(kHeaderSize);
  EXPECT_TRUE(text == listing || text == other) << text;  // enumeration order is the disk's
  EXPECT_EQ(sent.substr(0, kHeaderSize), answer("ANLST", text.size()));
}

TEST_F(TransferScenario, DeletionPoliciesThroughTheEngine) {
  struct Case {
    int policy;
    bool keptInPlace;
    bool inTrash;
  };
  const Case cases[] = {{0, false, true}, {1, true, false}, {2, false, false}};
  for (const auto& c : cases) {
    ASSERT_TRUE(t.ini.writeInt(t.settingsFile(), "Basic", "filedeletion", c.policy));
    ASSERT_TRUE(t.fs.writeText(t.path("p" + std::to_string(c.policy) + ".txt"), "x"));
    t.server.sends.clear();
    t.read(request("RQDEL", "{\"filepath\":\"\\/p" + std::to_string(c.policy) + ".txt\"}"));
    EXPECT_EQ(t.server.sends, std::vector<std::string>{answer("ANDEL")}) << c.policy;
    EXPECT_EQ(t.fs.exists(t.path("p" + std::to_string(c.policy) + ".txt")), c.keptInPlace) << c.policy;
    EXPECT_EQ(t.fs.exists(t.path("_trash\\p" + std::to_string(c.policy) + ".txt")), c.inTrash) << c.policy;
  }
}

TEST_F(TransferScenario, FolderMoveAndItsEchoesBlocked) {
  ASSERT_TRUE(t.fs.createFolders(t.path("old\\sub")));
  ASSERT_TRUE(t.fs.writeText(t.path("old\\sub\\a.txt"), "a"));
  t.read(request("RQMOV", R"({"sourcefilepath":"\/old\/","destinationfilepath":"\/new\/"})"));
  EXPECT_TRUE(t.server.sends.empty());  // the answer waits for the settle time
  EXPECT_EQ(read("new\\sub\\a.txt"), "a");
  EXPECT_FALSE(t.fs.exists(t.path("old")));
  EXPECT_TRUE(t.clock.sleeps.empty());
  // Meanwhile the watcher's reports are handled, the move's echoes held back.
  t.engine.ClientSocket1Read("1" + t.path("new\\sub\\a.txt"));
  ASSERT_TRUE(t.fs.writeText(t.path("mine.txt"), "the user's"));
  t.engine.ClientSocket1Read("1" + t.path("mine.txt"));
  EXPECT_EQ(t.engine.tracker().modificationQueue, std::deque<std::string>{t.path("mine.txt")});
  t.clock.advance(kMoveSettleMs);
  t.engine.StatusTimer();
  EXPECT_EQ(t.server.sends, std::vector<std::string>{answer("ANMOV")});
  // A source member does not outlive its read event.
  t.read(request("RQMOV", R"({"sourcefilepath":"\/new\/"})"));
  t.read(request("RQMOV", R"({"destinationfilepath":"\/newer\/"})"));
  EXPECT_TRUE(t.fs.exists(t.path("new")));
  EXPECT_FALSE(t.fs.exists(t.path("newer")));
}

TEST_F(TransferScenario, DisconnectDuringATransferKeepsTheOlderCopy) {
  ASSERT_TRUE(t.fs.writeText(t.path("part.bin"), "older"));
  t.read(request("RQPUT", R"({"filepath":"\/part.bin"})"));
  t.read(rqfda(100) + "first");
  EXPECT_EQ(read("part.bin.kqpart"), "first");
  t.server.active = false;
  t.engine.FilesyncSocketDisconnect();
  EXPECT_EQ(read("part.bin"), "older");
  EXPECT_FALSE(t.fs.exists(t.path("part.bin.kqpart")));
  EXPECT_FALSE(t.engine.protocol().fileDataMode);
  t.connect();
  t.server.sends.clear();
  t.read(request("RQPUT", R"({"filepath":"\/next.txt"})"));
  EXPECT_EQ(t.server.sends, std::vector<std::string>{answer("ANPUT")});
}

}  // namespace
}  // namespace kq
