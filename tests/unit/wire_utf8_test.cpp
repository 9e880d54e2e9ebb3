#include "wire/utf8.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace kq {
namespace {

struct DecodeCase {
  std::string bytes;
  std::optional<char32_t> codePoint;  // of the first sequence; nullopt: invalid
};

// decodeAt decodes the first sequence and checks how far it went: a valid
// sequence is consumed whole, an invalid one costs exactly one byte.
void expectDecodes(const DecodeCase& c) {
  std::size_t pos = 0;
  auto got = decodeUtf8(c.bytes, pos);
  EXPECT_EQ(got, c.codePoint) << testing::PrintToString(c.bytes);
  EXPECT_EQ(pos, c.codePoint ? c.bytes.size() : 1u) << testing::PrintToString(c.bytes);
}

TEST(DecodeUtf8, ValidSequencesAtEveryBoundary) {
  const DecodeCase cases[] = {
      {"\x00"s, U'\0'},         {"A", U'A'},
      {"\x7f", 0x7F},           {"\xc2\x80", 0x80},
      {"\xc3\xa9", 0xE9},       {"\xdf\xbf", 0x7FF},
      {"\xe0\xa0\x80", 0x800},  {"\xe2\x82\xac", 0x20AC},
      {"\xed\x9f\xbf", 0xD7FF}, {"\xee\x80\x80", 0xE000},
      {"\xef\xbf\xbf", 0xFFFF}, {"\xf0\x90\x80\x80", 0x10000},
      {"\xf0\x9f\x98\x80", 0x1F600}, {"\xf4\x8f\xbf\xbf", 0x10FFFF},
  };
  for (const auto& c : cases) {
    expectDecodes(c);
    std::string back;
    appendUtf8(back, *c.codePoint);
    EXPECT_EQ(back, c.bytes) << std::hex << static_cast<unsigned>(*c.codePoint);
  }
}

TEST(DecodeUtf8, OverlongSurrogatesAndOutOfRangeAreInvalid) {
  const DecodeCase cases[] = {
      {"\xc0\x80", std::nullopt},             // U+0000 in two bytes
      {"\xc1\xbf", std::nullopt},             // U+007F in two bytes
      {"\xe0\x80\x80", std::nullopt},         // U+0000 in three bytes
      {"\xe0\x9f\xbf", std::nullopt},         // U+07FF in three bytes
      {"\xf0\x80\x80\x80", std::nullopt},     // U+0000 in four bytes
      {"\xf0\x8f\xbf\xbf", std::nullopt},     // U+FFFF in four bytes
      {"\xed\xa0\x80", std::nullopt},         // U+D800, a high surrogate
      {"\xed\xbf\xbf", std::nullopt},         // U+DFFF, a low surrogate
      {"\xed\xa0\xbd\xed\xb8\x80", std::nullopt},  // a surrogate pair written as two sequences
      {"\xf4\x90\x80\x80", std::nullopt},     // U+110000
      {"\xf5\x80\x80\x80", std::nullopt},     // lead bytes F5..FF never start a sequence
      {"\xff", std::nullopt},
      {"\x80", std::nullopt},                 // a continuation byte on its own
      {"\xbf", std::nullopt},
      {"\xc3" "A", std::nullopt},             // a lead byte followed by no continuation
      {"\xe2\x82" "A", std::nullopt},
  };
  for (const auto& c : cases) expectDecodes(c);
}

TEST(DecodeUtf8, EverySequenceCutAtEveryPositionIsInvalid) {
  const std::string sequences[] = {"\xc3\xa9", "\xe2\x82\xac", "\xef\xbf\xbf", "\xf0\x9f\x98\x80",
                                   "\xf4\x8f\xbf\xbf"};
  for (const auto& whole : sequences) {
    for (std::size_t cut = 1; cut < whole.size(); ++cut) {
      expectDecodes({whole.substr(0, cut), std::nullopt});
      // Cut off by the next character rather than by the end of the text.
      expectDecodes({whole.substr(0, cut) + "x", std::nullopt});
    }
  }
}

TEST(DecodeUtf8, AnInvalidByteCostsOneByteAndTheRestStillDecodes) {
  std::string text = "a\xc0\x80\xe2\x82\xac";
  std::vector<std::optional<char32_t>> got;
  for (std::size_t pos = 0; pos < text.size();) got.push_back(decodeUtf8(text, pos));
  std::vector<std::optional<char32_t>> want = {U'a', std::nullopt, std::nullopt, char32_t{0x20AC}};
  EXPECT_EQ(got, want);
  EXPECT_FALSE(isValidUtf8(text));
  EXPECT_TRUE(isValidUtf8("caf\xc3\xa9 \xf0\x9f\x98\x80"));
  EXPECT_TRUE(isValidUtf8(""));
}

}  // namespace
}  // namespace kq
