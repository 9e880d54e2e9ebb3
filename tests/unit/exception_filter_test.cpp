#include "tracking/exception_filter.h"

#include <gtest/gtest.h>

#include "config/config_store.h"
#include "support/memory_file_system.h"
#include "support/recorders.h"
#include "support/scoped_code_page.h"
#include "tracking/exceptions_editor.h"

namespace kq {
namespace {

using test::FsOp;
using Lines = std::vector<std::string>;

const std::string kSync = "C:\\Sync";
const std::string kExtensions = "C:\\Sync\\_config\\exstensions.dat";
const std::string kPrefixes = "C:\\Sync\\_config\\exceptions.dat";

// In a double-byte code page a line matches only at character boundaries: the
// trail byte 0x5C of a character is no backslash.
TEST(ExceptionFilter, DoubleByteTrailBytesAreNoMatchStart) {
  test::ScopedCodePage japanese(932);
  test::MemoryFileSystem fs;
  ExceptionFilter filter{fs};
  filter.prefixExceptions = {"\\.git"};
  EXPECT_FALSE(filter.isExcluded("C:\\Sync\\\x95\x5C.git"));  // U+8868 then ".git"
  EXPECT_TRUE(filter.isExcluded("C:\\Sync\\\x95\x5C\\.git"));
  EXPECT_TRUE(filter.isExcluded("C:\\Sync\\.git"));
}

TEST(ExceptionFilter, InitialListsMatchAsCaseSensitiveSubstrings) {
  test::MemoryFileSystem fs;
  ExceptionFilter filter{fs};
  EXPECT_EQ(filter.extensionExceptions, (Lines{".tmp", ".TMP"}));
  EXPECT_EQ(filter.prefixExceptions, (Lines{"~"}));
  struct Case {
    const char* path;
    bool excluded;
  };
  const Case cases[] = {
      {"C:\\Sync\\report.tmp", true},
      {"C:\\Sync\\REPORT.TMP", true},
      {"C:\\Sync\\~$budget.xlsx", true},
      {"C:\\Sync\\old.tmp.d\\a.txt", true},
      {"C:\\Sync\\dir~1\\a.txt", true},
      {"C:\\Sync\\report.Tmp", false},
      {"C:\\Sync\\report.txt", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(filter.isExcluded(c.path), c.excluded) << c.path;
}

TEST(ExceptionFilter, EmptyLineMatchesEverythingEmptyListsNothing) {
  test::MemoryFileSystem fs;
  ExceptionFilter filter{fs};
  filter.extensionExceptions.clear();
  filter.prefixExceptions.clear();
  EXPECT_FALSE(filter.isExcluded("C:\\Sync\\a.tmp~"));
  EXPECT_FALSE(filter.isExcluded(""));
  filter.prefixExceptions = {"x", ""};
  EXPECT_TRUE(filter.isExcluded("C:\\Sync\\a.txt"));
  EXPECT_TRUE(filter.isExcluded(""));
}

TEST(ExceptionFilter, SplitsAndJoinsLines) {
  struct Case {
    std::string text;
    Lines lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\rc\r\nd", {"a", "b", "c", "d"}},
      {"\r\n", {""}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\n\r", {"a", ""}},  // LF then a lone CR: two line ends
      {"caf\xE9 \t", {"caf\xE9 \t"}},
  };
  for (const auto& c : cases) EXPECT_EQ(splitExceptionLines(c.text), c.lines) << c.text;
  EXPECT_EQ(joinExceptionLines({".tmp", "", "~"}), ".tmp\r\n\r\n~\r\n");
  EXPECT_EQ(joinExceptionLines({}), "");
}

class ExceptionFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { fs.addFolder(kSync); }
  test::MemoryFileSystem fs;
  ExceptionFilter filter{fs};
};

TEST_F(ExceptionFilesTest, LoadReplacesBothLists) {
  fs.addFile(kExtensions, ".bak\r\n.swp\r\n");
  fs.addFile(kPrefixes, "#\n.~lock");
  ASSERT_TRUE(filter.load(kSync));
  EXPECT_EQ(filter.extensionExceptions, (Lines{".bak", ".swp"}));
  EXPECT_EQ(filter.prefixExceptions, (Lines{"#", ".~lock"}));
  EXPECT_FALSE(filter.isExcluded("C:\\Sync\\a.tmp"));
}

TEST_F(ExceptionFilesTest, LoadStopsAtTheFirstMissingFile) {
  fs.addFile(kPrefixes, "#\r\n");
  EXPECT_FALSE(filter.load(kSync));
  EXPECT_EQ(filter.extensionExceptions, (Lines{".tmp", ".TMP"}));
  EXPECT_EQ(filter.prefixExceptions, (Lines{"~"}));

  test::MemoryFileSystem other;
  ExceptionFilter second{other};
  other.addFile(kExtensions, ".bak\r\n");
  EXPECT_FALSE(second.load(kSync));
  EXPECT_EQ(second.extensionExceptions, (Lines{".bak"}));
  EXPECT_EQ(second.prefixExceptions, (Lines{"~"}));
}

TEST_F(ExceptionFilesTest, LoadKeepsListsWhenTheFileCannotBeRead) {
  fs.addFile(kExtensions, ".bak\r\n");
  fs.addFile(kPrefixes, "#\r\n");
  fs.failOn(FsOp::OpenRead, kPrefixes);
  EXPECT_FALSE(filter.load(kSync));
  EXPECT_EQ(filter.extensionExceptions, (Lines{".bak"}));
  EXPECT_EQ(filter.prefixExceptions, (Lines{"~"}));
}

TEST_F(ExceptionFilesTest, SaveNeverCreatesAMissingSyncFolder) {
  ASSERT_TRUE(fs.removeAll(kSync));
  EXPECT_FALSE(filter.save(kSync));
  EXPECT_FALSE(fs.exists(kSync));
}

TEST_F(ExceptionFilesTest, SaveCreatesHiddenSystemFolderAndCrLfFiles) {
  filter.extensionExceptions = {".tmp", "caf\xE9"};
  filter.prefixExceptions = {};
  ASSERT_TRUE(filter.save(kSync));
  EXPECT_TRUE(fs.isFolder("C:\\Sync\\_config"));
  EXPECT_EQ(fs.attributes("C:\\Sync\\_config"), std::make_pair(true, true));
  EXPECT_EQ(fs.content(kExtensions), std::optional<std::string>(".tmp\r\ncaf\xE9\r\n"));
  EXPECT_EQ(fs.content(kPrefixes), std::optional<std::string>(""));

  ExceptionFilter reread{fs};
  ASSERT_TRUE(reread.load(kSync));
  EXPECT_EQ(reread.extensionExceptions, filter.extensionExceptions);
  EXPECT_EQ(reread.prefixExceptions, filter.prefixExceptions);
}

TEST_F(ExceptionFilesTest, SaveReplacesOlderFiles) {
  fs.addFile(kExtensions, "old\r\nlonger old content\r\n");
  ASSERT_TRUE(filter.save(kSync));
  EXPECT_EQ(fs.content(kExtensions), std::optional<std::string>(".tmp\r\n.TMP\r\n"));
  EXPECT_EQ(fs.content(kPrefixes), std::optional<std::string>("~\r\n"));
}

TEST_F(ExceptionFilesTest, SaveStopsAtTheFirstFailure) {
  struct Case {
    FsOp op;
    std::string path;
    bool extensionsWritten;
  };
  const Case cases[] = {
      {FsOp::CreateFolders, "", false},
      {FsOp::SetAttributes, "", false},
      {FsOp::OpenWrite, kExtensions, false},
      {FsOp::OpenWrite, kPrefixes, true},
  };
  for (const auto& c : cases) {
    test::MemoryFileSystem disk;
    disk.addFolder(kSync);
    ExceptionFilter f{disk};
    disk.failOn(c.op, c.path);
    EXPECT_FALSE(f.save(kSync));
    EXPECT_EQ(disk.content(kExtensions).has_value(), c.extensionsWritten);
    EXPECT_FALSE(disk.content(kPrefixes).has_value());
  }
}

// The editor reads "filesync.cfg" from the program folder for its sync folder.
class ExceptionsEditorTest : public ::testing::Test {
 protected:
  static ClientConfig programRecord() {
    ClientConfig record;
    record.configFolder = "C:\\Program\\KQ";
    return record;
  }
  void writeConfig() {
    fs.addFolder(kSync);
    fs.addFile("C:\\Program\\KQ\\filesync.cfg",
               "{\"KQFilsyncConfig\":[{\"Host\":\"h\",\"port\":\"12345\",\"protocol\":\"00003\","
               "\"contract\":\"1234\",\"API-key\":\"k\",\"KQDir\":\"C:\\\\Sync\",\"Reconnect\":\"1\"}]}");
  }
  test::MemoryFileSystem fs;
  test::RecordingLog log;
  ExceptionFilter filter{fs};
  ConfigStore config{fs, programRecord()};
  ExceptionsEditor editor{filter, config, log};
};

TEST_F(ExceptionsEditorTest, MenuCommandLogsAFailedLoadAndShowIsSilent) {
  writeConfig();
  config.reload();
  editor.Exceptions1Click();
  editor.FormShow();
  EXPECT_EQ(log.lines, (std::vector<test::LogLine>{{"Error on loading exceptions...", true}}));
  EXPECT_EQ(filter.extensionExceptions, (Lines{".tmp", ".TMP"}));
  EXPECT_EQ(filter.prefixExceptions, (Lines{"~"}));
}

TEST_F(ExceptionsEditorTest, OpeningLoadsTheFilesAndDropsUnsavedEdits) {
  writeConfig();
  config.reload();
  fs.addFile(kExtensions, ".bak\r\n");
  fs.addFile(kPrefixes, "#\r\n");
  filter.prefixExceptions.push_back("");  // unsaved edit: everything excluded
  EXPECT_TRUE(filter.isExcluded("C:\\Sync\\a.txt"));
  editor.Exceptions1Click();
  EXPECT_TRUE(log.lines.empty());
  EXPECT_EQ(filter.prefixExceptions, (Lines{"#"}));
  EXPECT_FALSE(filter.isExcluded("C:\\Sync\\a.txt"));
}

TEST_F(ExceptionsEditorTest, SaveRereadsTheConfigurationAndWritesTheLists) {
  writeConfig();
  filter.prefixExceptions = {"~", ""};
  EXPECT_EQ(editor.BitBtn1Click(), "");
  EXPECT_EQ(fs.content(kPrefixes), std::optional<std::string>("~\r\n\r\n"));
  EXPECT_EQ(fs.attributes("C:\\Sync\\_config"), std::make_pair(true, true));
  EXPECT_TRUE(filter.isExcluded("C:\\Sync\\a.txt"));
  EXPECT_TRUE(log.lines.empty());
}

TEST_F(ExceptionsEditorTest, SaveFailuresAreLoggedAndReturnedForTheUser) {
  const std::string noConfig = editor.BitBtn1Click();  // no configuration file
  EXPECT_EQ(noConfig.rfind("The exceptions cannot be saved: ", 0), 0u) << noConfig;
  writeConfig();
  fs.failOn(FsOp::CreateFolders);
  EXPECT_EQ(editor.BitBtn1Click(), "The exceptions cannot be saved to C:\\Sync\\_config");
  EXPECT_FALSE(fs.content(kExtensions).has_value());
  EXPECT_EQ(log.texts(), (std::vector<std::string>{noConfig, "The exceptions cannot be saved to C:\\Sync\\_config"}));
  EXPECT_EQ(filter.prefixExceptions, (Lines{"~"}));
}

}  // namespace
}  // namespace kq
