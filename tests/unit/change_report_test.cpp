#include "protocol/change_report.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "support/engine_harness.h"
#include "support/fake_clock.h"
#include "support/scoped_code_page.h"

namespace kq {
namespace {

using namespace std::string_literals;
using test::LogLine;

const RequestId kId{'\x11', '\x22', '\x33', '\x44'};
const std::string kSync = "C:\\Users\\user\\Docs";
const std::string kBody = R"({"date":"2024-03-07","time":"","filesleft":"12","mbytesleft":"3"})";

std::string rqchg(const std::string& body = kBody) { return encodeHeader({"RQCHG", kId, 0}) + body; }
std::string anchg(const std::string& json) { return encodeHeader({"ANCHG", kId, json.size()}) + json; }

// report is the JSON of a report dated 2024-03-07 with an empty time.
std::string report(const std::string& filepath, const std::string& size, const std::string& type,
                   const std::string& newname = "") {
  std::string json = R"({"date":"2024-03-07","time":"","changes":[{"filepath":")" + filepath;
  if (!newname.empty()) json += R"(","newname":")" + newname;
  return json + R"(","date":"2024-03-07","time":"","mdate":"","mtime":"","size":")" + size +
         R"(","changetype":")" + type + R"("}]})";
}

class ChangeReportTest : public ::testing::Test {
 protected:
  ChangeReportTest() {
    EXPECT_TRUE(t.fs.createFolders(kSync + "\\sub2"));
    EXPECT_TRUE(t.fs.createFolders(kSync + "\\sub"));
    EXPECT_TRUE(t.fs.writeText(kSync + "\\sub\\a.txt", "hello"));
  }
  ChangeTracker& tracker() { return t.engine.tracker(); }
  test::MemoryEngine t{kSync};
};

struct ReportCase {
  const char* name;
  std::function<void(ChangeTracker&)> queue;
  std::string json;
};

TEST_F(ChangeReportTest, ReportsOneChangeInTheServerForm) {
  const ReportCase cases[] = {
      {"nothing pending", [](ChangeTracker&) {}, report("", "0", "")},
      {"file rename", [](ChangeTracker& q) { q.renameQueue.push_back({kSync + "\\a.txt", kSync + "\\b.txt"}); },
       report("/a.txt", "", "RENAMED", "b.txt")},
      {"folder rename", [](ChangeTracker& q) { q.renameQueue.push_back({kSync + "\\sub", kSync + "\\sub2"}); },
       report("/sub/", "", "RENAMED", "sub2")},
      {"modified file", [](ChangeTracker& q) { q.modificationQueue.push_back(kSync + "\\sub\\a.txt"); },
       report("/sub/a.txt", "5", "MODIFIED")},
      {"modified, gone", [](ChangeTracker& q) { q.modificationQueue.push_back(kSync + "\\gone.txt"); },
       report("/gone.txt", "-1", "MODIFIED")},
      {"modified folder", [](ChangeTracker& q) { q.modificationQueue.push_back(kSync + "\\sub2"); },
       report("/sub2", "-1", "MODIFIED")},
      {"deleted", [](ChangeTracker& q) { q.deleteQueue.push_back(kSync + "\\x\\y.txt"); },
       report("/x/y.txt", "-1", "DELETED")},
      {"code-page byte", [](ChangeTracker& q) { q.modificationQueue.push_back(kSync + "\\\xE6.txt"); },
       report("/\\u00e6.txt", "-1", "MODIFIED")},
      {"$u in a name, escaped as the listing does",
       [](ChangeTracker& q) { q.deleteQueue.push_back(kSync + "\\a$u1.txt"); },
       report("/a\\u0024u1.txt", "-1", "DELETED")},
      {"$u in a new name", [](ChangeTracker& q) { q.renameQueue.push_back({kSync + "\\a.txt", kSync + "\\$u00e9"}); },
       report("/a.txt", "", "RENAMED", "\\u0024u00e9")},
      {"code-page byte in a new name",
       [](ChangeTracker& q) { q.renameQueue.push_back({kSync + "\\a.txt", kSync + "\\\xE9t\xE9.txt"}); },
       report("/a.txt", "", "RENAMED", "\\u00e9t\\u00e9.txt")},
      {"quote and control character (POSIX names)",
       [](ChangeTracker& q) { q.renameQueue.push_back({kSync + "\\a\"b", kSync + "\\c\td"}); },
       report("/a\\u0022b", "", "RENAMED", "c\\u0009d")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    t.server.sends.clear();
    c.queue(tracker());
    t.read(rqchg());
    EXPECT_EQ(t.server.sends, std::vector<std::string>{anchg(c.json)});
    EXPECT_TRUE(tracker().renameQueue.empty() && tracker().modificationQueue.empty() &&
                tracker().deleteQueue.empty());
  }
}

// In code page 932 the trail byte 0x5C of a character is neither turned into
// "/" nor taken for the separator before the new name; both bytes go out escaped.
TEST_F(ChangeReportTest, DoubleByteNamesStayWhole) {
  test::ScopedCodePage japanese(932);
  const std::string table = "\x95\x5C";  // U+8868
  const ReportCase cases[] = {
      {"modified", [&](ChangeTracker& q) { q.modificationQueue.push_back(kSync + "\\" + table + ".txt"); },
       report("/\\u0095\\u005c.txt", "-1", "MODIFIED")},
      {"renamed", [&](ChangeTracker& q) { q.renameQueue.push_back({kSync + "\\a.txt", kSync + "\\" + table}); },
       report("/a.txt", "", "RENAMED", "\\u0095\\u005c")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    t.server.sends.clear();
    c.queue(tracker());
    t.read(rqchg());
    EXPECT_EQ(t.server.sends, std::vector<std::string>{anchg(c.json)});
  }
}

TEST_F(ChangeReportTest, ModificationLogLinesAndPanels) {
  tracker().modificationQueue.push_back(kSync + "\\sub\\a.txt");
  t.log.lines.clear();
  t.read(rqchg());
  const std::string json = report("/sub/a.txt", "5", "MODIFIED");
  std::vector<LogLine> expected = {
      {"<===", false},
      {"Packet type: 1", false},
      {"Received header: RQCHG\x11\x22\x33\x44", true},
      {"JSON string: {\"jsonReceived\":[" + kBody + "]}", true},
      {"Parsing packet type 1", true},
      {"Preparing the file for the Server:", true},
      {kSync + "\\sub\\a.txt", true},
      {"Server filepath: /sub/a.txt", true},
      {"ANCHG ===>", true},
      {"JSON to Server:", true},
      {json, true},
      {"JSON buffer length: " + std::to_string(json.size()), true},
  };
  EXPECT_EQ(t.log.lines, expected);
  EXPECT_EQ(t.status.panels[4], "Files left: 12");
  EXPECT_EQ(t.status.panels[5], "MB left: 3");
  EXPECT_TRUE(tracker().serverBusy);
  EXPECT_EQ(t.engine.changeReport().serverDate, "2024-03-07");
}

TEST_F(ChangeReportTest, RenameAndDeletionLogLines) {
  tracker().renameQueue.push_back({kSync + "\\a.txt", kSync + "\\b.txt"});
  tracker().deleteQueue.push_back(kSync + "\\x\\y.txt");
  t.read(rqchg());
  t.read(rqchg());
  auto texts = t.log.texts();
  auto at = [&](const std::string& line) { return std::find(texts.begin(), texts.end(), line) - texts.begin(); };
  auto renameAt = at("Preparing the directory/file to rename for the Server");
  ASSERT_LT(renameAt + 5, static_cast<long>(texts.size()));
  EXPECT_EQ(std::vector<std::string>(texts.begin() + renameAt + 1, texts.begin() + renameAt + 5),
            (std::vector<std::string>{"Old name", kSync + "\\a.txt", "New name", kSync + "\\b.txt"}));
  auto deleteAt = at("Sending file deleting request:");
  ASSERT_LT(deleteAt + 2, static_cast<long>(texts.size()));
  EXPECT_EQ(texts[deleteAt + 1], kSync + "\\x\\y.txt");
  EXPECT_EQ(texts[deleteAt + 2], "Server filepath: /x/y.txt");
  EXPECT_EQ(t.status.panels[1], "Sending delete request");
}

TEST_F(ChangeReportTest, QueuesDrainRenamesThenModificationsThenDeletions) {
  tracker().deleteQueue.push_back(kSync + "\\d.txt");
  tracker().modificationQueue.push_back(kSync + "\\sub\\a.txt");
  tracker().renameQueue.push_back({kSync + "\\a.txt", kSync + "\\b.txt"});
  for (int i = 0; i < 4; ++i) t.read(rqchg());
  EXPECT_EQ(t.server.sends, (std::vector<std::string>{
                                anchg(report("/a.txt", "", "RENAMED", "b.txt")),
                                anchg(report("/sub/a.txt", "5", "MODIFIED")),
                                anchg(report("/d.txt", "-1", "DELETED")),
                                anchg(report("", "0", "")),
                            }));
}

TEST_F(ChangeReportTest, EmptyDateTakesTheLocalDateAndTime) {
  t.read(rqchg(R"({"date":"","time":""})"));
  const std::string json =
      R"({"date":"2024-03-07","time":"14:05:09","changes":[{"filepath":"","date":"2024-03-07","time":"14:05:09","mdate":"","mtime":"","size":"0","changetype":""}]})";
  EXPECT_EQ(t.server.sends, std::vector<std::string>{anchg(json)});
}

TEST_F(ChangeReportTest, CutOffBodyStillGetsAReportAndTheAnswer) {
  tracker().modificationQueue.push_back(kSync + "\\sub\\a.txt");
  t.clock.setLocalTime(2025, 12, 31, 23, 59, 58);
  t.read(rqchg(R"({"date":"2024-03-07","ti)"));
  const std::string json =
      R"({"date":"2025-12-31","time":"23:59:58","changes":[{"filepath":"/sub/a.txt","date":"2025-12-31","time":"23:59:58","mdate":"","mtime":"","size":"5","changetype":"MODIFIED"}]})";
  EXPECT_EQ(t.server.sends, (std::vector<std::string>{anchg(json), encodeHeader({"ANCHG", kId, 0})}));
}

TEST_F(ChangeReportTest, HeaderBytewiseThenBody) {
  tracker().deleteQueue.push_back(kSync + "\\d.txt");
  t.readBytewise(encodeHeader({"RQCHG", kId, 0}));
  t.read(kBody);
  EXPECT_EQ(t.server.sends, std::vector<std::string>{anchg(report("/d.txt", "-1", "DELETED"))});
}

TEST_F(ChangeReportTest, EveryTimeMemberReportsAndDateAfterTimeServesTheNextReport) {
  tracker().deleteQueue.push_back(kSync + "\\d.txt");
  t.read(rqchg(R"({"date":"2024-03-07","time":"","time":"","date":"2024-03-08"})"));
  ASSERT_EQ(t.server.sends.size(), 2u);
  EXPECT_EQ(t.server.sends[0], anchg(report("/d.txt", "-1", "DELETED")));
  EXPECT_EQ(t.server.sends[1], anchg(report("", "0", "")));
  EXPECT_EQ(t.engine.changeReport().serverDate, "2024-03-08");
}

TEST_F(ChangeReportTest, ChangeOutsideTheSyncFolderIsDroppedAndTheNextReported) {
  tracker().modificationQueue.push_back("C:\\Users\\user\\Other\\Docs\\x.txt");
  tracker().modificationQueue.push_back(kSync + "x\\y.txt");  // a sibling that starts alike
  tracker().deleteQueue.push_back(kSync + "\\d.txt");
  t.read(rqchg());
  EXPECT_TRUE(t.log.contains("Change outside the sync folder dropped: C:\\Users\\user\\Other\\Docs\\x.txt"));
  EXPECT_TRUE(t.log.contains("Change outside the sync folder dropped: " + kSync + "x\\y.txt"));
  EXPECT_EQ(t.server.sends, std::vector<std::string>{anchg(report("/d.txt", "-1", "DELETED"))});
  EXPECT_TRUE(tracker().modificationQueue.empty());
}

struct ServerPathCase {
  std::string folder;
  std::string path;
  std::optional<std::string> server;
};

// The entry behind a report goes back to the front of its queue when the
// connection closes before the server's next request, or when the send fails;
// a next request header confirms it.
TEST_F(ChangeReportTest, UnconfirmedReportGoesBackToTheFrontOfItsQueue) {
  const std::string a = kSync + "\\sub\\a.txt", b = kSync + "\\b.txt";
  const RenameEntry rename{kSync + "\\r.txt", kSync + "\\s.txt"};
  enum class Then { Close, RequestThenClose, SendRefused };
  struct Case {
    const char* name;
    std::function<void(ChangeTracker&)> queue;  // the first entry is reported
    Then then;
    std::deque<std::string> modifications, deletions;
    std::deque<RenameEntry> renames;
  };
  const std::string line = "Change report not confirmed by the server, queued again: ";
  const Case cases[] = {
      {"modification, closed", [&](ChangeTracker& q) { q.modificationQueue = {a, b}; }, Then::Close, {a, b}, {}, {}},
      {"modification, confirmed", [&](ChangeTracker& q) { q.modificationQueue = {a, b}; }, Then::RequestThenClose,
       {b}, {}, {}},
      {"modification, send refused", [&](ChangeTracker& q) { q.modificationQueue = {a, b}; }, Then::SendRefused,
       {a, b}, {}, {}},
      {"deletion, closed", [&](ChangeTracker& q) { q.deleteQueue = {b, a}; }, Then::Close, {}, {b, a}, {}},
      {"rename, closed", [&](ChangeTracker& q) { q.renameQueue = {rename}; q.deleteQueue = {a}; }, Then::Close,
       {}, {a}, {rename}},
      {"rename, confirmed", [&](ChangeTracker& q) { q.renameQueue = {rename}; }, Then::RequestThenClose, {}, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tracker().modificationQueue.clear();
    tracker().deleteQueue.clear();
    tracker().renameQueue.clear();
    t.log.lines.clear();
    c.queue(tracker());
    t.server.failFrom = c.then == Then::SendRefused ? 0 : -1;
    t.read(rqchg());
    if (c.then == Then::RequestThenClose) t.read(encodeHeader({"RQFLS", kId, 0}) + R"({"date":"","time":""})");
    if (c.then != Then::SendRefused) t.engine.FilesyncSocketDisconnect();
    EXPECT_EQ(tracker().modificationQueue, c.modifications);
    EXPECT_EQ(tracker().deleteQueue, c.deletions);
    EXPECT_EQ(tracker().renameQueue, c.renames);
    bool back = c.then != Then::RequestThenClose;
    std::string first = c.name[0] == 'r' ? rename.oldPath : c.name[0] == 'd' ? b : a;
    EXPECT_EQ(t.log.contains(line + first), back);
  }
}

TEST_F(ChangeReportTest, ReturnedDeletionGivesWayToANewerModification) {
  const std::string a = kSync + "\\sub\\a.txt";
  tracker().deleteQueue = {a};
  t.read(rqchg());
  tracker().appendModification(a);  // the file is back before the connection closes
  t.engine.FilesyncSocketDisconnect();
  EXPECT_TRUE(tracker().deleteQueue.empty());
  EXPECT_EQ(tracker().modificationQueue, std::deque<std::string>{a});
  // A report whose connection closed twice is returned once.
  t.engine.FilesyncSocketDisconnect();
  EXPECT_EQ(tracker().modificationQueue, std::deque<std::string>{a});
}

// A file received from the server and deleted before the server listed the
// folder (no watcher to report it) is reported as deleted: at the first
// change request of the next round, or queued when a listing is asked for.
TEST_F(ChangeReportTest, AReceivedFileDeletedBeforeAnyListingIsReported) {
  const std::string a = kSync + "\\sub\\a.txt", b = kSync + "\\sub\\b.txt";
  ASSERT_TRUE(t.fs.writeText(b, "bee"));
  tracker().noteServerWriteDone(a);
  tracker().noteServerWriteDone(b);
  ASSERT_TRUE(t.fs.remove(a));
  t.read(encodeHeader({"RQFLS", kId, 0}) + R"({"date":"","time":""})");
  t.server.sends.clear();
  t.read(rqchg());
  EXPECT_EQ(t.server.sends, std::vector<std::string>{anchg(report("/sub/a.txt", "-1", "DELETED"))});
  EXPECT_TRUE(t.log.contains("Deleted after it was received from the server: " + a));

  ASSERT_TRUE(t.fs.remove(b));
  t.read(encodeHeader({"RQLST", kId, 0}) + R"({"filepath":"\/"})");
  EXPECT_EQ(tracker().deleteQueue, std::deque<std::string>{b});
}

TEST(ToServerPath, IsAnchoredAtTheSyncFolder) {
  const ServerPathCase cases[] = {
      {"C:\\Users\\user\\Docs", "C:\\Users\\user\\Docs\\sub\\a.txt", "/sub/a.txt"},
      {"C:\\Users\\user\\Docs", "C:\\Users\\user\\Docs\\a.txt", "/a.txt"},
      {"C:\\Users\\user\\Docs", "C:\\Users\\user\\Docs\\sub\\", "/sub/"},
      {"C:\\Docs\\Docs", "C:\\Docs\\Docs\\Docs\\a.txt", "/Docs/a.txt"},
      {"C:\\Docs\\Docs", "C:\\Docs\\a.txt", std::nullopt},
      {"C:\\Users\\user\\Docs\\", "C:\\Users\\user\\Docs\\a.txt", "/a.txt"},
      {"C:\\", "C:\\a.txt", "/a.txt"},
      {"C:\\Users\\user\\Docs", "C:\\Users\\user\\Docs", std::nullopt},
      {"C:\\Users\\user\\Docs", "C:\\Users\\user\\docs\\a.txt", std::nullopt},
      {"", "C:\\a.txt", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(toServerPath(c.path, c.folder), c.server) << c.folder << " " << c.path;
}

// ThrowingStatusFs fails the status query of one path with an exception.
class ThrowingStatusFs : public test::MemoryFileSystem {
 public:
  FileStatus status(const std::string& path) override {
    if (path == failing) throw std::runtime_error("status failed");
    return MemoryFileSystem::status(path);
  }
  std::string failing;
};

TEST(ChangeReportSize, FailingSizeQueryReportsZero) {
  ThrowingStatusFs fs;
  test::MemoryIniFile ini(&fs);
  test::EngineHarness t(fs, ini, kSync, "C:\\Program");
  fs.failing = kSync + "\\locked.txt";
  t.engine.tracker().modificationQueue.push_back(fs.failing);
  t.read(rqchg());
  EXPECT_TRUE(t.log.contains("Error in get file_size() for file!"));
  EXPECT_EQ(t.server.sends, std::vector<std::string>{anchg(report("/locked.txt", "0", "MODIFIED"))});
}

TEST(SendPacketAnchg, FailingSendIsLogged) {
  test::RecordingServerLink link;
  link.failFrom = 0;
  test::RecordingLog log;
  test::FakeClock clock;
  EXPECT_FALSE(sendPacketANCHG("d", "", kId, {}, link, clock, log));
  EXPECT_EQ(log.lines.back(), (LogLine{"Error: sendPacketANCHG()", true}));
  link.failFrom = -1;
  EXPECT_TRUE(sendPacketANCHG("d", "", kId, {}, link, clock, log));
}

}  // namespace
}  // namespace kq
