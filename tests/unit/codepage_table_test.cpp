// The code pages of local text, natively and under Wine: the same tables must
// give the same bytes whether the platform's own tables or the C library's are used.
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "protocol/packet.h"
#include "transfer/server_path.h"

namespace kq {
namespace {

struct NameCase {
  unsigned page;
  std::string utf8;        // the name as the user sees it
  std::string local;       // its local text in the code page
  std::string wire;        // how the listing and the change report send it
  std::string fromServer;  // how the server sends it (\u escapes of the characters)
};

const NameCase kNames[] = {
    {1252, "caf\xC3\xA9 \xE2\x82\xAC.txt", "caf\xE9 \x80.txt", "caf\\u00e9 \\u0080.txt",
     "caf\\u00e9 \\u20ac.txt"},
    {1252, "$u.txt", "$u.txt", "\\u0024u.txt", "$u.txt"},
    {1251, "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82.txt", "\xCE\xF2\xF7\xB8\xF2.txt",
     "\\u00ce\\u00f2\\u00f7\\u00b8\\u00f2.txt", "\\u041e\\u0442\\u0447\\u0451\\u0442.txt"},
    // Trail byte 0x5C ("\") in both characters of a name, and 0x7C ("|").
    {932, "\xE8\xA1\xA8.txt", "\x95\x5C.txt", "\\u0095\\u005c.txt", "\\u8868.txt"},
    {932, "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88", "\x83\x5C\x83\x74\x83\x67",
     "\\u0083\\u005c\\u0083\\u0074\\u0083\\u0067", "\\u30bd\\u30d5\\u30c8"},
    {932, "\xEF\xBD\xB1\xEF\xBC\x8D", "\xB1\x81\x7C", "\\u00b1\\u0081\\u007c", "\\uff71\\uff0d"},
};

std::unique_ptr<CodePage> page(unsigned number) {
  auto made = makeCodePage(number);
  EXPECT_NE(made, nullptr) << number;
  return made;
}

TEST(CodePageTable, NamesGoOutAsBytesAndComeBackAsCharacters) {
  for (const auto& c : kNames) {
    SCOPED_TRACE(std::to_string(c.page) + " " + c.wire);
    auto cp = page(c.page);
    ASSERT_NE(cp, nullptr);
    EXPECT_EQ(cp->number(), c.page);
    EXPECT_EQ(fromUtf8(*cp, c.utf8), std::optional<std::string>(c.local));
    EXPECT_EQ(toUtf8(*cp, c.local), c.utf8);
    EXPECT_EQ(completeEscapes(escapeJsonName(c.local, *cp)), c.wire);
    std::string decoded, error;
    EXPECT_TRUE(decodeJsonString(c.fromServer, decoded, error, *cp)) << error;
    EXPECT_EQ(decoded, c.local);
  }
}

TEST(CodePageTable, CharactersOutsideThePageAreRefusedNotReplaced) {
  struct Case {
    unsigned page;
    std::string utf8;    // best fit would give a look-alike
    std::string escape;  // the same character from the server
  } cases[] = {
      {1252, "\xC5\x82", "\\u0142"},            // l with stroke: best fit "l"
      {1252, "\xEF\xBC\xBC", "\\uff3c"},        // fullwidth reverse solidus: best fit "\"
      {1252, "\xE6\x97\xA5", "\\u65e5"},        // a CJK character
      {1251, "\xC3\xA9", "\\u00e9"},            // e acute: best fit "e"
      {932, "\xC3\xA9", "\\u00e9"},
      {932, "\xF0\x9F\x98\x80", "\\ud83d\\ude00"},  // beyond the BMP
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.page) + " " + c.escape);
    auto cp = page(c.page);
    ASSERT_NE(cp, nullptr);
    EXPECT_EQ(fromUtf8(*cp, c.utf8), std::nullopt);
    std::string decoded, error;
    EXPECT_FALSE(decodeJsonString("\\/a" + c.escape, decoded, error, *cp));
    EXPECT_EQ(error, "a character outside the ANSI code page");
  }
}

TEST(CodePageTable, DoubleByteCharactersAreNeverSplit) {
  auto cp = page(932);
  ASSERT_NE(cp, nullptr);
  const std::string name = "a\x95\x5C\\b";  // a, U+8868 (trail byte "\"), separator, b
  EXPECT_EQ(cp->characterLength(name, 1), 2u);
  EXPECT_EQ(cp->characterLength(name, 3), 1u);
  EXPECT_EQ(cp->characterLength("\x95", 0), 1u);  // a lead byte at the end stands alone
  EXPECT_EQ(findCharacters(*cp, name, "\\"), 3u);
  EXPECT_EQ(findCharacters(*cp, name, "\\b"), 3u);
  EXPECT_EQ(findCharacters(*cp, "\x95\x5C" "b", "\\b"), std::string::npos);
  EXPECT_EQ(replaceCharacter(*cp, name, '\\', '/'), "a\x95\x5C/b");
  EXPECT_EQ(escapeNonAscii(name, *cp), "a$u0095$u005c\\b");
  // The same bytes in a single-byte page are three characters.
  EXPECT_EQ(findCharacters(windows1252(), name, "\\"), 2u);
}

TEST(CodePageTable, ServerPathsKeepDoubleByteCharactersWhole) {
  auto cp = page(932);
  ASSERT_NE(cp, nullptr);
  const std::string sync = "C:\\Sync";
  LocalPath local = localPathFromServer(sync, R"(\/\u8868\/\uff0d.txt\/)", RootUse::Refuse, *cp);
  ASSERT_TRUE(local.ok()) << local.refusal;
  EXPECT_EQ(local.relative, "\\\x95\x5C\\\x81\x7C.txt");
  EXPECT_TRUE(local.folder);
  EXPECT_EQ(local.path, sync + local.relative);
  // In Windows-1252 the same \u escapes are outside the code page.
  EXPECT_FALSE(localPathFromServer(sync, R"(\/\u8868)", RootUse::Refuse, windows1252()).ok());
}

}  // namespace
}  // namespace kq

namespace kq {
namespace {

// Full Unicode names: local text is UTF-8; a character of the system code page
// keeps its byte-exact wire form, any other goes out as UTF-16 \u escapes.
TEST(UnicodeNames, KeepCodePageBytesAndEscapeTheRestAsUtf16) {
  struct Case {
    unsigned system;
    std::string utf8;
    std::string wire;
    std::string fromServer;
  } cases[] = {
      {1252, "caf\xC3\xA9 \xE2\x82\xAC.txt", "caf\\u00e9 \\u0080.txt", "caf\\u00e9 \\u20ac.txt"},
      {1252, "\xE6\x97\xA5\xE6\x9C\xAC.txt", "\\u65e5\\u672c.txt", "\\u65e5\\u672c.txt"},
      {1252, "\xF0\x9F\x98\x80", "\\ud83d\\ude00", "\\ud83d\\ude00"},
      {1251, "\xD0\x9E \xE2\x82\xAC", "\\u00ce \\u0088", "\\u041e \\u20ac"},
      {932, "\xE8\xA1\xA8\xF0\x9F\x98\x80", "\\u0095\\u005c\\ud83d\\ude00", "\\u8868\\ud83d\\ude00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.system) + " " + c.wire);
    auto page = makeUnicodeNames(makeCodePage(c.system));
    EXPECT_EQ(page->number(), 65001u);
    EXPECT_EQ(fromUtf8(*page, c.utf8), std::optional<std::string>(c.utf8));
    EXPECT_EQ(completeEscapes(escapeJsonName(c.utf8, *page)), c.wire);
    std::string decoded, error;
    EXPECT_TRUE(decodeJsonString(c.fromServer, decoded, error, *page)) << error;
    EXPECT_EQ(decoded, c.utf8);
  }
}

// U+0080..U+00FF outside the system page would read as a code-page byte on the
// wire; such names, and lone surrogates, stay refused.
TEST(UnicodeNames, RefuseWhatTheWireCannotTellApart) {
  auto cyrillic = makeUnicodeNames(makeCodePage(1251));
  EXPECT_EQ(fromUtf8(*cyrillic, "caf\xC3\xA9"), std::nullopt);
  std::string decoded, error;
  EXPECT_FALSE(decodeJsonString("\\/caf\\u00e9", decoded, error, *cyrillic));
  EXPECT_FALSE(decodeJsonString("\\/a\\ud83d", decoded, error, *cyrillic));
  auto western = makeUnicodeNames(makeCodePage(1252));
  EXPECT_EQ(fromUtf8(*western, "caf\xC3\xA9"), std::optional<std::string>("caf\xC3\xA9"));
}

}  // namespace
}  // namespace kq
