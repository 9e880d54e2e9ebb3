// Native paths at the Linux edges: log and message text as a Linux user reads
// it, and a sync folder written as "/home/me/Sync" in the configuration.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "config/config_store.h"
#include "platform/display_name.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/local_path.h"
#include "platform/posix/native_text.h"
#include "support/scoped_code_page.h"

namespace kq {
namespace {

TEST(NativeText, LocalPathsBecomeRealPathsAndTextBecomesUtf8) {
  const struct {
    std::string local, native;
  } cases[] = {
      {"Sended 5 bytes of Z:\\home\\me\\Sync\\a.txt", "Sended 5 bytes of /home/me/Sync/a.txt"},
      {"Watching Z:\\home\\me\\Sync", "Watching /home/me/Sync"},
      {"Moved Z:\\s\\old name.txt to Z:\\s\\new name.txt", "Moved /s/old name.txt to /s/new name.txt"},
      {"Z:\\s\\\\a//b\\", "/s/a/b/"},  // runs of separators count as one
      {"File received: Z:\\s\\\xDCn\xEF" "c\xF8" "d\xE9.txt", "File received: /s/\xC3\x9Cn\xC3\xAF" "c\xC3\xB8" "d\xC3\xA9.txt"},
      {"na\xEFve text \xA3" "5", "na\xC3\xAFve text \xC2\xA3" "5"},
      {"Name not synchronised: Z:\\s\\\\u65e5\\u672c.txt (characters outside the code page 1252)",
       "Name not synchronised: /s/\xE6\x97\xA5\xE6\x9C\xAC.txt (characters outside the code page 1252)"},
      {"Z:\\s\\\\ud83d\\ude00.txt", "/s/\xF0\x9F\x98\x80.txt"},  // a surrogate pair is one character
      // A backslash inside a Linux name is written as \u005c in the log: it stays in the name.
      {"Name not synchronised: Z:\\s\\a\\u005cb.txt (a character Windows refuses in names)",
       "Name not synchronised: /s/a\\b.txt (a character Windows refuses in names)"},
      {"Z:\\s\\a\\u0041.txt", "/s/a/u0041.txt"},  // other ASCII escapes are no names' escapes
      {"Error: Z:\\s\\a.txt: disk full", "Error: /s/a.txt: disk full"},  // a colon ends the path
      {"Filesync folder:\t\tZ:\\home\\me\\Sync\r\n\r\n", "Filesync folder:\t\t/home/me/Sync\r\n\r\n"},
      {"C:\\Windows\\x and XZ:\\y", "C:\\Windows\\x and XZ:\\y"},  // other drives, and inside a word
      {"{\"path\":\"\\/a.txt\"}", "{\"path\":\"\\/a.txt\"}"},
  };
  for (const auto& c : cases) EXPECT_EQ(nativeText(c.local), c.native) << c.local;
}

TEST(NativeText, AWalkedNameWithABackslashShowsAsOneName) {
  EXPECT_EQ(displayName("a\\b.txt"), "a\\u005cb.txt");
  EXPECT_EQ(nativeText("Z:\\s\\" + displayName("a\\b\xC3\xA9.txt")), "/s/a\\b\xC3\xA9.txt");
}

TEST(NativeText, ADoubleByteCharacterEndingInTheByteOfABackslashStaysOneCharacter) {
  test::ScopedCodePage page(932);
  // "表" is 0x95 0x5C in code page 932: its trail byte is not a separator.
  EXPECT_EQ(nativeText("Z:\\s\\\x95\\.txt"), "/s/\xE8\xA1\xA8.txt");
}

class NativeFolderConfig : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kq-native-cfg-XXXXXX";
    folder = ::mkdtemp(pattern);
  }
  void TearDown() override { std::filesystem::remove_all(folder); }
  void write(const std::string& bytes) { std::ofstream(folder + "/filesync.cfg", std::ios::binary) << bytes; }
  ConfigStore store(bool acceptNative) {
    ClientConfig record = makeClientConfig(nativeToLocalPath(folder) + "\\kqfilesync");
    ConfigStore config(fs, record);
    if (acceptNative) config.acceptNativeFolders(nativeToLocalPath);
    return config;
  }
  std::string folder;
  PosixFileSystem fs;
};

std::string configWith(const std::string& kqdir) {
  return R"({"KQFilsyncConfig":[{"Host":"h","port":"21234","protocol":"00003","contract":"1234",)"
         R"("API-key":"k","KQDir":")" + kqdir + R"(","Reconnect":"1"}]})";
}

TEST_F(NativeFolderConfig, ANativeFolderIsTheLocalPathTextOfThatFolder) {
  const struct {
    std::string file, local, native;
  } cases[] = {
      {configWith("/home/me/Sync"), "Z:\\home\\me\\Sync", "/home/me/Sync"},
      {configWith("\\/home\\/me\\/Sync"), "Z:\\home\\me\\Sync", "/home/me/Sync"},  // escaped slashes
      {configWith("/home/j\xC3\xB6rg/Sync"), "Z:\\home\\j\xF6rg\\Sync", "/home/j\xC3\xB6rg/Sync"},  // UTF-8 file
      {configWith("/home/j\xF6rg/Sync"), "Z:\\home\\j\xF6rg\\Sync", "/home/j\xC3\xB6rg/Sync"},  // ANSI file
      {"\xEF\xBB\xBF" + configWith("/home/j\\u00f6rg"), "Z:\\home\\j\xF6rg", "/home/j\xC3\xB6rg"},
      {configWith("Z:\\\\home\\\\me\\\\Sync"), "Z:\\home\\me\\Sync", ""},  // the older form
  };
  for (const auto& c : cases) {
    write(c.file);
    ConfigStore config = store(true);
    config.reload();
    EXPECT_EQ(config.syncFolder(), c.local) << c.file;
    EXPECT_EQ(config.fields.syncFolder, c.local) << c.file;
    EXPECT_EQ(config.nativeFolder(), c.native) << c.file;
  }
}

TEST_F(NativeFolderConfig, WithoutNativeFoldersTheValueIsTakenAsItStands) {
  write(configWith("/home/me/Sync"));
  ConfigStore config = store(false);
  config.reload();
  EXPECT_EQ(config.syncFolder(), "/home/me/Sync");
  EXPECT_EQ(config.nativeFolder(), "");
}

}  // namespace
}  // namespace kq
