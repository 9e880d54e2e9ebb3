// What the client reads from its own folders is never read whole when it is
// oversized (planted or damaged): "Filesync.ini" and the exception lists are
// bounded, and the log says which file was left unread and why.
#include <gtest/gtest.h>

#include "config/settings.h"
#include "platform/tree_move.h"
#include "support/engine_harness.h"
#include "support/native_fs.h"
#include "support/recorders.h"
#include "tracking/exception_filter.h"

namespace kq {
namespace {

// padded is text followed by blank lines up to size bytes.
std::string padded(const std::string& text, std::size_t size) {
  std::string out = text;
  while (out.size() + 2 <= size) out += "\r\n";
  if (out.size() < size) out += ' ';
  return out;
}

// filled is text followed by one line of filler up to size bytes.
std::string filled(const std::string& text, std::size_t size) { return text + std::string(size - text.size(), 'q'); }

class BoundedSettings : public ::testing::Test {
 protected:
  BoundedSettings() { EXPECT_TRUE(disk.fs().createFolders(disk.path("_config"))); }
  test::NativeFs disk;
  std::string ini = disk.path("_config\\Filesync.ini");
  test::RecordingLog log;
  BoundedIniFile settings{disk.ini(), disk.fs(), log};
};

TEST_F(BoundedSettings, AFileAtTheBoundIsReadAndOneBeyondItIsNot) {
  const std::string content = "[Basic]\r\nfiledeletion=2\r\nInitialSync=1\r\nLogLevel=trace\r\nUnicodeNames=1\r\n";
  ASSERT_TRUE(disk.fs().writeText(ini, padded(content, kSettingsMaxBytes)));
  EXPECT_EQ(readDeletionPolicy(settings, ini), 2);
  EXPECT_TRUE(readLogTrace(settings, ini));
  EXPECT_TRUE(readUnicodeNames(settings, ini));
  EXPECT_TRUE(log.lines.empty());

  ASSERT_TRUE(disk.fs().writeText(ini, padded(content, kSettingsMaxBytes + 1)));
  EXPECT_EQ(readDeletionPolicy(settings, ini), kDeleteToTrash);
  EXPECT_EQ(readInitialSync(settings, ini), 0);
  EXPECT_FALSE(readLogTrace(settings, ini));
  EXPECT_FALSE(readUnicodeNames(settings, ini));
  EXPECT_FALSE(writeInitialSync(settings, ini, 1));
  const std::string line = "Filesync.ini is larger than 65536 bytes (65537 bytes); its settings are not used: " + ini;
  ASSERT_EQ(log.texts(), std::vector<std::string>{line});  // once, not at every access
  EXPECT_TRUE(log.lines[0].show);
  EXPECT_EQ(disk.fs().status(ini).size, kSettingsMaxBytes + 1);  // left as it was

  // Put right by the user, the file counts again.
  ASSERT_TRUE(disk.fs().writeText(ini, content));
  EXPECT_EQ(readDeletionPolicy(settings, ini), 2);
  EXPECT_TRUE(writeDeletionPolicy(settings, ini, 1));
  EXPECT_EQ(readDeletionPolicy(settings, ini), 1);
}

TEST_F(BoundedSettings, AMissingFileReadsAsTheDefaultsWithoutALine) {
  EXPECT_EQ(readDeletionPolicy(settings, ini), kDeleteToTrash);
  EXPECT_TRUE(writeInitialSync(settings, ini, 1));
  EXPECT_EQ(readInitialSync(settings, ini), 1);
  EXPECT_TRUE(log.lines.empty());
}

// An oversized settings file planted to turn the trash off does not: the
// engine's deletion still moves the file to the trash.
TEST(BoundedSettingsEngine, AnOversizedSettingsFileLeavesTheTrashOn) {
  test::NativeEngine t;
  PortableTreeMove mover{t.fs};
  t.processes.delegate = &mover;
  ASSERT_TRUE(t.fs.createFolders(t.path("_config")));
  ASSERT_TRUE(t.fs.writeText(t.settingsFile(), padded("[Basic]\r\nfiledeletion=2\r\n", 400000)));
  ASSERT_TRUE(t.fs.writeText(t.path("a.txt"), "keep me"));
  t.connect();
  const RequestId id{'1', '2', '3', '4'};
  const std::string body = R"({"filepath":"\/a.txt"})";
  t.read(encodeHeader({"RQDEL", id, body.size()}) + body);
  EXPECT_EQ(t.fs.readText(t.path("_trash\\a.txt")).value_or("<missing>"), "keep me");
  EXPECT_TRUE(t.log.contains("Filesync.ini is larger than 65536 bytes (400000 bytes); its settings are not used: " +
                             t.settingsFile()));
}

class BoundedExceptionLists : public ::testing::Test {
 protected:
  BoundedExceptionLists() {
    EXPECT_TRUE(disk.fs().createFolders(disk.path("Sync\\_config")));
    EXPECT_TRUE(disk.fs().writeText(disk.path("Sync\\_config\\exstensions.dat"), ".bak\r\n"));
  }
  test::NativeFs disk;
  std::string prefixes = disk.path("Sync\\_config\\exceptions.dat");
  test::RecordingLog log;
  ExceptionFilter filter{disk.fs(), &log};
};

TEST_F(BoundedExceptionLists, AListAtTheBoundIsReadAndOneBeyondItIsNot) {
  ASSERT_TRUE(disk.fs().writeText(prefixes, filled("~\r\n#\r\n", kExceptionListMaxBytes)));
  ASSERT_TRUE(filter.load(disk.path("Sync")));
  EXPECT_TRUE(filter.isExcluded("C:\\Sync\\#draft.txt"));
  EXPECT_TRUE(log.lines.empty());

  ExceptionFilter fresh{disk.fs(), &log};
  ASSERT_TRUE(disk.fs().writeText(prefixes, filled("~\r\n#\r\n", kExceptionListMaxBytes + 1)));
  EXPECT_FALSE(fresh.load(disk.path("Sync")));
  EXPECT_EQ(fresh.prefixExceptions, std::vector<std::string>{"~"});  // the defaults stay
  EXPECT_FALSE(fresh.isExcluded("C:\\Sync\\#draft.txt"));
  EXPECT_EQ(log.texts(),
            std::vector<std::string>{"exceptions.dat is larger than 1048576 bytes; the list is not read: " + prefixes});
}

}  // namespace
}  // namespace kq
