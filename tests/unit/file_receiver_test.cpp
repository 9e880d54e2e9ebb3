#include "transfer/file_receiver.h"

#include <gtest/gtest.h>

#include "support/handler_fixture.h"

namespace kq {
namespace {

using namespace std::string_literals;

class FileReceiverTest : public test::HandlerFixture {
 protected:
  std::string put(const std::string& value) {
    PacketContext packet{kRQPUT, ""};
    receiver.onMember("\"filepath\"", value, packet);
    return packet.answerType;
  }
  static std::string header(std::uint64_t size) {
    return encodeHeader(PacketHeader{"RQFDA", {'\x01', '\x02', '\x03', '\x04'}, size});
  }
  // feed hands a read to the receiver as the dispatcher does; returns the answer.
  std::string feed(const std::string& read, std::size_t* consumed = nullptr) {
    PacketContext packet{protocol.fileDataMode ? 0 : kRQFDA, ""};
    std::size_t used = protocol.fileDataMode ? receiver.onData(read, packet)
                                             : receiver.onHeader(read, packet);
    if (consumed) *consumed = used;
    return packet.answerType;
  }
  FileReceiver receiver{ports};
};

TEST_F(FileReceiverTest, FilePushedInOneRead) {
  protocol.initialSyncDone = true;
  EXPECT_EQ(put(R"(\/docs\/report.pdf)"), "ANPUT");
  EXPECT_EQ(status.panels[1], "Receiving file");
  std::size_t consumed = 0;
  EXPECT_EQ(feed(header(11) + "hello world", &consumed), "ANFDA");
  EXPECT_EQ(consumed, 28u);
  EXPECT_EQ(read("docs\\report.pdf"), "hello world");
  EXPECT_FALSE(protocol.fileDataMode);
  EXPECT_FALSE(receiver.fileOpen());
  EXPECT_EQ(receiver.receivedFileBytes, 0u);
  EXPECT_EQ(receiver.expectedFileSize, 11u);
  EXPECT_EQ(receiver.receivingFileName, "");
  EXPECT_EQ(status.panels[1], "File received");
  EXPECT_TRUE(tracker.serverBusy);
  EXPECT_TRUE(tracker.serverQueue.empty());  // complete: remembered by what it holds
  tracker.handleWatcherChange(3, at("docs\\report.pdf"));
  EXPECT_TRUE(tracker.modificationQueue.empty());
  const std::vector<test::LogLine> expected = {
      {"filepath=\\/docs\\/report.pdf", true},
      {"File name received", true},
      {"Saving file transfer from Server.", true},
      {at("docs\\report.pdf"), true},
      {"File size to receive: 11", true},
      {"Received: 11 of 11", false},
      {"Receiving file data...", false},
      {"File opened to write.", false},
      {"File closed.", true},
      {"File " + at("docs\\report.pdf") + " received successfully", true},
  };
  EXPECT_EQ(log.lines, expected);
}

TEST_F(FileReceiverTest, FilePushedOverManyReadsReplacesTheOldCopy) {
  protocol.initialSyncDone = true;
  ASSERT_TRUE(write("a.bin", "an older and longer content"));
  EXPECT_EQ(put(R"(\/a.bin)"), "ANPUT");
  EXPECT_EQ(status.panels[1], "Updating file");
  std::size_t consumed = 0;
  EXPECT_EQ(feed(header(10), &consumed), "");  // the header alone creates the file
  EXPECT_EQ(consumed, 17u);
  EXPECT_TRUE(protocol.fileDataMode);
  EXPECT_EQ(read("a.bin"), "");
  EXPECT_EQ(feed("0123"), "");
  EXPECT_EQ(status.panels[1], "Receiving file data...");
  EXPECT_EQ(feed("RQDEL"), "");  // in data mode a request name is plain data
  EXPECT_EQ(feed("9"), "ANFDA");
  EXPECT_EQ(read("a.bin"), "0123RQDEL9");
  EXPECT_TRUE(log.contains("Received: 9 of 10"));
  EXPECT_TRUE(log.contains("Received data packet from server"));
}

TEST_F(FileReceiverTest, BytesBeyondTheAnnouncedSizeAreHandedBack) {
  const std::string next = encodeHeader(PacketHeader{"RQFLS", {}, 2}) + "{}";
  put(R"(\/x.txt)");
  std::size_t consumed = 0;
  EXPECT_EQ(feed(header(3) + "abc" + next, &consumed), "ANFDA");
  EXPECT_EQ(consumed, 20u);
  EXPECT_EQ(read("x.txt"), "abc");

  put(R"(\/y.txt)");
  EXPECT_EQ(feed(header(4) + "ab"), "");
  EXPECT_EQ(feed("cd" + next, &consumed), "ANFDA");
  EXPECT_EQ(consumed, 2u);
  EXPECT_EQ(read("y.txt"), "abcd");
  EXPECT_FALSE(protocol.fileDataMode);
}

TEST_F(FileReceiverTest, ZeroSizeFileCompletesAtOnce) {
  protocol.initialSyncDone = false;
  put(R"(\/new\/deep\/empty.txt)");
  EXPECT_EQ(status.panels[1], "Initial server sync...");
  EXPECT_TRUE(disk.fs().isFolder(at("new\\deep")));
  EXPECT_FALSE(exists("new\\deep\\empty.txt"));  // the file is made by the data block
  EXPECT_EQ(feed(header(0)), "ANFDA");
  EXPECT_TRUE(disk.fs().isFile(at("new\\deep\\empty.txt")));
  EXPECT_EQ(read("new\\deep\\empty.txt"), "");
  EXPECT_FALSE(protocol.fileDataMode);
}

TEST_F(FileReceiverTest, FolderBranchCreatesTheFolderAndRemembersIt) {
  receiver.receivingFileName = "unchanged";
  EXPECT_EQ(put(R"(\/new\/sub\/)"), "ANPUT");
  EXPECT_TRUE(disk.fs().isFolder(at("new\\sub")));
  EXPECT_EQ(tracker.serverQueue, std::vector<std::string>{at("new\\sub\\")});
  EXPECT_EQ(status.panels[1], "Creating directory");
  EXPECT_EQ(receiver.receivingFileName, "unchanged");
  EXPECT_EQ(log.texts(), (std::vector<std::string>{"filepath=\\/new\\/sub\\/",
                                                    "Remember directory creating from Server: ",
                                                    at("new\\sub\\")}));
}

TEST_F(FileReceiverTest, FolderThatCannotBeCreated) {
  ASSERT_TRUE(write("taken", "a file where the folder should go"));
  EXPECT_EQ(put(R"(\/taken\/)"), "ANPUT");
  EXPECT_TRUE(log.contains("Error on received directory creating"));
  EXPECT_TRUE(tracker.serverQueue.empty());
}

TEST_F(FileReceiverTest, NonEmptyFolderAtTheFilePath) {
  ASSERT_TRUE(write("doc.txt\\inner.txt", "x"));
  EXPECT_EQ(put(R"(\/doc.txt)"), "ANPUT");
  EXPECT_TRUE(log.contains("Error on received file"));
  EXPECT_EQ(read("doc.txt\\inner.txt"), "x");
}

TEST_F(FileReceiverTest, ExcludedFileIsAnsweredAndItsDataDropped) {
  ASSERT_TRUE(write("~lock.txt", "local"));
  EXPECT_EQ(put(R"(\/~lock.txt)"), "ANPUT");
  EXPECT_TRUE(log.contains("Ignoring file transfer from Server due restrictions. RQFDA is blocked."));
  EXPECT_TRUE(tracker.serverQueue.empty());
  std::size_t consumed = 0;
  EXPECT_EQ(feed(header(8) + "{\"a\"", &consumed), "ANFDA");
  EXPECT_EQ(consumed, 21u);
  EXPECT_TRUE(log.contains("RQFDA is unblocked."));
  // The rest of the refused data is dropped by its announced size, not dispatched.
  EXPECT_TRUE(protocol.fileDataMode);
  EXPECT_EQ(feed(":1}" "RQ", &consumed), "");
  EXPECT_EQ(consumed, 4u);
  EXPECT_FALSE(protocol.fileDataMode);
  EXPECT_EQ(read("~lock.txt"), "local");
  // The block is used up: the next push is written.
  put(R"(\/b.txt)");
  EXPECT_EQ(feed(header(1) + "b"), "ANFDA");
  EXPECT_EQ(read("b.txt"), "b");
}

TEST_F(FileReceiverTest, RefusedPathsTouchNothing) {
  const std::string values[] = {R"(\/..\/escape.txt)", R"(\/C:\/escape.txt)",
                                R"(\/\/host\/share\/escape.txt)", R"(escape.txt)", R"(\/..\/)"};
  for (const auto& value : values) {
    std::size_t before = log.lines.size();
    EXPECT_EQ(put(value), "ANPUT") << value;
    auto lines = logSince(before);
    ASSERT_EQ(lines.size(), 2u) << value;
    EXPECT_EQ(lines[1].rfind("Refused server path " + value + ": ", 0), 0u) << lines[1];
    if (value.back() != '/') {
      EXPECT_EQ(feed(header(3) + "bad"), "ANFDA") << value;
    }
  }
  EXPECT_TRUE(tracker.serverQueue.empty());
  EXPECT_FALSE(disk.fs().exists(disk.path("escape.txt")));
  EXPECT_FALSE(disk.fs().exists(at("escape.txt")));
  EXPECT_FALSE(disk.fs().exists(disk.path("Syncescape.txt")));
  EXPECT_FALSE(protocol.fileDataMode);
}

TEST_F(FileReceiverTest, NonAsciiNameIsStoredInTheCodePage) {
  put(R"(\/caf\u00e9.txt)");
  EXPECT_EQ(feed(header(2) + "ok"), "ANFDA");
  EXPECT_EQ(read("caf\xe9.txt"), "ok");
  EXPECT_EQ(tracker.serverEchoes.size(), 1u);
#ifndef _WIN32
  EXPECT_TRUE(std::filesystem::exists(disk.nativeRoot() / "Sync" / "caf\xc3\xa9.txt"));
#endif
}

TEST_F(FileReceiverTest, DataWithoutAnnouncedFileIsCountedAndDropped) {
  EXPECT_EQ(feed(header(3) + "abc"), "ANFDA");
  EXPECT_TRUE(log.contains("File  received successfully"));
  EXPECT_FALSE(log.contains("File opened to write."));
}

TEST_F(FileReceiverTest, ClosedConnectionEndsTheTransfer) {
  put(R"(\/big.bin)");
  feed(header(100) + "partial");
  ASSERT_TRUE(protocol.fileDataMode);
  ASSERT_TRUE(receiver.fileOpen());
  receiver.onConnectionClosed();
  EXPECT_FALSE(protocol.fileDataMode);
  EXPECT_FALSE(receiver.fileOpen());
  EXPECT_EQ(receiver.receivedFileBytes, 0u);
  EXPECT_EQ(receiver.receivingFileName, "");
  EXPECT_FALSE(exists("big.bin"));
  EXPECT_EQ(log.texts().back(),
            "Transfer cut off by the closed connection, partial file removed: " + at("big.bin"));
  // After reconnecting, a new request header is no longer taken as file data.
  put(R"(\/next.txt)");
  EXPECT_EQ(feed(header(1) + "n"), "ANFDA");
  EXPECT_EQ(read("next.txt"), "n");
}

TEST_F(FileReceiverTest, ReopenedFileIsAppendedTo) {
  put(R"(\/r.txt)");
  feed(header(6) + "abc");
  receiver.closeOpenFile();  // the dispatcher's error handler closes it, data mode stays on
  EXPECT_TRUE(protocol.fileDataMode);
  EXPECT_EQ(feed("def"), "ANFDA");
  EXPECT_EQ(read("r.txt"), "abcdef");
}

TEST_F(FileReceiverTest, MembersWithOtherKeysOnlySetBusy) {
  PacketContext packet{kRQPUT, ""};
  receiver.onMember("\"date\"", "2024", packet);
  EXPECT_EQ(packet.answerType, "");
  EXPECT_TRUE(tracker.serverBusy);
  EXPECT_TRUE(log.lines.empty());
}

}  // namespace
}  // namespace kq
