#include "wire/name_rule.h"

#include <gtest/gtest.h>

namespace kq {
namespace {

// The rule both programs apply: the same reasons for the same names.
TEST(NameRule, Names) {
  struct Case {
    std::string name;
    std::string reason;  // empty: the client can hold it
  } cases[] = {
      {"report.pdf", ""},
      {"a..b", ""},
      {".hidden", ""},
      {"CONSOLE", ""},
      {"COM10.txt", ""},
      {"it's here (1)", ""},
      {"", "an empty name"},
      {".", "a current folder segment"},
      {"..", "a parent folder segment"},
      {"...", "a parent folder segment"},
      {".. ", "a parent folder segment"},
      {"a:b.txt", "a drive letter or colon"},
      {"C:", "a drive letter or colon"},
      {"a*b", "a character not allowed in file names"},
      {"a?b", "a character not allowed in file names"},
      {"a\"b", "a character not allowed in file names"},
      {"a<b", "a character not allowed in file names"},
      {"a>b", "a character not allowed in file names"},
      {"a|b", "a character not allowed in file names"},
      {"back\\slash.txt", "a backslash in a name"},
      {"tab\there", "a control character"},
      {std::string("nul\0byte", 8), "a control character"},
      {"CON", "a device name"},
      {"con.txt", "a device name"},
      {"Nul .tar.gz", "a device name"},
      {"PRN", "a device name"},
      {"aux", "a device name"},
      {"COM1", "a device name"},
      {"lpt9.log", "a device name"},
      {"CONOUT$", "a device name"},
      {"notes.", "a name ending in a dot or blank"},
      {"notes ", "a name ending in a dot or blank"},
      {std::string(255, 'n'), ""},
      {std::string(256, 'n'), "a name longer than 255 bytes"},
  };
  for (auto& c : cases) {
    EXPECT_EQ(nameRefusal(c.name, NameText::Utf8), c.reason) << c.name;
    EXPECT_EQ(nameRefusal(c.name, NameText::CodePage), c.reason) << c.name;
  }
}

TEST(NameRule, LengthsCountUtf8Bytes) {
  // U+00E9 is one byte in the code page and two in UTF-8; U+20AC (0x80) three.
  EXPECT_EQ(nameRefusal(std::string(127, '\xe9'), NameText::CodePage), "");
  EXPECT_EQ(nameRefusal(std::string(128, '\xe9'), NameText::CodePage), "a name longer than 255 bytes");
  EXPECT_EQ(nameRefusal(std::string(85, '\x80'), NameText::CodePage), "");
  EXPECT_EQ(nameRefusal(std::string(86, '\x80'), NameText::CodePage), "a name longer than 255 bytes");
  std::string e;
  for (int i = 0; i < 128; ++i) e += "\xc3\xa9";
  EXPECT_EQ(nameRefusal(e, NameText::Utf8), "a name longer than 255 bytes");
  EXPECT_EQ(utf8Length("caf\xe9", NameText::CodePage), 5u);
}

// segments is a path of n names of 199 bytes: 200 bytes each with its "/".
std::string segments(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += "/" + std::string(199, 'p');
  return out;
}

TEST(NameRule, Paths) {
  struct Case {
    std::string path;  // UTF-8, as the server holds it
    std::string reason;
  } cases[] = {
      {"/", ""},
      {"/docs/report.pdf", ""},
      {"/docs/new/", ""},
      {"/caf\xc3\xa9/na\xc3\xafve.txt", ""},
      {"/\xe2\x82\xac.txt", ""},  // the euro sign is in the code page
      {"docs/a.txt", "the path does not start with a separator"},
      {"", "the path does not start with a separator"},
      {"/a//b.txt", "an empty name"},
      {"/a/./b", "a current folder segment"},
      {"/a/../b", "a parent folder segment"},
      {"/CON/x.txt", "a device name"},
      {"/ok/a:b.txt", "a drive letter or colon"},
      {"/back\\slash.txt", "a backslash in a name"},
      {"/dir./x", "a name ending in a dot or blank"},
      {"/\xe4\xb8\xad.txt", "a character outside the ANSI code page"},
      {"/bad\xff.txt", "a character outside the ANSI code page"},
      {segments(20), ""},  // 4000 bytes
      {segments(20) + "/x", "a path longer than 4000 bytes"},
  };
  for (auto& c : cases) EXPECT_EQ(pathRefusal(c.path, NameText::Utf8), c.reason) << c.path;
  // The client's 8-bit text: the same rule.
  EXPECT_EQ(pathRefusal("/caf\xe9/a:b", NameText::CodePage), "a drive letter or colon");
  EXPECT_EQ(pathRefusal("/caf\xe9/ok.txt", NameText::CodePage), "");
}

}  // namespace
}  // namespace kq
