#include "transfer/file_sender.h"

#include <gtest/gtest.h>

#include "support/handler_fixture.h"

namespace kq {
namespace {

using namespace std::string_literals;

const RequestId kId{'\x0a', '\x0b', '\x0c', '\x0d'};

std::string answer(const char* type, std::uint64_t size) {
  return encodeHeader(PacketHeader{type, kId, size});
}

class FileSenderTest : public test::HandlerFixture {
 protected:
  FileSenderTest() { protocol.currentRequestId = kId; }
  void request(RequestHandler& handler, const std::string& key, const std::string& value) {
    PacketContext packet{kRQFIL, ""};
    handler.onMember(key, value, packet);
    EXPECT_EQ(packet.answerType, "");  // the data packet is the whole answer
  }
  FileRequestHandler files{ports};
  LogRequestHandler logs{ports};
};

TEST_F(FileSenderTest, RqfilSendsHeaderAndTheFile) {
  ASSERT_TRUE(write("docs\\report.pdf", "0123456789"));
  request(files, "\"filepath\"", R"(\/docs\/report.pdf)");
  EXPECT_EQ(server.sends, (std::vector<std::string>{answer("ANFIL", 10), "0123456789"}));
  EXPECT_EQ(status.panels[1], "Sending file...");
  EXPECT_TRUE(tracker.serverBusy);
  const std::vector<std::string> expected = {
      "Preparing the file for sending: \\/docs\\/report.pdf",
      "Reading file:",
      at("docs\\report.pdf"),
      "File size: 10",
      "Sending file to Server...",
      "Sended 10 bytes of 10",
      "The file has been sent to Server...",
  };
  EXPECT_EQ(log.texts(), expected);
}

TEST_F(FileSenderTest, ChunksAreBoundedAndEachIsLogged) {
  struct Case {
    std::string content;
    std::vector<std::string> sends;     // after the header
    std::vector<std::string> progress;  // "Sended" lines
  };
  const Case cases[] = {
      {"", {}, {"Sended 0 bytes of 0"}},
      {"abcd", {"abcd"}, {"Sended 4 bytes of 4"}},
      // one progress line for the file, not one per chunk
      {"abcdefghi", {"abcd", "efgh", "i"}, {"Sended 9 bytes of 9"}},
      {"abcdefgh", {"abcd", "efgh"}, {"Sended 8 bytes of 8"}},
  };
  for (const auto& c : cases) {
    server.sends.clear();
    log.lines.clear();
    ASSERT_TRUE(write("f.bin", c.content));
    sendDataPacket(ports, kId, at("f.bin"), false, 4);
    std::vector<std::string> sends{answer("ANFIL", c.content.size())};
    sends.insert(sends.end(), c.sends.begin(), c.sends.end());
    EXPECT_EQ(server.sends, sends) << c.content;
    std::vector<std::string> progress;
    for (const auto& t : log.texts())
      if (t.rfind("Sended ", 0) == 0) progress.push_back(t);
    EXPECT_EQ(progress, c.progress) << c.content;
  }
}

TEST_F(FileSenderTest, MissingFileIsAnnouncedAsEmpty) {
  request(files, "\"filepath\"", R"(\/nothing.txt)");
  EXPECT_EQ(server.sent(), answer("ANFIL", 0));
  EXPECT_TRUE(log.contains("Error: can not open the file for reading"));
  EXPECT_TRUE(log.contains("File size: 0"));
  EXPECT_TRUE(log.contains("Sended 0 bytes of 0"));
  EXPECT_EQ(log.texts().back(), "The file has been sent to Server...");
}

TEST_F(FileSenderTest, RefusedPathGetsAnEmptyAnswerWithoutReading) {
  ASSERT_TRUE(disk.fs().writeText(disk.path("secret.txt"), "outside"));
  request(files, "\"filepath\"", R"(\/..\/secret.txt)");
  EXPECT_EQ(server.sent(), answer("ANFIL", 0));
  EXPECT_EQ(log.texts(), (std::vector<std::string>{
                             "Preparing the file for sending: \\/..\\/secret.txt",
                             "Refused server path \\/..\\/secret.txt: a parent folder segment"}));
}

TEST_F(FileSenderTest, OtherKeysSendNothing) {
  request(files, "\"date\"", "x");
  request(logs, "\"date\"", "x");
  EXPECT_TRUE(server.sends.empty());
  EXPECT_TRUE(tracker.serverBusy);
}

// GrowingLog appends every line to the file being sent, as the real log does
// while it sends itself.
class GrowingLog : public Log {
 public:
  GrowingLog(FileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
  void writeLog(const std::string& text, bool) override {
    lines.push_back(text);
    (void)fs_.appendText(path_, text + "\r\n");
  }
  std::vector<std::string> lines;

 private:
  FileSystem& fs_;
  std::string path_;
};

TEST_F(FileSenderTest, LogThatGrowsWhileSentIsSentUpToTheAnnouncedSize) {
  const std::string logPath = at("_log\\Filesync.log");
  ASSERT_TRUE(write("_log\\Filesync.log", "line one\r\n"));
  GrowingLog growing(disk.fs(), logPath);
  HandlerPorts growingPorts{server,    disk.fs(), growing,  status,           folders,
                            disk.ini(), clock,    processes, protocol,         tracker,
                            ports.syncFolder,     ports.settingsPath,          ports.isExcluded};
  LogRequestHandler handler(growingPorts);
  PacketContext packet{kRQLOG, ""};
  handler.onMember("\"logfile\"", "ignored", packet);
  EXPECT_EQ(status.panels[1], "Sending LOG file to Server");
  // The size was taken after "Reading file:" and the path were logged.
  std::string whenAnnounced = "line one\r\nReading file:\r\n" + logPath + "\r\n";
  EXPECT_EQ(server.sent(), answer("ANLOG", whenAnnounced.size()) + whenAnnounced);
  EXPECT_GT(disk.fs().readText(logPath)->size(), whenAnnounced.size());
}

}  // namespace
}  // namespace kq

namespace kq {
namespace {

// ShrinkingLog cuts the file being sent down once its size has been announced.
class ShrinkingLog : public test::RecordingLog {
 public:
  ShrinkingLog(FileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
  void writeLog(const std::string& text, bool show) override {
    RecordingLog::writeLog(text, show);
    if (text == "Sending file to Server...") shrunk = fs_.writeText(path_, "abc");
  }
  bool shrunk = false;

 private:
  FileSystem& fs_;
  std::string path_;
};

TEST_F(FileSenderTest, FileThatShrinksKeepsTheFramingWithZeroPadding) {
  ASSERT_TRUE(write("s.bin", "abcdefghij"));
  ShrinkingLog shrinking(disk.fs(), at("s.bin"));
  HandlerPorts p{server,    faulty,   shrinking, status,          folders,
                 disk.ini(), clock,   processes, protocol,        tracker,
                 ports.syncFolder,    ports.settingsPath,         ports.isExcluded};
  sendDataPacket(p, kId, at("s.bin"), false, 4);
  if (!shrinking.shrunk) GTEST_SKIP() << "this file system does not let an open file be truncated";
  EXPECT_EQ(server.sent(), answer("ANFIL", 10) + "abc" + std::string(7, '\0'));
  EXPECT_TRUE(shrinking.contains("ERROR: The file delivered 3 of 10 bytes; padding 7 bytes with zeros"));
  EXPECT_EQ(shrinking.texts().back(), "The file has been sent to Server...");
}

}  // namespace
}  // namespace kq

namespace kq {
namespace {

// A send the link refuses ends the data packet: nothing more is read, sent or
// padded, and the send is not reported as done.
TEST_F(FileSenderTest, SendStopsAtTheFirstRefusedSend) {
  ASSERT_TRUE(write("big.bin", "abcdefghijkl"));
  struct Case {
    int failFrom;                     // index of the first refused send
    std::vector<std::string> sends;   // what the link took
    std::string error;
    std::vector<std::string> progress;
  };
  const Case cases[] = {
      {0, {}, "ERROR: Sending to the server failed after 0 of 29 bytes; the send stopped",
       {"Sended 4 bytes of 12"}},
      {2, {answer("ANFIL", 12), "abcd"}, "ERROR: Sending to the server failed after 21 of 29 bytes; the send stopped",
       {"Sended 8 bytes of 12"}},  // how far it got, once
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failFrom);
    server.sends.clear();
    server.refusedSends = 0;
    server.failFrom = c.failFrom;
    log.lines.clear();
    sendDataPacket(ports, kId, at("big.bin"), false, 4);
    EXPECT_EQ(server.sends, c.sends);
    EXPECT_EQ(server.refusedSends, 1);
    std::vector<std::string> progress;
    for (const auto& text : log.texts())
      if (text.rfind("Sended", 0) == 0) progress.push_back(text);
    EXPECT_EQ(progress, c.progress);
    EXPECT_TRUE(log.contains(c.error));
    EXPECT_FALSE(log.contains("The file has been sent to Server..."));
  }
}

TEST_F(FileSenderTest, RefusedEmptyAnswerIsLogged) {
  server.failFrom = 0;
  request(files, "\"filepath\"", R"(\/..\/x)");
  EXPECT_EQ(log.texts().back(), "Error in sendDataPacket()");
}

}  // namespace
}  // namespace kq
