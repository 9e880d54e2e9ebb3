// What bounds the server against a hostile client: escaped log values, path
// limits, parses that keep no copy of the text, answers that must arrive in
// time, index errors that keep their own text, one server per data folder.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "data_lock.h"
#include "log_text.h"
#include "peer.h"
#include "socket_link.h"
#include "server_log.h"
#include "sqlite_index.h"
#include "wire_text.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

std::string repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(LogText, ControlBytesAndBrokenUtf8BecomeHexEscapes) {
  struct Case { std::string in, out; } cases[] = {
      {"/plain/path.txt", "/plain/path.txt"},
      {"a\nb\r\tc", "a\\x0ab\\x0d\\x09c"},
      {std::string("nul\0end", 7), "nul\\x00end"},
      {"\x1b[2J\x7f", "\\x1b[2J\\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},  // printable UTF-8 stays
      {"c1 \xc2\x9b" "31m", "c1 \\xc2\\x9b31m"},                      // U+009B (CSI) is a control
      {"bad \xff\xc3", "bad \\xff\\xc3"},                             // not UTF-8
  };
  for (auto& c : cases) EXPECT_EQ(escapeLogText(c.in), c.out) << c.in;
}

TEST(LogText, ValuesAreCutTo512Characters) {
  EXPECT_EQ(logValue(std::string(512, 'x')), std::string(512, 'x'));
  EXPECT_EQ(logValue(std::string(513, 'x')), std::string(512, 'x') + "...");
  // Characters, not bytes: 600 two-byte characters are cut after 512 of them.
  EXPECT_EQ(logValue(repeat("\xc3\xa9", 600)), repeat("\xc3\xa9", 512) + "...");
  EXPECT_EQ(logValue(std::string(600, '\n')), repeat("\\x0a", 512) + "...");
}

TEST(LogText, EveryLineOfTheServerLogIsOneLine) {
  std::vector<std::string> lines;
  ServerLog log([&](const std::string& line) { lines.push_back(line); });
  log.write("peer\n", "text\n2026/01/01 00:00:00 store: deleted /everything");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].find('\n'), std::string::npos);
  EXPECT_NE(lines[0].find(" [peer\\x0a] text\\x0a2026/01/01 00:00:00 store: deleted /everything"), std::string::npos);
}

TEST(PathLimits, LengthNameAndDepth) {
  struct Case { std::string path, problem; } cases[] = {
      {"/a/b.txt", ""},
      {"/" + std::string(255, 'n'), ""},
      {"/" + std::string(256, 'n'), "name too long (256 bytes, at most 255)"},
      {"/" + repeat("\xc3\xa9", 255), "name too long (510 bytes, at most 255)"},  // bytes, not characters
      {repeat("/a", 256), ""},
      {repeat("/a", 256) + "/", ""},  // a folder's trailing "/" is no level
      {repeat("/a", 257), "path too deep (257 levels, at most 256)"},
      {repeat("/" + std::string(249, 'p'), 16), ""},  // 4,000 bytes
      {repeat("/" + std::string(127, 'p'), 255) + "/" + std::string(126, 'q'),
       "path too long (32767 bytes, at most 4000)"},
      {repeat("/" + std::string(127, 'p'), 256), "path too long (32768 bytes, at most 4000)"},
      {repeat("/a", 22000), "path too deep (22000 levels, at most 256)"},
  };
  for (auto& c : cases) {
    EXPECT_EQ(pathLimitProblem(c.path), c.problem) << c.path.substr(0, 40);
    EXPECT_EQ(normalizeClientPath(c.path).has_value(), c.problem.empty()) << c.path.substr(0, 40);
  }
}

std::string report(const std::string& path, const std::string& type, const std::string& newname = "") {
  return R"({"date":"d","time":"","changes":[{"filepath":")" + path + "\"" +
         (newname.empty() ? "" : R"(,"newname":")" + newname + "\"") + R"(,"size":"1","changetype":")" + type +
         "\"}]}";
}

TEST(PathLimits, ChangeReportsBeyondALimitAreRefusedWithTheReason) {
  struct Case { std::string json, refusal; } cases[] = {
      {report(repeat("/a", 300), "MODIFIED"), "path too deep (300 levels, at most 256)"},
      {report("/x.txt", "RENAMED", std::string(300, 'r')), "name too long (300 bytes, at most 255)"},
      {report("/" + std::string(256, 'n'), "DELETED"), "name too long (256 bytes, at most 255)"},
  };
  for (auto& c : cases) {
    std::string refusal;
    auto r = parseChangeReport(c.json, &refusal);
    ASSERT_TRUE(r);
    EXPECT_EQ(refusal, c.refusal);
    EXPECT_FALSE(parseChangeReport(c.json)) << "a caller that takes no refusal never gets the report";
  }
  std::string refusal;
  EXPECT_TRUE(parseChangeReport(report("/ok.txt", "MODIFIED"), &refusal));
  EXPECT_EQ(refusal, "");
}

TEST(PathLimits, ListingEntriesBeyondALimitAreLeftOutAndTheFirstIsDescribed) {
  std::string deep = repeat("/a", 300);
  std::string json = "{\"content\":[{\"filepath\":\"" + deep + "\",\"size\":\"1\",\"mdate\":\"\",\"mtime\":\"\"," +
                     "\"filepath\":\"/ok\",\"size\":\"1\",\"mdate\":\"2024-01-01\",\"mtime\":\"00.00.00\"," +
                     "\"filepath\":\"/" + std::string(256, 'n') + "\",\"size\":\"1\",\"mdate\":\"\",\"mtime\":\"\"}]}";
  int skipped = 0;
  std::string refusal;
  auto listing = parseListing(json, &skipped, &refusal);
  ASSERT_TRUE(listing);
  ASSERT_EQ(listing->size(), 1u);
  EXPECT_EQ((*listing)[0].path, "/ok");
  EXPECT_EQ(skipped, 2);
  EXPECT_EQ(refusal, "path too deep (300 levels, at most 256): " + deep.substr(0, 512) + "...");
}

TEST(WireParse, ChangeReportShapesWithoutADocument) {
  const char* unusable[] = {
      "[1]", "{\"changes\":{}}", "{\"changes\":[1]}", "{\"changes\":\"x\"}", "{\"changes\":[{]",
      R"({"changes":[{"filepath":{"x":1},"size":"1","changetype":"MODIFIED"}]})",
  };
  for (auto* json : unusable) EXPECT_FALSE(parseChangeReport(json)) << json;
  // A later member of the same name wins; later changes are not looked at.
  auto r = parseChangeReport(
      R"({"changes":[{"filepath":"/a","filepath":"/b","size":2,"changetype":"MODIFIED"},{"filepath":"/c"}],"x":[[[]]]})");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->path, "/b");
  EXPECT_EQ(r->size, 2);
  // Deep nesting is read without recursion.
  std::string nested = "{\"x\":" + std::string(100000, '[') + std::string(100000, ']') + "," +
                       report("/n", "DELETED").substr(1);
  auto deep = parseChangeReport(nested);
  ASSERT_TRUE(deep);
  EXPECT_EQ(deep->path, "/n");
}

class PeerDeadlineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    link_ = std::make_unique<SocketLink>(fds[0], stop_, clock_);
    peer_ = std::make_unique<Peer>(*link_, clock_, 600);
    client_ = fds[1];
  }
  void TearDown() override {
    peer_.reset();
    link_.reset();
    ::close(client_);
  }
  // request sends one request and answers it with a header announcing length.
  void request(std::uint64_t length) {
    auto id = peer_->sendRequest("RQLST", "{}", 2);
    std::string sent(kq::kHeaderSize + 2, '\0');
    ASSERT_EQ(::recv(client_, sent.data(), sent.size(), MSG_WAITALL), static_cast<ssize_t>(sent.size()));
    std::string answer = kq::encodeHeader({"ANLST", kq::requestIdOf(sent), length});
    ASSERT_EQ(::send(client_, answer.data(), answer.size(), 0), static_cast<ssize_t>(answer.size()));
    peer_->readAnswer(id, {"ANLST"});
  }
  std::atomic<bool> stop_{false};
  SystemClock clock_;
  std::unique_ptr<SocketLink> link_;
  std::unique_ptr<Peer> peer_;
  int client_ = -1;
};

TEST_F(PeerDeadlineTest, ABodyTrickledPastTheTimeoutEndsTheConnection) {
  request(1 << 30);  // announces 1 GiB
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    while (!done && ::send(client_, "x", 1, MSG_NOSIGNAL) == 1) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  try {
    Received body;
    peer_->readBody(1 << 30, body);
    ADD_FAILURE() << "the trickle was read to its end";
  } catch (const PeerError& e) {
    EXPECT_STREQ(e.what(), "the client did not send its answer within the timeout");
  }
  done = true;
  trickle.join();
}

TEST_F(PeerDeadlineTest, ABodyThatArrivesInPiecesIsWhole) {
  request(200000);
  std::string sent(200000, 'b');
  std::thread writer([&] {
    for (std::size_t at = 0; at < sent.size(); at += 50000) {
      ASSERT_EQ(::send(client_, sent.data() + at, 50000, 0), 50000);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  Received body;
  peer_->readBody(sent.size(), body);
  EXPECT_EQ(body.view(), sent);
  writer.join();
}

TEST_F(PeerDeadlineTest, TheAnswerToDataIsDueAfterTheLastByteWentOut) {
  // Sending the data takes longer than the timeout; the answer still counts.
  auto id = peer_->sendRequest("RQFDA", "", 4 * 1000);
  std::thread client([&] {
    std::string got(kq::kHeaderSize + 4 * 1000, '\0');
    ASSERT_EQ(::recv(client_, got.data(), got.size(), MSG_WAITALL), static_cast<ssize_t>(got.size()));
    std::string answer = kq::encodeHeader({"ANFDA", kq::requestIdOf(got), 0});
    ASSERT_EQ(::send(client_, answer.data(), answer.size(), 0), static_cast<ssize_t>(answer.size()));
  });
  for (int i = 0; i < 4; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    peer_->sendAll(std::string(1000, 'd'));
  }
  EXPECT_EQ(peer_->readAnswer(id, {"ANFDA"}).type, "ANFDA");
  client.join();
}

TEST(StoreIndexErrors, AFullDatabaseSaysSoAndNotThatTheRollbackFailed) {
  fs::path dir = fs::temp_directory_path() / ("kqsyncd-full-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  {
    SqliteIndex index((dir / "index.sqlite").string());
    index.exec("PRAGMA max_page_count = 8");  // as good as a full disk
    try {
      index.transaction([&] {
        for (int i = 0; i < 1000; ++i) {
          index.put({"/file" + std::to_string(i) + std::string(200, 'x'), false, 1, 1, std::string(64, 'h'), i, false, 0});
        }
      });
      ADD_FAILURE() << "the index took everything";
    } catch (const IndexError& e) {
      EXPECT_STREQ(e.what(), "database or disk is full");
    }
    index.exec("PRAGMA max_page_count = 100000");
    index.transaction([&] { index.put({"/after", false, 1, 1, "h", 1, false, 0}); });  // usable again
    EXPECT_TRUE(index.entry("/after"));
  }
  fs::remove_all(dir);
}

TEST(DataLockTest, ASecondHolderIsRefusedWithThePidOfTheFirst) {
  fs::path dir = fs::temp_directory_path() / ("kqsyncd-lock-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  {
    DataLock first(dir.string());
    pid_t child = ::fork();
    if (child == 0) {  // another process: flock() locks are per open file, so one of its own
      try {
        DataLock second(dir.string());
        ::_exit(1);
      } catch (const DataLockError& e) {
        std::string expected = "the data folder " + dir.string() + " is in use by another kqsyncd (pid " +
                               std::to_string(::getppid()) + "); stop it first";
        ::_exit(e.what() == expected ? 0 : 2);
      }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  DataLock again(dir.string());  // released with its holder
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kqs
