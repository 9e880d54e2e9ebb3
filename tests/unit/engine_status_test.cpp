// The engine's status record: what it publishes after each event of a session.
#include <gtest/gtest.h>

#include "engine/status_report.h"
#include "engine/status_text.h"
#include "support/engine_harness.h"
#include "support/faulty_file_system.h"
#include "support/scoped_code_page.h"

namespace kq {
namespace {

const RequestId kId{'\x11', '\x22', '\x33', '\x44'};

std::string request(const char* type, const std::string& body) {
  return encodeHeader({type, kId, body.size()}) + body;
}

class EngineStatusTest : public ::testing::Test {
 protected:
  EngineStatusTest() { EXPECT_TRUE(t.fs.createFolders(t.path("_config"))); }
  const EngineStatus& published() {
    t.engine.StatusTimer();
    return t.published.last();
  }
  test::MemoryEngine t;
};

TEST_F(EngineStatusTest, ConnectionQueuesAndTheEndOfACycle) {
  EXPECT_FALSE(published().connected);
  EXPECT_EQ(published().server, "sync.example.com:7777");
  EXPECT_FALSE(published().cycleEndedAt);
  t.connect();
  t.memoryFs.addFile(t.path("a.txt"), "a");
  t.engine.ClientSocket1Read("3" + t.path("a.txt"));
  t.watcher.active = true;
  const EngineStatus& s = published();
  EXPECT_TRUE(s.connected);
  EXPECT_TRUE(s.watcherLinkUp);
  EXPECT_EQ(s.queuedModifications, 1);
  t.clock.advance(5000);
  t.read(request("RQFLS", R"({"date":"2024-03-07","time":""})"));
  EXPECT_EQ(published().cycleEndedAt, t.clock.epochMs / 1000);
  EXPECT_EQ(published().activity, "Listening...");
}

TEST_F(EngineStatusTest, EveryRefusedServerPathIsAFailedItemWithItsReasonOnce) {
  t.connect();
  t.read(request("RQPUT", R"({"filepath":"\/..\/outside.txt"})"));
  t.read(request("RQFIL", R"({"filepath":"\/..\/outside.txt"})"));
  t.read(request("RQDEL", R"({"filepath":"\/a:b.txt"})"));
  const auto& failed = published().failedItems;
  ASSERT_EQ(failed.size(), 2u);
  EXPECT_EQ(failed[0], (FailedItem{"/../outside.txt", "a parent folder segment"}));
  EXPECT_EQ(failed[1].path, "/a:b.txt");
  EXPECT_FALSE(failed[1].reason.empty());
  EXPECT_NE(statusSummary(published()).find("Failed items: 2"), std::string::npos);
}

TEST(FailedItemNamesTest, ServerValuesAndWalkedNamesShowAsPathsInTheSyncFolder) {
  struct Case {
    std::string value, shown;
  };
  const Case server[] = {
      {"\\/docs\\/a:b.txt", "/docs/a:b.txt"},
      {"\\/r\\u00e9sum\\u00e9.txt", "/résumé.txt"},
      {"\\/\\u65e5\\u672c.txt", "/日本.txt"},
      {"\\/\\ud83d\\ude00.txt", "/😀.txt"},
      {"\\/caf\xe9.txt", "/café.txt"},  // code-page bytes
      {"\\/q\\\"uote", "/q\"uote"},
  };
  for (const auto& c : server) EXPECT_EQ(shownServerPath(c.value), c.shown) << c.value;
  const Case walked[] = {
      {"Z:\\S\\docs\\\\u65e5\\u672c.txt", "docs/日本.txt"},
      {"Z:\\S\\what?.txt", "what?.txt"},
      {"Z:\\S\\u0041\\x.txt", "u0041/x.txt"},  // an ASCII escape is never a display escape
      {"Z:\\S\\caf\xe9\\\\ud83d\\ude00", "café/😀"},
  };
  for (const auto& c : walked) EXPECT_EQ(shownUnsyncedName(c.value, "Z:\\S"), c.shown) << c.value;
}

TEST_F(EngineStatusTest, AFileBeingReceivedShowsItsBytesAndRate) {
  t.connect();
  t.read(request("RQPUT", R"({"filepath":"\/docs\/big.bin"})"));
  t.read(encodeHeader({"RQFDA", kId, 3000}) + std::string(1000, 'x'));
  EXPECT_EQ(published().receiving, (TransferProgress{"docs/big.bin", 1000, 3000, 0}));
  t.clock.advance(1000);
  t.read(std::string(1000, 'x'));
  EXPECT_EQ(published().receiving, (TransferProgress{"docs/big.bin", 2000, 3000, 1000}));
  EXPECT_EQ(transferText(*published().receiving), "docs/big.bin 2.0 KB / 2.9 KB at 1000 B/s");
  t.read(std::string(1000, 'x'));
  EXPECT_FALSE(published().receiving);
}

// Every shown name is read in the active code page: under 932 the trail byte
// 0x5C of \u8868 is part of the character, never a separator.
TEST(ShownNamesTest, LocalNamesAreReadInTheActiveCodePage) {
  const std::string hyou = "\x95\x5c";  // \u8868 in code page 932
  {
    test::ScopedCodePage japanese(932);
    EXPECT_EQ(shownName("Z:\\S\\docs\\" + hyou + ".txt", "Z:\\S"), "docs/\u8868.txt");
    EXPECT_EQ(shownUnsyncedName("Z:\\S\\" + hyou + "\\\\u0416.txt", "Z:\\S"), "\u8868/\u0416.txt");
  }
  EXPECT_EQ(shownName("Z:\\S\\caf\xe9.txt", "Z:\\S"), "caf\u00e9.txt");
}

TEST(MegabytesLeftTest, ByteCountsRoundUpToWholeMiB) {
  const std::pair<std::int64_t, std::int64_t> cases[] = {
      {0, 0}, {-5, 0}, {1, 1}, {1 << 20, 1}, {(1 << 20) + 1, 2}, {100LL << 20, 100}};
  for (auto [bytes, mib] : cases) EXPECT_EQ(megabytesLeft(bytes), mib) << bytes;
}

// "MB left" while files move: the rest of the file under way in either
// direction plus the files queued to be sent, each counted once.
TEST_F(EngineStatusTest, MegabytesLeftCountTheTransferUnderWayAndTheQueuedFiles) {
  constexpr std::int64_t kMiB = 1 << 20;
  t.connect();
  t.memoryFs.addFile(t.path("up1.bin"), std::string(3 * kMiB, 'u'));
  t.memoryFs.addFile(t.path("up2.txt"), std::string(300 * 1024, 'v'));
  ASSERT_TRUE(t.fs.createFolders(t.path("docs")));
  for (const char* name : {"up1.bin", "up2.txt", "docs", "gone.txt"})
    t.engine.ClientSocket1Read("3" + t.path(name));
  const std::int64_t queued = 3 * kMiB + 300 * 1024;
  EXPECT_EQ(published().bytesLeft, queued);
  EXPECT_EQ(megabytesLeftPanel(published()), "");  // nothing moves: the server's figure stands

  t.read(request("RQPUT", R"({"filepath":"\/big.bin"})"));
  t.read(encodeHeader({"RQFDA", kId, static_cast<std::uint64_t>(5 * kMiB)}) + std::string(kMiB / 2, 'x'));
  EXPECT_EQ(published().bytesLeft, queued + 5 * kMiB - kMiB / 2);
  EXPECT_EQ(megabytesLeftPanel(published()), "MB left: 8");
  t.read(std::string(4 * kMiB + kMiB / 2, 'x'));
  EXPECT_EQ(published().bytesLeft, queued);
  EXPECT_EQ(megabytesLeftPanel(published()), "");

  // The file being sent counts by what is left of it, not again as queued.
  t.clock.advance(1000);
  const std::size_t before = t.published.records.size();
  t.read(request("RQFIL", R"({"filepath":"\/up1.bin"})"));
  ASSERT_GT(t.published.records.size(), before);
  const EngineStatus& sending = t.published.records[before];
  ASSERT_TRUE(sending.sending);
  EXPECT_EQ(sending.bytesLeft, 300 * 1024 + 3 * kMiB - sending.sending->bytesDone);
  EXPECT_EQ(megabytesLeftPanel(sending), "MB left: " + std::to_string(megabytesLeft(sending.bytesLeft)));
  EXPECT_FALSE(published().sending);
}

// The engine on a disk that can be made full.
struct DiskToFill {
  test::MemoryFileSystem memory;
  test::MemoryIniFile memoryIni{&memory};
  test::FaultyFileSystem disk{memory};
};
class FullDiskEngine : public DiskToFill, public test::EngineHarness {
 public:
  FullDiskEngine() : EngineHarness(disk, memoryIni, "C:\\Users\\user\\Docs", "C:\\Program Files\\Korvalinq") {}
};

// A file that does not fit marks the disk full, in the record and among the
// failed items under its own name, until a file arrives whole.
TEST(EngineDiskFullTest, AFileThatDoesNotFitMarksTheDiskFullUntilAFileArrives) {
  FullDiskEngine t;
  ASSERT_TRUE(t.fs.createFolders(t.path("_config")));
  t.connect();
  t.disk.fillDisk(".kqpart");
  auto push = [&](const char* name, const std::string& data) {
    t.read(request("RQPUT", std::string(R"({"filepath":"\/)") + name + R"("})"));
    t.read(encodeHeader({"RQFDA", kId, data.size()}) + data);
    t.engine.StatusTimer();
    return t.published.last();
  };
  EngineStatus s = push("big.bin", "0123456789");
  EXPECT_TRUE(s.diskFull);
  EXPECT_EQ(s.failedItems, (std::vector<FailedItem>{{"/big.bin", kDiskFullReason}}));
  EXPECT_NE(statusSummary(s).find("\nDisk full: files are not received"), std::string::npos);
  EXPECT_TRUE(push("big2.bin", "0123456789").diskFull);
  t.disk.heal();
  s = push("big.bin", "0123456789");
  EXPECT_FALSE(s.diskFull);
  EXPECT_EQ(s.failedItems, (std::vector<FailedItem>{{"/big2.bin", kDiskFullReason}}));
}

TEST_F(EngineStatusTest, AMissingSyncFolderShows) {
  ASSERT_TRUE(t.fs.removeAll(t.syncFolder));
  t.engine.CheckChangesTimer();
  EXPECT_FALSE(published().syncFolderPresent);
  EXPECT_NE(statusSummary(published()).find("Sync folder not found"), std::string::npos);
}

}  // namespace
}  // namespace kq
