#include "tracking/watcher_messages.h"

#include <gtest/gtest.h>

#include "support/memory_file_system.h"
#include "support/recorders.h"

namespace kq {
namespace {

using test::RecordingLog;

struct Call {
  int action;
  std::string path;
  bool operator==(const Call&) const = default;
};

class WatcherMessagesTest : public ::testing::Test {
 protected:
  RecordingLog log;
  std::vector<Call> calls;
  WatcherMessages watcher{log, [this](int a, const std::string& p) { calls.push_back({a, p}); }};
};

TEST_F(WatcherMessagesTest, ConnectLogsShown) {
  watcher.ClientSocket1Connect();
  EXPECT_EQ(log.lines, (std::vector<test::LogLine>{{"Connected to service!", true}}));
}

struct ReadCase {
  const char* name;
  std::string read;
  std::vector<Call> expected;
};

TEST_F(WatcherMessagesTest, HandlesEachReadAsItsMessages) {
  const ReadCase cases[] = {
      {"single message", "3C:\\Sync\\a.txt", {{3, "C:\\Sync\\a.txt"}}},
      {"network path without colon", "1\\\\server\\share\\a.txt", {{1, "\\\\server\\share\\a.txt"}}},
      {"four bytes: digit and drive root", "3C:\\", {}},
      {"five bytes", "3C:\\x", {{3, "C:\\x"}}},
      {"letter instead of digit", "xC:\\Sync\\a.txt", {}},
      {"stream name: two colons", "3C:\\Sync\\a.txt:zone", {}},
      {"other digit reaches the tracker", "9C:\\Sync\\a.txt", {{9, "C:\\Sync\\a.txt"}}},
      {"trailing bytes stay in the path", "3C:\\Sync\\a.txt \r\n", {{3, "C:\\Sync\\a.txt \r\n"}}},
      {"empty read", "", {}},
      {"first part of a split message", "3C:\\Sync\\lon", {{3, "C:\\Sync\\lon"}}},
      {"rest of a split message", "g.txt", {}},
      {"rest of a split message starting with a digit", "2021\\a.txt", {{2, "021\\a.txt"}}},
      {"two messages in one read",
       "4C:\\Sync\\old.txt5C:\\Sync\\new.txt",
       {{4, "C:\\Sync\\old.txt"}, {5, "C:\\Sync\\new.txt"}}},
      {"three messages, digits in names",
       "3C:\\Sync\\v2\\r1.txt2D:\\Data\\2024\\3a.txt1c:\\x9",
       {{3, "C:\\Sync\\v2\\r1.txt"}, {2, "D:\\Data\\2024\\3a.txt"}, {1, "c:\\x9"}}},
      {"name ending in a digit before the next message",
       "3C:\\Sync\\file11C:\\Sync\\b",
       {{3, "C:\\Sync\\file1"}, {1, "C:\\Sync\\b"}}},
      {"malformed part alone is dropped, the rest handled",
       "3C:\\Sync\\a.txt:s3C:\\Sync\\b.txt",
       {{3, "C:\\Sync\\b.txt"}}},
      {"short message between good ones dropped",
       "3C:\\Sync\\a2C:\\3C:\\Sync\\b",
       {{3, "C:\\Sync\\a"}, {3, "C:\\Sync\\b"}}},
      {"leading garbage dropped, following message handled",
       "xyz3C:\\Sync\\a.txt",
       {{3, "C:\\Sync\\a.txt"}}},
      {"network path after a drive path stays in the first message",
       "3C:\\Sync\\a.txt2\\\\srv\\b",
       {{3, "C:\\Sync\\a.txt2\\\\srv\\b"}}},
  };
  for (const auto& c : cases) {
    calls.clear();
    watcher.ClientSocket1Read(c.read);
    EXPECT_EQ(calls, c.expected) << c.name;
  }
  EXPECT_TRUE(log.lines.empty()) << "malformed messages are dropped without a log line";
}

TEST_F(WatcherMessagesTest, FailureLogsAndLaterMessagesOfTheReadAreHandled) {
  WatcherMessages failing{log, [this](int a, const std::string& p) {
                            if (a == 4) throw std::runtime_error("boom");
                            calls.push_back({a, p});
                          }};
  failing.ClientSocket1Read("4C:\\Sync\\old5C:\\Sync\\new");
  EXPECT_EQ(calls, (std::vector<Call>{{5, "C:\\Sync\\new"}}));
  EXPECT_EQ(log.lines, (std::vector<test::LogLine>{{"Error in ClientSocket1Read()", true}}));
}

TEST(WatcherMessageSplit, CutsOnlyAtDigitDriveColonBackslash) {
  struct Case {
    std::string text;
    std::vector<std::string_view> parts;
  };
  const Case cases[] = {
      {"3C:\\a", {"3C:\\a"}},
      {"3C:\\a3C:\\b", {"3C:\\a", "3C:\\b"}},
      {"3C:\\a3C:b", {"3C:\\a3C:b"}},      // no backslash after the colon
      {"3C:\\a33:\\b", {"3C:\\a33:\\b"}},   // no letter before the colon
      {"3C:\\aC:\\b", {"3C:\\aC:\\b"}},     // no digit before the letter
      {"3C:\\a3C:", {"3C:\\a3C:"}},         // cut-off sequence at the end
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(splitWatcherMessages(c.text), c.parts) << c.text;
}

// Reports are held against the disk: anyone on the machine can write to the
// watcher's port, so a removal of a file that is there, or a change of one
// that is not, is never queued.
class CheckedWatcherTest : public ::testing::Test {
 protected:
  CheckedWatcherTest() {
    fs.addFile("C:\\Sync\\here.txt", "x");
    EXPECT_TRUE(fs.createFolders("C:\\Sync\\docs"));
  }
  test::MemoryFileSystem fs;
  RecordingLog log;
  std::vector<Call> calls;
  WatcherMessages watcher{log, [this](int a, const std::string& p) { calls.push_back({a, p}); },
                          [this](const WatcherNotification& r) { return checkWatcherReport(fs, "C:\\Sync", r); }};
};

TEST_F(CheckedWatcherTest, OnlyReportsTheDiskAgreesWithAreHandled) {
  struct Case {
    std::string read;
    WatcherCheck check;
    std::string logged;  // empty: nothing
  };
  const Case cases[] = {
      {"2C:\\Sync\\here.txt", WatcherCheck::StillThere,
       "Watcher report dropped, the item is still there: C:\\Sync\\here.txt"},
      {"4C:\\Sync\\docs", WatcherCheck::StillThere, "Watcher report dropped, the item is still there: C:\\Sync\\docs"},
      {"2C:\\Sync\\gone.txt", WatcherCheck::Agrees, ""},
      {"4C:\\Sync\\gone.txt", WatcherCheck::Agrees, ""},
      {"3C:\\Sync\\here.txt", WatcherCheck::Agrees, ""},
      {"1C:\\Sync\\docs", WatcherCheck::Agrees, ""},
      {"5C:\\Sync\\here.txt", WatcherCheck::Agrees, ""},
      {"3C:\\Sync\\gone.txt", WatcherCheck::NotThere, "Watcher report dropped, the item is not there: C:\\Sync\\gone.txt"},
      {"1C:\\Sync\\gone.txt", WatcherCheck::NotThere, "Watcher report dropped, the item is not there: C:\\Sync\\gone.txt"},
      {"9C:\\Sync\\gone.txt", WatcherCheck::Agrees, ""},
      {"2C:\\Other\\secret.txt", WatcherCheck::OutsideFolder, "Watcher reports outside the sync folder are dropped"},
      {"2C:\\Syncother\\a.txt", WatcherCheck::OutsideFolder, "Watcher reports outside the sync folder are dropped"},
      {"2C:\\Sync", WatcherCheck::OutsideFolder, "Watcher reports outside the sync folder are dropped"},
  };
  for (const auto& c : cases) {
    CheckedWatcherTest::calls.clear();
    log.lines.clear();
    watcher.ClientSocket1Connect();
    log.lines.clear();
    watcher.ClientSocket1Read(c.read);
    auto parsed = parseWatcherNotification(c.read);
    ASSERT_TRUE(parsed) << c.read;
    EXPECT_EQ(checkWatcherReport(fs, "C:\\Sync", *parsed), c.check) << c.read;
    EXPECT_EQ(calls.size(), c.check == WatcherCheck::Agrees ? 1u : 0u) << c.read;
    EXPECT_EQ(log.texts(), c.logged.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.logged})
        << c.read;
  }
}

TEST_F(CheckedWatcherTest, NamesFromOutsideTheFolderAreNeverLoggedAndToldOncePerConnection) {
  watcher.ClientSocket1Read("3C:\\Other\\a.txt");
  watcher.ClientSocket1Read("2C:\\Other\\b.txt");
  watcher.ClientSocket1Connect();
  watcher.ClientSocket1Read("2C:\\Other\\c.txt");
  EXPECT_EQ(log.texts(), (std::vector<std::string>{"Watcher reports outside the sync folder are dropped",
                                                   "Connected to service!",
                                                   "Watcher reports outside the sync folder are dropped"}));
  EXPECT_TRUE(calls.empty());
}

}  // namespace
}  // namespace kq
