#include "wire/unicode_escape.h"

#include <gtest/gtest.h>

#include <string>

namespace kq {
namespace {

TEST(ReadUnicodeEscape, ReadsOneEscapeOrAPairAndNothingElse) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t pos;
    std::optional<char32_t> codePoint;  // nullopt: no escape at pos
    std::size_t length;
  };
  const Case cases[] = {
      {"lower-case digits", "\\u00e9", 0, 0xE9, 6},
      {"upper-case digits", "\\u00E9", 0, 0xE9, 6},
      {"an ASCII character", "\\u005c", 0, 0x5C, 6},
      {"the highest unit", "\\uffff", 0, 0xFFFF, 6},
      {"inside a text", "a\\u65e5b", 1, 0x65E5, 6},
      {"a surrogate pair is one character", "\\ud83d\\ude00", 0, 0x1F600, 12},
      {"a pair in upper case", "\\uD83D\\uDE00", 0, 0x1F600, 12},
      {"a lone high surrogate", "\\ud83dx", 0, 0xD83D, 6},
      {"a high surrogate before a non-surrogate", "\\ud83d\\u0041", 0, 0xD83D, 6},
      {"a lone low surrogate", "\\ude00\\ud83d", 0, 0xDE00, 6},
      {"a high surrogate before a cut escape", "\\ud83d\\ude0", 0, 0xD83D, 6},
      {"three digits", "\\u00e", 0, std::nullopt, 0},
      {"a digit that is none", "\\u00g9", 0, std::nullopt, 0},
      {"another escape", "\\n0041", 0, std::nullopt, 0},
      {"no backslash", "u00e9", 0, std::nullopt, 0},
      {"an escaped backslash is not read here", "\\\\u00e9", 0, std::nullopt, 0},
      {"past the end", "\\u00e9", 6, std::nullopt, 0},
  };
  for (const auto& c : cases) {
    auto got = readUnicodeEscape(c.text, c.pos);
    ASSERT_EQ(got.has_value(), c.codePoint.has_value()) << c.name;
    if (!got) continue;
    EXPECT_EQ(got->codePoint, *c.codePoint) << c.name;
    EXPECT_EQ(got->length, c.length) << c.name;
  }
}

}  // namespace
}  // namespace kq
