#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace kq {
namespace {

struct Case {
  std::string cp1252;
  std::string utf8;
};

TEST(Codepage, RoundTripsWindows1252) {
  const Case cases[] = {
      {"plain", "plain"},
      {"caf\xE9.txt", "caf\xC3\xA9.txt"},
      {"\x80", "\xE2\x82\xAC"},            // euro sign
      {"\x9F", "\xC5\xB8"},                // Y with diaeresis
      {"\xFF", "\xC3\xBF"},
      {"\x81", "\xC2\x81"},                // undefined byte keeps its own code point
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cp1252ToUtf8(c.cp1252), c.utf8);
    EXPECT_EQ(utf8ToCp1252(c.utf8), c.cp1252);
  }
}

TEST(Codepage, ReplacesWhatTheCodePageCannotHold) {
  EXPECT_EQ(utf8ToCp1252("\xE4\xB8\xAD" "a"), "?a");        // a CJK letter
  EXPECT_EQ(utf8ToCp1252("\xF0\x9F\x98\x80"), "?");          // an emoji
  EXPECT_EQ(utf8ToCp1252("\xC3"), "?");                      // cut-off sequence
  EXPECT_EQ(utf8ToCp1252("\xC3x"), "?x");
  EXPECT_EQ(unicodeToCp1252(0x20AC), std::optional<unsigned char>(0x80));
  EXPECT_EQ(unicodeToCp1252(0x4E2D), std::nullopt);
}

}  // namespace
}  // namespace kq
