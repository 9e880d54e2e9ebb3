#include "config/client_config.h"
#include "config/config_store.h"

#include <gtest/gtest.h>

#include "support/memory_file_system.h"

namespace kq {
namespace {

using test::FsOp;
using test::MemoryFileSystem;

constexpr const char* kCfgPath = "C:\\Program Files\\KQ\\filesync.cfg";

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { fs.addFolder("C:\\Program Files\\KQ"); }
  void writeCfg(const std::string& text) { fs.addFile(kCfgPath, text); }
  void read() { readConfig(record, record.configFolder, fields, fs); }

  MemoryFileSystem fs;
  ClientConfig record = makeClientConfig("C:\\Program Files\\KQ\\KQFilesyncClient.exe");
  ConfigFields fields;
};

ConfigFields sampleFields() {
  return {"sync.example.com", "50123", "00003", "1234", "abcdefghijklmnopqrstuvwx", "C:\\Data\\Drive"};
}

TEST(ClientConfig, RecordTakesTheProgramFolder) {
  auto r = makeClientConfig("C:\\Program Files\\KQ\\KQFilesyncClient.exe");
  EXPECT_EQ(r.exeName, "C:\\Program Files\\KQ\\KQFilesyncClient.exe");
  EXPECT_EQ(r.exeFolder, "C:\\Program Files\\KQ\\");
  EXPECT_EQ(r.configFolder, "C:\\Program Files\\KQ\\");
  EXPECT_EQ(r.configFileName, "filesync.cfg");
  EXPECT_EQ(r.syncFolderRaw, "");
  EXPECT_EQ(r.host, "");
  EXPECT_EQ(r.port, "");
}

TEST_F(ConfigTest, SaveWritesCompactJsonInKeyOrder) {
  saveConfig(record, sampleFields(), fs);
  EXPECT_EQ(fs.content(kCfgPath),
            "{\"KQFilsyncConfig\":[{\"Host\":\"sync.example.com\",\"port\":\"50123\","
            "\"protocol\":\"00003\",\"contract\":\"1234\",\"API-key\":\"abcdefghijklmnopqrstuvwx\","
            "\"KQDir\":\"C:\\\\Data\\\\Drive\",\"Reconnect\":\"1\"}]}");
}

TEST_F(ConfigTest, SavedFileReadsBackToTheSameFields) {
  saveConfig(record, sampleFields(), fs);
  auto other = makeClientConfig("C:\\Program Files\\KQ\\KQFilesyncClient.exe");
  ConfigFields back;
  readConfig(other, other.configFolder, back, fs);
  EXPECT_EQ(back.host, "sync.example.com");
  EXPECT_EQ(back.port, "50123");
  EXPECT_EQ(back.protocol, "00003");
  EXPECT_EQ(back.contract, "1234");
  EXPECT_EQ(back.apiKey, "abcdefghijklmnopqrstuvwx");
  EXPECT_EQ(back.syncFolder, "C:\\Data\\Drive");
  EXPECT_EQ(other.host, "sync.example.com");
  EXPECT_EQ(other.port, "50123");
  EXPECT_EQ(other.syncFolderRaw, "C:\\\\Data\\\\Drive");
  EXPECT_EQ(syncFolderPath(other), "C:\\Data\\Drive");
  EXPECT_EQ(other.syncFolderRaw, "C:\\Data\\Drive");
}

TEST_F(ConfigTest, SavedFileIsAnsiTextWithoutMark) {
  auto f = sampleFields();
  f.syncFolder = "C:\\Donn\xE9" "es\\\x80";  // e acute and the euro sign in Windows-1252
  saveConfig(record, f, fs);
  auto text = *fs.content(kCfgPath);
  EXPECT_NE(text.find("\"KQDir\":\"C:\\\\Donn\xE9" "es\\\\\x80\""), std::string::npos) << text;
  EXPECT_NE(text.substr(0, 3), "\xEF\xBB\xBF");
  // Characters beyond ASCII do not survive a read: each becomes one question mark.
  read();
  EXPECT_EQ(fields.syncFolder, "C:\\Donn?es\\?");
}

TEST_F(ConfigTest, SaveFailsWhenTheFileCannotBeWritten) {
  fs.failOn(FsOp::OpenWrite);
  EXPECT_THROW(saveConfig(record, sampleFields(), fs), ConfigError);
}

TEST_F(ConfigTest, LaterArrayElementsOverrideMemberByMember) {
  writeCfg(R"({"KQFilsyncConfig":[{"Host":"a","port":"1","protocol":"00003","KQDir":"C:\\A"},)"
           R"({"port":"2","KQDir":"D:\\B\\C"}]})");
  read();
  EXPECT_EQ(fields.host, "a");
  EXPECT_EQ(record.host, "a");
  EXPECT_EQ(fields.port, "2");
  EXPECT_EQ(record.port, "2");
  EXPECT_EQ(fields.protocol, "00003");
  EXPECT_EQ(fields.syncFolder, "D:\\B\\C");
  EXPECT_EQ(record.syncFolderRaw, "D:\\\\B\\\\C");
}

TEST_F(ConfigTest, ExtraMembersAreIgnoredAndOrderIsFree) {
  writeCfg(R"({"Other":1,"KQFilsyncConfig":[{"Reconnect":"0","KQDir":"C:\\S","x":"y",)"
           R"("API-key":"K","contract":"9999","Host":"h","port":"7","protocol":"p"}]})");
  read();
  EXPECT_EQ(fields.host, "h");
  EXPECT_EQ(fields.port, "7");
  EXPECT_EQ(fields.protocol, "p");
  EXPECT_EQ(fields.contract, "9999");
  EXPECT_EQ(fields.apiKey, "K");
  EXPECT_EQ(fields.syncFolder, "C:\\S");
}

TEST_F(ConfigTest, ValuesKeepTheirEscapes) {
  const struct {
    std::string stored;    // the value as the file holds it, between the quotes
    std::string field;     // what the Host field shows
  } cases[] = {
      {R"(plain)", "plain"},
      {R"(say \"hi\")", R"(say \"hi\")"},
      {R"(tab\there)", R"(tab\there)"},
      {R"(\u0041BC)", "ABC"},                 // re-written as JSON text, plain ASCII stays plain
      {R"(caf\u00e9)", R"(caf\u00e9)"},       // beyond ASCII stays escaped
      {R"(a\/b)", "a/b"},
  };
  for (const auto& c : cases) {
    writeCfg("{\"KQFilsyncConfig\":[{\"Host\":\"" + c.stored + "\"}]}");
    read();
    EXPECT_EQ(fields.host, c.field) << c.stored;
  }
}

TEST_F(ConfigTest, NonStringValuesKeepTheirWholeText) {
  writeCfg(R"({"KQFilsyncConfig":[{"Host":"h","port":8080,"protocol":true,"contract":null}]})");
  read();
  EXPECT_EQ(fields.port, "8080");
  EXPECT_EQ(record.port, "8080");
  EXPECT_EQ(fields.protocol, "true");
  EXPECT_EQ(fields.contract, "null");
}

// utf16 spells ASCII text as UTF-16 code units with a byte-order mark.
std::string utf16(const std::string& ascii, bool bigEndian, const std::string& extraUnits = {}) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  auto put = [&](char lo, char hi) { out += bigEndian ? std::string{hi, lo} : std::string{lo, hi}; };
  auto cut = ascii.find('|');
  for (char c : ascii.substr(0, cut)) put(c, '\0');
  for (std::size_t i = 0; i + 1 < extraUnits.size(); i += 2) put(extraUnits[i], extraUnits[i + 1]);
  if (cut != std::string::npos)
    for (char c : ascii.substr(cut + 1)) put(c, '\0');
  return out;
}

TEST_F(ConfigTest, TextOutsideAsciiBecomesQuestionMarks) {
  const std::string head = "{\"KQFilsyncConfig\":[{\"Host\":\"";
  const std::string tail = "\"}]}";
  const std::string emoji("\x3D\xD8\x00\xDE", 4);  // U+1F600 as a surrogate pair (low byte first)
  const struct {
    std::string bytes;
    std::string host;
  } cases[] = {
      {head + "caf\xE9\x80" + tail, "caf??"},                                  // ANSI, no mark
      {"\xEF\xBB\xBF" + head + "caf\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" + tail, "caf???"},  // UTF-8
      {"\xEF\xBB\xBF" + head + "a\xFF" "b" + tail, "a?b"},                          // stray byte
      {utf16(head + "x|y" + tail, false, emoji), "x?y"},                          // UTF-16 LE
      {utf16(head + "x|y" + tail, true, std::string("\xE9\x00", 2)), "x?y"},                     // UTF-16 BE
  };
  for (const auto& c : cases) {
    writeCfg(c.bytes);
    read();
    EXPECT_EQ(fields.host, c.host);
  }
}

TEST_F(ConfigTest, BadFilesFailAndKeepEarlierValues) {
  writeCfg(R"({"KQFilsyncConfig":[{"Host":"old","port":"1"}]})");
  read();
  const char* bad[] = {
      "not json",
      R"({"KQFilsyncConfig":[{"Host":"x")",
      R"({"Other":[]})",
      R"({"KQFilsyncConfig":{"Host":"x"}})",
      R"(["KQFilsyncConfig"])",
      "",
  };
  for (const char* text : bad) {
    writeCfg(text);
    EXPECT_THROW(read(), ConfigError) << text;
    EXPECT_EQ(fields.host, "old") << text;
    EXPECT_EQ(record.port, "1") << text;
  }
}

TEST_F(ConfigTest, MembersBeforeAFailureKeepTheirNewValues) {
  writeCfg(R"({"KQFilsyncConfig":[{"Host":"old","port":"1"}]})");
  read();
  writeCfg(R"({"KQFilsyncConfig":[{"Host":"new"},"broken",{"port":"2"}]})");
  EXPECT_THROW(read(), ConfigError);
  EXPECT_EQ(fields.host, "new");
  EXPECT_EQ(fields.port, "1");
}

TEST_F(ConfigTest, MissingFileFails) {
  fields.host = "kept";
  EXPECT_THROW(read(), ConfigError);
  EXPECT_EQ(fields.host, "kept");
  writeCfg(R"({"KQFilsyncConfig":[]})");
  fs.failOn(FsOp::OpenRead);
  EXPECT_THROW(read(), ConfigError);
}

TEST(SyncFolderPath, CollapsesOncePerRead) {
  ClientConfig r;
  r.syncFolderRaw = "\\\\\\\\nas\\\\share\\\\Sync";  // \\nas\share\Sync as the file stores it
  EXPECT_EQ(syncFolderPath(r), "\\\\nas\\share\\Sync");
  EXPECT_EQ(syncFolderPath(r), "\\\\nas\\share\\Sync");
  EXPECT_EQ(r.syncFolderRaw, "\\\\nas\\share\\Sync");
}

TEST(SyncFolderPath, CollapseReplacesPairsLeftToRight) {
  const struct {
    std::string in, out;
  } cases[] = {{"", ""}, {"C:\\\\A", "C:\\A"}, {"\\\\\\", "\\\\"}, {"C:\\A", "C:\\A"}, {"a\\\\\\\\b", "a\\\\b"}};
  for (const auto& c : cases) EXPECT_EQ(collapseBackslashes(c.in), c.out) << c.in;
}

TEST_F(ConfigTest, StoreReloadsFromTheProgramFolder) {
  ConfigStore store(fs, record);
  EXPECT_FALSE(store.configFileExists());
  EXPECT_EQ(store.syncFolder(), "");
  writeCfg(R"({"KQFilsyncConfig":[{"KQDir":"C:\\Sync"}]})");
  EXPECT_TRUE(store.configFileExists());
  store.reload();
  EXPECT_EQ(store.syncFolder(), "C:\\Sync");
  EXPECT_EQ(store.fields.syncFolder, "C:\\Sync");
  EXPECT_EQ(store.settingsPath(), "C:\\Sync\\_config\\Filesync.ini");
}

}  // namespace
}  // namespace kq
