// The settings file through the build's real IniFile: the Windows
// private-profile functions under Wine, the own reader and writer on POSIX.
#include <gtest/gtest.h>

#include "platform/ini_text.h"
#include "support/native_fs.h"

namespace kq {
namespace {

class IniFileTest : public ::testing::Test {
 protected:
  IniFileTest() { EXPECT_TRUE(disk.fs().createFolders(disk.path("_config"))); }
  int read(const std::string& section, const std::string& key, int def = -7) {
    return disk.ini().readInt(path, section, key, def);
  }
  void setFile(const std::string& text) { ASSERT_TRUE(disk.fs().writeText(path, text)); }

  test::NativeFs disk;
  std::string path = disk.path("_config\\Filesync.ini");
};

TEST_F(IniFileTest, MissingFileOrKeyReadsTheDefault) {
  EXPECT_EQ(read("Basic", "filedeletion", 0), 0);
  EXPECT_EQ(read("Basic", "filedeletion", 3), 3);
  setFile("[Basic]\r\nInitialSync=1\r\n");
  EXPECT_EQ(read("Basic", "filedeletion", 4), 4);
  EXPECT_EQ(read("Other", "InitialSync", 5), 5);
  EXPECT_EQ(read("Basic", "InitialSync"), 1);
}

TEST_F(IniFileTest, WritingCreatesTheFileWithItsSection) {
  ASSERT_TRUE(disk.ini().writeInt(path, "Basic", "filedeletion", 2));
  EXPECT_EQ(disk.fs().readText(path), "[Basic]\r\nfiledeletion=2\r\n");
  EXPECT_EQ(read("Basic", "filedeletion"), 2);
}

TEST_F(IniFileTest, WritingKeepsEveryOtherKeyAndSection) {
  setFile("[Other]\r\nkeep=5\r\n[Basic]\r\nfiledeletion=0\r\nInitialSync=0\r\n");
  ASSERT_TRUE(disk.ini().writeInt(path, "Basic", "InitialSync", 1));
  ASSERT_TRUE(disk.ini().writeInt(path, "Basic", "filedeletion", -1));
  ASSERT_TRUE(disk.ini().writeInt(path, "Third", "x", 9));
  EXPECT_EQ(read("Other", "keep"), 5);
  EXPECT_EQ(read("Basic", "InitialSync"), 1);
  EXPECT_EQ(read("Basic", "filedeletion"), -1);
  EXPECT_EQ(read("Third", "x"), 9);
  auto text = disk.fs().readText(path).value_or("");
  EXPECT_EQ(text.find("InitialSync=0"), std::string::npos) << "replaced, not added: " << text;
  EXPECT_EQ(text.find("\n\n"), std::string::npos) << "CR LF line ends: " << text;
}

TEST_F(IniFileTest, NamesCompareCaseInsensitively) {
  setFile("[BASIC]\r\nFileDeletion=1\r\n");
  EXPECT_EQ(read("Basic", "filedeletion"), 1);
  ASSERT_TRUE(disk.ini().writeInt(path, "basic", "FILEDELETION", 2));
  EXPECT_EQ(read("Basic", "filedeletion"), 2);
  auto text = disk.fs().readText(path).value_or("");
  EXPECT_EQ(text.find("[basic]"), std::string::npos) << "no second section: " << text;
}

TEST_F(IniFileTest, ValuesThatAreNotWholeNumbersReadAsTheDefault) {
  struct Case {
    const char* value;
    int expected;
  };
  const Case cases[] = {
      {"5", 5},        {"-1", -1},     {"  7  ", 7},   {"+3", 3},     {"0x10", 16},
      {"$1F", 31},     {"\"4\"", 4},   {"12abc", -7},  {"abc", -7},   {"", -7},
      {"1.5", -7},     {"1 2", -7},    {"99999999999", -7},           {"-", -7},
  };
  for (const auto& c : cases) {
    setFile(std::string("[Basic]\r\nfiledeletion=") + c.value + "\r\n");
    EXPECT_EQ(read("Basic", "filedeletion"), c.expected) << '"' << c.value << '"';
  }
}

TEST_F(IniFileTest, WritingIntoAMissingFolderFails) {
  EXPECT_FALSE(disk.ini().writeInt(disk.path("none\\Filesync.ini"), "Basic", "filedeletion", 1));
  EXPECT_FALSE(disk.fs().exists(disk.path("none")));
}

TEST(IniInteger, ParsesWholeIntegersOnly) {
  EXPECT_EQ(parseIniInteger("2147483647"), 2147483647);
  EXPECT_EQ(parseIniInteger("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(parseIniInteger("2147483648"), std::nullopt);
  EXPECT_EQ(parseIniInteger("0xFFFFFFFF"), -1);
  EXPECT_EQ(parseIniInteger("0x"), std::nullopt);
  EXPECT_EQ(parseIniInteger("$"), std::nullopt);
  EXPECT_EQ(parseIniInteger(" 1"), std::nullopt) << "blanks are removed by the reader, not here";
  EXPECT_EQ(parseIniInteger("007"), 7);
}

TEST(IniText, KeepsCommentsAndOddLinesWhenWriting) {
  std::string text = "; settings\n[Basic]\nfiledeletion = 1 \nnot a key\n\n[Next]\na=1";
  EXPECT_EQ(iniLookup(text, " basic ", "FILEDELETION"), "1");
  EXPECT_EQ(iniWithValue(text, "Basic", "InitialSync", "1"),
            "; settings\r\n[Basic]\r\nfiledeletion = 1 \r\nnot a key\r\nInitialSync=1\r\n\r\n[Next]\r\na=1\r\n");
  EXPECT_EQ(iniWithValue(text, "basic", "FileDeletion", "2"),
            "; settings\r\n[Basic]\r\nfiledeletion=2\r\nnot a key\r\n\r\n[Next]\r\na=1\r\n");
  EXPECT_EQ(iniLookup("[A]\n;k=1\nk=2\nk=3", "A", "k"), "2") << "comments skipped, first key wins";
  EXPECT_EQ(iniLookup("\xEF\xBB\xBF[A]\r\nk=1\r\n", "A", "k"), "1") << "byte order mark";
  EXPECT_EQ(iniLookup("k=1\n[A]\n", "A", "k"), std::nullopt) << "keys before any section";
}

}  // namespace
}  // namespace kq
