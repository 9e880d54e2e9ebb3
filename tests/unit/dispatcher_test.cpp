#include "protocol/dispatcher.h"

#include <gtest/gtest.h>

#include "support/protocol_doubles.h"
#include "support/recorders.h"

namespace kq {
namespace {

using namespace std::string_literals;
using test::LogLine;
using test::MemberCall;

const RequestId kId{'\x01', '\x02', '\x03', '\x04'};
const RequestId kId2{'\x0A', '\x0B', '\x0C', '\x0D'};

std::string header(const std::string& type, const RequestId& id = kId, std::uint64_t length = 0) {
  return encodeHeader({type, id, length});
}
std::string answer(const std::string& type, const RequestId& id = kId) { return header(type, id); }

class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherTest() {
    dispatcher.setHandler(kRQDEL, &del);
    dispatcher.setHandler(kRQCHG, &chg);
    dispatcher.setHandler(kRQLST, &lst);
    del.answer = "ANDEL";
  }
  void read(const std::string& bytes) { dispatcher.FilesyncSocketRead(bytes); }
  // readBytewise hands bytes over one read per byte.
  void readBytewise(const std::string& bytes) {
    for (char c : bytes) read(std::string(1, c));
  }

  ProtocolState state;
  test::RecordingServerLink link;
  test::RecordingLog log;
  Dispatcher dispatcher{state, link, log};
  test::RecordingHandler del, chg, lst;
};

const std::string kDelBody = R"({"filepath":"\/docs\/a.txt"})";

TEST_F(DispatcherTest, HeaderAndBodyInOneRead) {
  read(header("RQDEL") + kDelBody);
  std::vector<LogLine> expected = {
      {"<===", false},
      {"Packet type: 9", false},
      {"Received header: RQDEL\x01\x02\x03\x04", true},
      {"JSON string: {\"jsonReceived\":[" + kDelBody + "]}", true},
      {"Parsing packet type 9", true},
      {"ANDEL ===>", true},
  };
  EXPECT_EQ(log.lines, expected);
  EXPECT_EQ(del.calls, (std::vector<MemberCall>{{"\"filepath\"", "\\/docs\\/a.txt"}}));
  EXPECT_EQ(link.sends, std::vector<std::string>{answer("ANDEL")});
  EXPECT_EQ(state.lastPacketType, kRQDEL);
  EXPECT_EQ(state.currentRequestId, kId);
  EXPECT_EQ(state.lastHeaderText, "RQDEL\x01\x02\x03\x04");
}

TEST_F(DispatcherTest, HeaderThenBodyInTheNextRead) {
  read(header("RQDEL"));
  EXPECT_TRUE(link.sends.empty());
  EXPECT_TRUE(del.calls.empty());
  log.lines.clear();
  read(kDelBody);
  std::vector<LogLine> expected = {
      {"<===", false},
      {"Packet type: 0", false},
      {"Last received packet type: 9", false},
      {"JSON string: {\"jsonReceived\":[" + kDelBody + "]}", true},
      {"Parsing packet type 9", true},
      {"ANDEL ===>", true},
  };
  EXPECT_EQ(log.lines, expected);
  EXPECT_EQ(del.calls.size(), 1u);
  EXPECT_EQ(link.sends, std::vector<std::string>{answer("ANDEL")});
}

// A header split at any byte is completed before it is processed.
TEST_F(DispatcherTest, HeaderSplitAtEveryPositionIsCompleted) {
  const std::string whole = header("RQDEL");
  for (std::size_t cut = 1; cut < kHeaderSize; ++cut) {
    SCOPED_TRACE(cut);
    link.sends.clear();
    del.calls.clear();
    read(whole.substr(0, cut));
    EXPECT_EQ(dispatcher.heldBytes(), whole.substr(0, cut));
    read(whole.substr(cut) + kDelBody);
    EXPECT_TRUE(dispatcher.heldBytes().empty());
    EXPECT_EQ(del.calls, (std::vector<MemberCall>{{"\"filepath\"", "\\/docs\\/a.txt"}}));
    EXPECT_EQ(link.sends, std::vector<std::string>{answer("ANDEL")});
  }
}

TEST_F(DispatcherTest, HeaderBytewiseThenBodyWhole) {
  readBytewise(header("RQDEL", kId2));
  EXPECT_TRUE(link.sends.empty());
  EXPECT_EQ(state.lastPacketType, kRQDEL);
  read(kDelBody);
  EXPECT_EQ(del.calls.size(), 1u);
  EXPECT_EQ(link.sends, std::vector<std::string>{answer("ANDEL", kId2)});
}

TEST_F(DispatcherTest, StartOfTypeNameFollowedByOtherBytesIsDropped) {
  read("RQ");
  EXPECT_EQ(dispatcher.heldBytes(), "RQ");
  read(header("RQDEL") + kDelBody);  // "RQRQDEL..." is no header start: the "RQ" goes
  EXPECT_TRUE(log.contains("Incomplete packet header dropped: RQ"));
  EXPECT_EQ(del.calls.size(), 1u);
  EXPECT_EQ(link.sends, std::vector<std::string>{answer("ANDEL")});
}

TEST_F(DispatcherTest, EmptyReadDoesNothing) {
  read("");
  EXPECT_TRUE(log.lines.empty());
  state.fileDataMode = true;
  test::CountingReceiver receiver(state);
  dispatcher.setReceiver(&receiver);
  read("");
  EXPECT_EQ(receiver.dataReads, 0);
  EXPECT_TRUE(log.lines.empty());
}

TEST_F(DispatcherTest, BodyFollowedByNextHeaderIsAnsweredInOrder) {
  read(header("RQDEL"));
  link.sends.clear();
  log.lines.clear();
  const std::string next = header("RQDEL", kId2) + R"({"filepath":"\/b"})";
  read(kDelBody + next);
  EXPECT_TRUE(log.contains("Double packet detected. Next packet:"));
  EXPECT_TRUE(log.contains("Next packet header: RQDEL\x0A\x0B\x0C\x0D"));
  EXPECT_EQ(del.calls, (std::vector<MemberCall>{{"\"filepath\"", "\\/docs\\/a.txt"},
                                                 {"\"filepath\"", "\\/b"}}));
  EXPECT_EQ(link.sends, (std::vector<std::string>{answer("ANDEL"), answer("ANDEL", kId2)}));
  // The carried packet is processed as a read of its own.
  auto texts = log.texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Packet type: 9"), 1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Received header: RQDEL\x0A\x0B\x0C\x0D"), 1);
}

TEST_F(DispatcherTest, BodyFollowedByPartialHeaderWaitsForTheRest) {
  read(header("RQDEL"));
  const std::string next = header("RQDEL", kId2);
  read(kDelBody + next.substr(0, 3));
  EXPECT_EQ(link.sends, std::vector<std::string>{answer("ANDEL")});
  read(next.substr(3) + R"({"filepath":"\/b"})");
  EXPECT_EQ(link.sends, (std::vector<std::string>{answer("ANDEL"), answer("ANDEL", kId2)}));
}

// Bytes after a body that start no packet: the body is dropped and the server
// gets the answer for the last header.
struct UnusableCase {
  const char* name;
  std::string read;
};

TEST_F(DispatcherTest, UnusableBytesAfterBodyAnswerTheLastHeader) {
  const UnusableCase cases[] = {
      {"zero byte", kDelBody + "\0"s},
      {"line break", kDelBody + "\n"},
      {"nested object", R"({"filepath":{"a":"b"}})"},
      {"no closing brace", R"({"filepath":"\/x")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    read(header("RQDEL"));
    log.lines.clear();
    link.sends.clear();
    del.calls.clear();
    read(c.read);
    EXPECT_TRUE(log.contains("Error in packet header! Can not provide request: RQDEL\x01\x02\x03\x04"));
    EXPECT_TRUE(log.contains("Sending answer to continue sync for received last header..."));
    EXPECT_FALSE(log.contains("Parsing packet type 9"));
    EXPECT_TRUE(del.calls.empty());
    EXPECT_EQ(link.sends, std::vector<std::string>{answer("ANDEL")});
  }
}

TEST_F(DispatcherTest, CutOffBodyUsesTheReplacementJson) {
  read(header("RQCHG") + R"({"date":"2024-03-07","ti)");
  EXPECT_TRUE(log.contains("JSON string: {\"jsonReceived\":[{\"date\":\"2024-03-07\",\"ti]}"));
  EXPECT_TRUE(log.contains("Error in receiving JSON. Can not provide request: RQCHG\x01\x02\x03\x04"));
  EXPECT_TRUE(log.contains("Sending answer to continue sync... "));
  EXPECT_TRUE(log.contains("Parsing packet type 1"));
  EXPECT_EQ(chg.calls, (std::vector<MemberCall>{{"\"date\"", ""}, {"\"time\"", ""}}));
  EXPECT_EQ(link.sends, std::vector<std::string>{answer("ANCHG")});
}

TEST_F(DispatcherTest, LineBreakAfterBodyInTheHeaderReadUsesTheReplacement) {
  read(header("RQDEL") + kDelBody + "\n");
  EXPECT_TRUE(log.contains("Error in receiving JSON. Can not provide request: RQDEL\x01\x02\x03\x04"));
  // The replacement's members reach the handler; it finds no "filepath" in them.
  EXPECT_EQ(del.calls, (std::vector<MemberCall>{{"\"date\"", ""}, {"\"time\"", ""}}));
  EXPECT_EQ(link.sends, std::vector<std::string>{answer("ANDEL")});
}

TEST_F(DispatcherTest, FirstReadIsABodyAlone) {
  read(kDelBody);
  EXPECT_TRUE(log.contains("Parsing packet type 0"));
  EXPECT_TRUE(del.calls.empty());
  EXPECT_TRUE(link.sends.empty());
  EXPECT_EQ(state.lastPacketType, 0);
}

TEST_F(DispatcherTest, OtherReadsAreIgnored) {
  read("hello");
  EXPECT_EQ(log.lines, (std::vector<LogLine>{{"<===", false},
                                             {"Packet type: 0", false},
                                             {"Last received packet type: 0", false}}));
  EXPECT_TRUE(link.sends.empty());
}

TEST_F(DispatcherTest, HighestTypeCodeWins) {
  // No zero byte in the header: its text runs on into the body.
  read(header("RQCHG", {'x', 'x', 'x', 'x'}, 0x4141414141414141ull) + R"({"filepath":"RQLST"})");
  EXPECT_TRUE(chg.calls.empty());
  EXPECT_EQ(lst.calls, (std::vector<MemberCall>{{"\"filepath\"", "RQLST"}}));
  EXPECT_EQ(state.lastPacketType, kRQLST);
}

TEST_F(DispatcherTest, NonAsciiBytesReachTheHandlerAsQuestionMarks) {
  read(header("RQDEL") + "{\"filepath\":\"\\/caf\xE9\",\"n\":\"\\u00e6\"}");
  EXPECT_EQ(del.calls, (std::vector<MemberCall>{{"\"filepath\"", "\\/caf?"}, {"\"n\"", "\\u00e6"}}));
}

TEST_F(DispatcherTest, RepeatedKeysAreEachDelivered) {
  read(header("RQCHG") + R"({"time":"","time":"","date":"x"})");
  EXPECT_EQ(chg.calls, (std::vector<MemberCall>{{"\"time\"", ""}, {"\"time\"", ""}, {"\"date\"", "x"}}));
}

TEST_F(DispatcherTest, SeveralObjectsAfterAHeaderAreDeliveredInOrder) {
  read(header("RQDEL") + R"({"filepath":"a"},{"filepath":"b"})");
  EXPECT_EQ(del.calls, (std::vector<MemberCall>{{"\"filepath\"", "a"}, {"\"filepath\"", "b"}}));
}

TEST_F(DispatcherTest, LongBodyIsTakenWhole) {
  std::string path(200000, 'x');
  read(header("RQDEL") + R"({"filepath":")" + path + R"("})");
  ASSERT_EQ(del.calls.size(), 1u);
  EXPECT_EQ(del.calls[0].value, path);
}

struct FailureCase {
  const char* name;
  std::string read;
};

TEST_F(DispatcherTest, FailuresAbandonTheWholeRead) {
  // Each failing body is followed by a next packet in the same read; it is dropped too.
  const std::string next = header("RQLST") + R"({"filepath":"a"})";
  const FailureCase cases[] = {
      {"invalid JSON", R"({"filepath":x})" + next},
      {"handler failure", R"({"boom":"a"})" + next},
      {"element not an object", header("RQCHG") + R"({"date":"a"},1,{})"},
  };
  del.throwOnKey = "\"boom\"";
  test::CountingReceiver receiver(state);
  dispatcher.setReceiver(&receiver);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    read(header("RQDEL"));
    link.sends.clear();
    log.lines.clear();
    int closes = receiver.closes;
    read(c.read);
    EXPECT_EQ(log.lines.back(), (LogLine{"Error: FilesyncSocketRead()", true}));
    EXPECT_TRUE(link.sends.empty());
    EXPECT_TRUE(lst.calls.empty());
    EXPECT_TRUE(chg.calls.empty());
    EXPECT_EQ(state.lastPacketType, kRQDEL);
    EXPECT_EQ(receiver.closes, closes + 1);
  }
}

TEST_F(DispatcherTest, RqfdaWithTheWholeFileCompletesInOneRead) {
  test::CountingReceiver receiver(state);
  dispatcher.setReceiver(&receiver);
  read(header("RQFDA", kId2, 5) + "hello");
  EXPECT_EQ(receiver.data, "hello");
  EXPECT_FALSE(state.fileDataMode);
  EXPECT_EQ(link.sends, std::vector<std::string>{answer("ANFDA", kId2)});
  EXPECT_TRUE(log.contains("Received header: RQFDA\x0A\x0B\x0C\x0D"));
  EXPECT_EQ(state.lastPacketType, kRQFDA);
}

TEST_F(DispatcherTest, RqfdaOfSizeZeroCompletesAtOnce) {
  test::CountingReceiver receiver(state);
  dispatcher.setReceiver(&receiver);
  read(header("RQFDA", kId2, 0));
  EXPECT_EQ(link.sends, std::vector<std::string>{answer("ANFDA", kId2)});
}

TEST_F(DispatcherTest, FileDataIsNeverExaminedAndKeepsLastPacketType) {
  test::CountingReceiver receiver(state);
  dispatcher.setReceiver(&receiver);
  const std::string data = header("RQDEL") + kDelBody + "{\"x\":1}";
  read(header("RQFDA", kId2, data.size()) + data.substr(0, 3));
  EXPECT_TRUE(state.fileDataMode);
  read(data.substr(3, 20));
  read(data.substr(23));
  EXPECT_EQ(receiver.data, data);
  EXPECT_TRUE(del.calls.empty());
  EXPECT_EQ(state.lastPacketType, kRQFDA);
  EXPECT_EQ(link.sends, std::vector<std::string>{answer("ANFDA", kId2)});
}

TEST_F(DispatcherTest, BytesAfterTheAnnouncedSizeAreTheNextPacket) {
  test::CountingReceiver receiver(state);
  dispatcher.setReceiver(&receiver);
  read(header("RQFDA", kId2, 8) + "abc");
  read("defgh" + header("RQDEL") + kDelBody);
  EXPECT_EQ(receiver.data, "abcdefgh");
  EXPECT_EQ(del.calls.size(), 1u);
  EXPECT_EQ(link.sends, (std::vector<std::string>{answer("ANFDA", kId2), answer("ANDEL")}));
}

TEST_F(DispatcherTest, FileBytesOneReadPerByte) {
  test::CountingReceiver receiver(state);
  dispatcher.setReceiver(&receiver);
  const std::string data = "RQCHG{}\0RQFLS"s;
  readBytewise(header("RQFDA", kId2, data.size()) + data);
  EXPECT_EQ(receiver.data, data);
  EXPECT_EQ(link.sends, std::vector<std::string>{answer("ANFDA", kId2)});
  EXPECT_EQ(state.lastPacketType, kRQFDA);
}

TEST_F(DispatcherTest, RqfdaWithoutAReceiverIsRefused) {
  read(header("RQFDA", kId2, 10) + "12345");
  EXPECT_TRUE(log.contains("RQFDA refused: no file receiver"));
  EXPECT_FALSE(state.fileDataMode);
  EXPECT_EQ(link.sends, std::vector<std::string>{answer("ANFDA", kId2)});
  read("67890");  // the refused file's remaining bytes are an ordinary ignored read
  EXPECT_EQ(link.sends.size(), 1u);
}

TEST_F(DispatcherTest, ConnectionCloseForgetsAHeldHeader) {
  read(header("RQDEL").substr(0, 9));
  dispatcher.onConnectionClosed();
  EXPECT_TRUE(dispatcher.heldBytes().empty());
}

}  // namespace
}  // namespace kq
