#include "protocol/packet.h"

#include <gtest/gtest.h>

#include "support/recorders.h"

namespace kq {
namespace {

using namespace std::string_literals;

struct CodeCase {
  std::string text;
  int code;
  std::string answer;
};

TEST(PacketTypeCode, FindsTheLastNameInCodeOrder) {
  const CodeCase cases[] = {
      {"RQDEL\x01\x02\x03\x04"s + std::string(8, '\0'), 9, "ANDEL"},
      {"xxRQDELyy", 9, "ANDEL"},
      {"nothing here", 0, ""},
      {"", 0, ""},
      {"RQFDA FLFDA", 8, "ANFDA"},
      {"RQLST RQCHG", 16, "ANLST"},
      {"FLMOV", 12, "ANMOV"},
      {"RQFLS", 2, "ANFLS"},
      {"RQCNV", 13, "ANCNV"},
      {"RQLOG", 15, "ANLOG"},
      {"FLFIL", 4, "ANFIL"},
      {"RQ\0DEL"s, 0, ""},
      {"RQD\0EL RQDEL"s, 0, ""},  // a zero byte ends the text
      {"rqdel", 0, ""},           // case-sensitive
  };
  for (const auto& c : cases) {
    EXPECT_EQ(packetTypeCode(c.text), c.code) << c.text;
    EXPECT_EQ(answerTypeFor(c.text), c.answer) << c.text;
  }
}

TEST(PacketHeader, EncodesBigEndianLengthAndEchoedId) {
  PacketHeader h{"ANFIL", {'\x01', '\x02', '\x03', '\x04'}, 1000};
  std::string bytes = encodeHeader(h);
  EXPECT_EQ(bytes, "ANFIL\x01\x02\x03\x04\x00\x00\x00\x00\x00\x00\x03\xE8"s);
  EXPECT_EQ(payloadLength(bytes), 1000u);
  EXPECT_EQ(requestIdOf(bytes), h.requestId);

  h.payloadLength = 0x0102030405060708ull;
  bytes = encodeHeader(h);
  EXPECT_EQ(bytes.substr(9), "\x01\x02\x03\x04\x05\x06\x07\x08"s);
  EXPECT_EQ(payloadLength(bytes), 0x0102030405060708ull);
  h.payloadLength = ~0ull;
  EXPECT_EQ(payloadLength(encodeHeader(h)), ~0ull);
}

TEST(PacketHeader, ShortInputReadsMissingBytesAsZero) {
  EXPECT_EQ(payloadLength("RQFDA"), 0u);
  RequestId zero{};
  EXPECT_EQ(requestIdOf("RQ"), zero);
}

TEST(EscapeNonAscii, MarksHighBytesAndCompletes) {
  EXPECT_EQ(escapeNonAscii("C:\\Sync\\\xE6.txt"), "C:\\Sync\\$u00e6.txt");
  EXPECT_EQ(completeEscapes(escapeNonAscii("C:\\Sync\\\xE6.txt")), "C:\\Sync\\\\u00e6.txt");
  EXPECT_EQ(escapeNonAscii("plain/ascii"), "plain/ascii");
  EXPECT_EQ(escapeNonAscii("\x80\xFF"), "$u0080$u00ff");
  EXPECT_EQ(completeEscapes("a$ub$u"), "a\\ub\\u");
}

TEST(SendSimplePacket, SendsExactlySeventeenBytes) {
  test::RecordingLog log;
  test::RecordingServerLink link;
  sendSimplePacket("ANDEL", {'\x01', '\x02', '\x03', '\x04'}, link, log);
  ASSERT_EQ(link.sends.size(), 1u);
  EXPECT_EQ(link.sends[0], "\x41\x4E\x44\x45\x4C\x01\x02\x03\x04\x00\x00\x00\x00\x00\x00\x00\x00"s);
  EXPECT_EQ(log.lines, (std::vector<test::LogLine>{{"ANDEL ===>", true}}));
}

TEST(SendSimplePacket, LogsASendTheLinkRefuses) {
  test::RecordingLog log;
  test::RecordingServerLink link;
  link.failFrom = 0;
  sendSimplePacket("ANPUT", {}, link, log);
  EXPECT_EQ(log.texts(), (std::vector<std::string>{"ANPUT ===>", "Error: sendSimplePacket()"}));
}

TEST(HexDump, DisabledWritesNothingEnabledWritesRuns) {
  test::RecordingLog log;
  hexDump("ANDEL", 16, false, &log);
  EXPECT_TRUE(log.lines.empty());
  std::FILE* sink = std::tmpfile();
  hexDump("AB\x01" "CDEFGHIJKLMNOPQ", 16, true, &log, sink);
  std::fclose(sink);
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0].text, "0000 : AB.CDEFGHIJKLMNO 41 42 01 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F");
  EXPECT_EQ(log.lines[1].text, "0016 : PQ 50 51");
}

}  // namespace
}  // namespace kq
