#include "config/installer_fields.h"

#include <gtest/gtest.h>

#include "support/memory_file_system.h"

namespace kq {
namespace {

TEST(InstallerFields, PortIsTwoFollowedByTheContractAndProtocolIsFixed) {
  InstallerInput input{"sync.example.com", "0042", "abcdefghijklmnopqrstuvwx", "Z:\\home\\me\\Sync"};
  ConfigFields f = installerFields(input);
  EXPECT_EQ(f.host, "sync.example.com");
  EXPECT_EQ(f.port, "20042");
  EXPECT_EQ(f.protocol, "00003");
  EXPECT_EQ(f.contract, "0042");
  EXPECT_EQ(f.apiKey, "abcdefghijklmnopqrstuvwx");
  EXPECT_EQ(f.syncFolder, "Z:\\home\\me\\Sync");
}

TEST(InstallerFields, SavedConfigurationHoldsTheFolderWithDoubledBackslashes) {
  test::MemoryFileSystem fs;
  fs.mountDrive("Z:");
  ASSERT_TRUE(fs.createFolders("Z:\\opt\\kq"));
  ClientConfig record = makeClientConfig("Z:\\opt\\kq\\kqfilesync");
  saveConfig(record, installerFields({"abc", "1234", "key", "Z:\\home\\me\\Sync"}), fs);
  auto text = fs.readText("Z:\\opt\\kq\\filesync.cfg");
  ASSERT_TRUE(text);
  EXPECT_EQ(*text,
            "{\"KQFilsyncConfig\":[{\"Host\":\"abc\",\"port\":\"21234\",\"protocol\":\"00003\","
            "\"contract\":\"1234\",\"API-key\":\"key\",\"KQDir\":\"Z:\\\\home\\\\me\\\\Sync\","
            "\"Reconnect\":\"1\"}]}");
}

TEST(InstallerFields, RefusesTheFirstMissingValueInOrder) {
  const struct {
    InstallerInput input;
    const char* problem;
  } cases[] = {
      {{"ab", "", "", ""}, "Host name expected!"},
      {{"", "1234", "key", "C:\\S"}, "Host name expected!"},
      {{"abc", "", "", ""}, "Contract name expected!"},
      {{"abc", "1", "", ""}, "API key expected!"},
      {{"abc", "1", "k", ""}, "Korvalinq Drive destination path expected!"},
      {{"abc", "1", "k", "C:\\S"}, nullptr},
      {{"a.b", "x", "y", "Z:\\"}, nullptr},  // the hints' digit counts are not enforced
  };
  for (const auto& c : cases) {
    auto problem = installerInputProblem(c.input);
    if (c.problem) {
      ASSERT_TRUE(problem) << c.input.host;
      EXPECT_EQ(*problem, c.problem);
    } else {
      EXPECT_FALSE(problem) << *problem;
    }
  }
}

}  // namespace
}  // namespace kq

namespace kq {
namespace {

TEST(InstallerFields, WarnsOfAKeyThatIsNotTwentyFourPrintableCharacters) {
  const std::string tail = " letters and digits. The server refuses a connection with a wrong key.\n\nGo on with this key?";
  const struct {
    std::string key;
    std::optional<std::string> warning;
  } cases[] = {
      {"K0RVAL1NQTESTKEY00004711", std::nullopt},
      {"abc-DEF_ghi.JKL+mno/PQR=", std::nullopt},
      {"K0RVAL1NQTESTKEY0000471", "The API key has 23 characters; the keys of Korvalinq Drive are 24" + tail},
      {"K0RVAL1NQTESTKEY000047111", "The API key has 25 characters; the keys of Korvalinq Drive are 24" + tail},
      {"K0RVAL1NQ TESTKEY0000471", "The API key has 24 characters, 1 of them blanks or other characters that are not "
                                   "printable; the keys of Korvalinq Drive are 24" + tail},
      {"K0RVAL1NQTESTKEY0000471\xe9", "The API key has 24 characters, 1 of them blanks or other characters that are "
                                      "not printable; the keys of Korvalinq Drive are 24" + tail},
  };
  for (const auto& c : cases) EXPECT_EQ(apiKeyWarning(c.key), c.warning) << c.key;
}

}  // namespace
}  // namespace kq
