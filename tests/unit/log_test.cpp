#include "log/log.h"

#include <gtest/gtest.h>

#include "log/log_format.h"
#include "support/fake_clock.h"
#include "support/memory_file_system.h"

namespace kq {
namespace {

using test::FakeClock;
using test::FsOp;
using test::MemoryFileSystem;

constexpr const char* kCfg = "C:\\KQ\\filesync.cfg";
constexpr const char* kLog = "C:\\Sync\\_log\\Filesync.log";
constexpr const char* kStamp = "C:\\Sync\\_log\\time.inf";

std::string cfgText(const std::string& host, const std::string& dir = "C:\\\\Sync") {
  return "{\"KQFilsyncConfig\":[{\"Host\":\"" + host +
         "\",\"port\":\"50123\",\"protocol\":\"00003\",\"contract\":\"1234\","
         "\"API-key\":\"abcdefghijklmnopqrstuvwx\",\"KQDir\":\"" + dir + "\",\"Reconnect\":\"1\"}]}";
}

std::string header(const std::string& started, const std::string& host = "sync.example.com",
                   const std::string& folder = "C:\\Sync") {
  return "Log started:\t\t\t" + started + "\r\n" +
         "Product version:\t\t0.4.2\r\n" +
         "Server:\t\t\t \t" + host + "\r\n" +
         "Contract:\t\t \t1234\r\n"
         "API key:\t\t \t****uvwx\r\n"
         "Protocol:\t\t\t00003\r\n"
         "Filesync folder:\t\t" + folder + "\r\n\r\n";
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs.addFile(kCfg, cfgText("sync.example.com"));
    fs.addFolder("C:\\Sync");  // as the installation leaves it
    clock.setLocal(2024, 3, 7, 14, 5, 9, 42);
  }
  // loadConfig reads the configuration into the main record, as the main window does.
  void loadConfig() { store.reload(); }
  std::string logText() { return fs.content(kLog).value_or("<none>"); }

  MemoryFileSystem fs;
  FakeClock clock;
  ConfigStore store{fs, makeClientConfig("C:\\KQ\\KQFilesyncClient.exe")};
  LogView view;
  Logger log{fs, clock, store, view};
};

TEST(LogKeyTest, TheApiKeyShowsOnlyItsLastFourCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"abcdefghijklmnopqrstuvwx", "****uvwx"}, {"abcde", "****bcde"}, {"abcd", "****"}, {"", "****"}};
  for (const auto& [key, shown] : cases) EXPECT_EQ(maskedKey(key), shown) << key;
}

TEST_F(LogTest, NothingHappensUntilTheSyncFolderIsKnown) {
  auto before = fs.entries();
  log.writeLog("Connecting to service...", true);
  log.writeLog("trace", false);
  EXPECT_TRUE(view.lines().empty());
  EXPECT_EQ(fs.entries(), before);
}

TEST_F(LogTest, FirstCallStartsTheLogFile) {
  loadConfig();
  // The file is read again when the log starts, so the header shows its values.
  fs.addFile(kCfg, cfgText("other.example.com"));
  log.writeLog("Connecting to service...", true);

  EXPECT_EQ(logText(), header("Thu Mar 07 2024 14:05:09.042", "other.example.com") +
                           "2024/03/07 14:05:09 : Connecting to service...\r\n");
  EXPECT_EQ(fs.content(kStamp), std::to_string(clock.epochMs));
  EXPECT_EQ(fs.attributes("C:\\Sync\\_config"), std::make_pair(true, true));
  EXPECT_EQ(fs.attributes("C:\\Sync\\_log"), std::make_pair(true, false));
  EXPECT_EQ(fs.attributes(kLog), std::make_pair(false, false));
  EXPECT_EQ(view.lines(), std::vector<std::string>{"2024/03/07 14:05:09 : Connecting to service..."});
}

TEST_F(LogTest, LaterCallsAppendOnlyShownLines) {
  loadConfig();
  log.writeLog("first", false);  // starts the file: written although not shown
  std::string started = header("Thu Mar 07 2024 14:05:09.042") + "2024/03/07 14:05:09 : first\r\n";
  EXPECT_EQ(logText(), started);
  EXPECT_TRUE(view.lines().empty());

  clock.advanceMs(61000);
  log.writeLog("trace", false);
  log.writeLog("second", true);
  EXPECT_EQ(logText(), started + "2024/03/07 14:06:10 : second\r\n");
  EXPECT_EQ(view.lines(), std::vector<std::string>{"2024/03/07 14:06:10 : second"});
  EXPECT_EQ(fs.content(kStamp), std::to_string(clock.epochMs - 61000));  // not rewritten
}

TEST_F(LogTest, MissingStampRetiresTheFile) {
  loadConfig();
  log.writeLog("day one", true);
  std::string old = logText();
  clock.setLocal(2024, 3, 9, 8, 0, 0, 0);
  ASSERT_TRUE(fs.remove(kStamp));
  log.writeLog("after", true);
  EXPECT_EQ(fs.content("C:\\Sync\\_log\\Filesync_2024-03-09.log"), old);
  EXPECT_EQ(logText(), header("Sat Mar 09 2024 08:00:00.000") + "2024/03/09 08:00:00 : after\r\n");
  EXPECT_EQ(fs.content(kStamp), std::to_string(clock.epochMs));
}

TEST_F(LogTest, MissingLogFileStartsANewOneWithAFreshStamp) {
  loadConfig();
  log.writeLog("one", true);
  ASSERT_TRUE(fs.remove(kLog));
  clock.advanceMs(5000);
  log.writeLog("two", true);
  EXPECT_EQ(logText(), header("Thu Mar 07 2024 14:05:14.042") + "2024/03/07 14:05:14 : two\r\n");
  EXPECT_EQ(fs.content(kStamp), std::to_string(clock.epochMs));
}

TEST_F(LogTest, FileIsRetiredOnceThirtyDaysOld) {
  const struct {
    std::int64_t ageMs;
    bool retired;
  } cases[] = {
      {29 * FakeClock::kDayMs + 23 * 3600000LL, false},
      {30 * FakeClock::kDayMs - 1, false},
      {30 * FakeClock::kDayMs, true},
      {400 * FakeClock::kDayMs, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ageMs);
    MemoryFileSystem disk;
    disk.addFile(kCfg, cfgText("h"));
    disk.addFolder("C:\\Sync");
    FakeClock time;
    time.setLocal(2024, 3, 7, 14, 5, 9, 42);
    ConfigStore config{disk, makeClientConfig("C:\\KQ\\KQFilesyncClient.exe")};
    config.reload();
    LogView lines;
    Logger logger{disk, time, config, lines};
    logger.writeLog("start", true);
    std::string stamp = *disk.content(kStamp);
    time.advanceMs(c.ageMs);
    logger.writeLog("late", true);
    std::string rotated = LogPaths("C:\\Sync").rotated(time.now());
    if (c.retired) {
      EXPECT_FALSE(disk.exists(kLog));
      ASSERT_TRUE(disk.content(rotated));
      EXPECT_NE(disk.content(rotated)->find(" : late\r\n"), std::string::npos);
      EXPECT_EQ(disk.content(kStamp), stamp);  // untouched until the next call
      logger.writeLog("next", true);
      EXPECT_EQ(disk.content(kLog)->rfind("Log started:", 0), 0u);
      EXPECT_EQ(disk.content(kStamp), std::to_string(time.epochMs));
    } else {
      EXPECT_FALSE(disk.exists(rotated));
      EXPECT_NE(disk.content(kLog)->find(" : late\r\n"), std::string::npos);
    }
  }
}

TEST_F(LogTest, QuietCallStillRetiresAnOldFile) {
  loadConfig();
  log.writeLog("start", true);
  std::string before = logText();
  clock.advanceMs(31 * FakeClock::kDayMs);
  log.writeLog("trace", false);
  EXPECT_FALSE(fs.exists(kLog));
  EXPECT_EQ(fs.content("C:\\Sync\\_log\\Filesync_2024-04-07.log"), before);
}

TEST_F(LogTest, TwoRetirementsOnOneDayKeepTheLater) {
  loadConfig();
  log.writeLog("first file", true);
  ASSERT_TRUE(fs.remove(kStamp));
  clock.advanceMs(1000);
  log.writeLog("second file", true);
  ASSERT_TRUE(fs.remove(kStamp));
  std::string second = logText();
  clock.advanceMs(1000);
  log.writeLog("third file", true);
  EXPECT_EQ(fs.content("C:\\Sync\\_log\\Filesync_2024-03-07.log"), second);
  EXPECT_NE(logText().find(" : third file\r\n"), std::string::npos);
}

TEST_F(LogTest, StampContentDecidesTheAge) {
  const struct {
    std::string stamp;
    bool retired;
  } cases[] = {
      {"", false},             // empty: age 0
      {"\r\n", false},         // empty first line
      {"garbage", true},       // not a number: 0, so the whole time since 1970
      {"12abc", true},
      {"0", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stamp);
    (void)fs.removeAll("C:\\Sync");
    fs.addFolder("C:\\Sync");
    loadConfig();
    clock.advanceMs(Logger::kRecheckMs);  // the folder made anew is looked at
    log.writeLog("start", true);
    fs.addFile(kStamp, c.stamp);
    clock.advanceMs(Logger::kRecheckMs);  // the stamp is read at the next look at the disk
    log.writeLog("next", true);
    EXPECT_EQ(fs.exists(kLog), !c.retired);
  }
}

TEST_F(LogTest, StampInTheFutureRestartsTheCount) {
  loadConfig();
  log.writeLog("start", true);
  fs.addFile(kStamp, std::to_string(clock.epochMs + 365 * FakeClock::kDayMs));  // clock set back
  clock.advanceMs(1000);
  log.writeLog("after", true);
  EXPECT_TRUE(fs.exists(kLog));
  EXPECT_EQ(fs.content(kStamp), std::to_string(clock.epochMs));
  clock.advanceMs(30 * FakeClock::kDayMs);
  log.writeLog("a month later", true);
  EXPECT_FALSE(fs.exists(kLog));
  EXPECT_TRUE(fs.exists("C:\\Sync\\_log\\Filesync_2024-04-06.log"));
}

TEST_F(LogTest, ViewIsClearedAboveTenThousandLines) {
  loadConfig();
  int cleared = 0;
  view.onChange = [&](const std::string*, bool wasCleared) { cleared += wasCleared; };
  for (int i = 0; i < 10000; ++i) view.add("old");
  log.writeLog("a", true);
  EXPECT_EQ(view.lines().size(), 10001u);
  EXPECT_EQ(cleared, 0);
  log.writeLog("b", false);  // cleared even though nothing is added
  EXPECT_TRUE(view.lines().empty());
  EXPECT_EQ(cleared, 1);
  for (int i = 0; i < 10001; ++i) view.add("old");
  log.writeLog("c", true);
  EXPECT_EQ(view.lines(), std::vector<std::string>{"2024/03/07 14:05:09 : c"});
}

TEST_F(LogTest, MissingSyncFolderIsNotCreatedAndItsLinesWait) {
  fs.addFile(kCfg, cfgText("h", "Q:\\\\Sync"));
  loadConfig();
  log.writeLog("offline", true);
  log.writeLog("trace", false);
  EXPECT_EQ(view.lines().size(), 1u);
  fs.mountDrive("Q:");
  clock.advanceMs(2000);
  log.writeLog("drive back, folder not", true);
  EXPECT_FALSE(fs.exists("Q:\\Sync"));  // never made anew by the log
  EXPECT_EQ(log.heldLines().size(), 2u);

  fs.addFolder("Q:\\Sync");
  clock.advanceMs(1000);
  log.writeLog("back", true);
  EXPECT_EQ(fs.content("Q:\\Sync\\_log\\Filesync.log"),
            header("Thu Mar 07 2024 14:05:12.042", "h", "Q:\\Sync") + "2024/03/07 14:05:09 : offline\r\n" +
                "2024/03/07 14:05:11 : drive back, folder not\r\n2024/03/07 14:05:12 : back\r\n");
  EXPECT_TRUE(log.heldLines().empty());
  EXPECT_EQ(view.lines().size(), 3u);
}

TEST_F(LogTest, LinesBeyondTheBoundAreCountedWhileTheFolderIsMissing) {
  loadConfig();
  ASSERT_TRUE(fs.removeAll("C:\\Sync"));
  for (std::size_t i = 0; i < Logger::kMaxHeldLines + 3; ++i) log.writeLog("line " + std::to_string(i), true);
  EXPECT_FALSE(fs.exists("C:\\Sync"));
  fs.addFolder("C:\\Sync");
  log.writeLog("back", true);
  std::string text = logText();
  EXPECT_NE(text.find(" : line 999\r\n"), std::string::npos);
  EXPECT_EQ(text.find(" : line 1000\r\n"), std::string::npos);
  const std::string tail = "2024/03/07 14:05:09 : Log lines dropped while the sync folder was missing: 3\r\n"
                           "2024/03/07 14:05:09 : back\r\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(LogTest, FileIsRetiredWhenItReachesTenMebibytes) {
  loadConfig();
  log.writeLog("start", true);
  const std::string line = "2024/03/07 14:05:09 : full\r\n";
  const std::string start = logText();
  struct Case {
    std::uint64_t sizeBefore;
    bool show;
    bool retired;
  } cases[] = {
      {kLogMaxBytes + 5, false, false},  // a quiet line adds nothing and retires nothing by size
      {kLogMaxBytes - line.size() - 1, true, false},
      {kLogMaxBytes - line.size(), true, true},
  };
  int second = 9;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sizeBefore);
    const std::string retired = "C:\\Sync\\_log\\Filesync_2024-03-07_14-05-" + std::to_string(++second) + ".log";
    fs.addFile(kLog, start + std::string(c.sizeBefore - start.size(), 'x'));
    clock.advanceMs(Logger::kRecheckMs);  // the file written by hand is looked at again
    log.writeLog("full", c.show);
    EXPECT_EQ(fs.exists(retired), c.retired);
    EXPECT_EQ(fs.exists(kLog), !c.retired);
  }
  log.writeLog("next", true);  // after a retirement the next line starts a new file
  EXPECT_EQ(logText(), header("Thu Mar 07 2024 14:05:12.042") + "2024/03/07 14:05:12 : next\r\n");
}

TEST_F(LogTest, OnlyTheNewestRetiredFilesAreKept) {
  loadConfig();
  log.writeLog("start", true);
  const char* older[] = {"Filesync_2024-01-01.log", "Filesync_2024-02-01.log", "Filesync_2024-02-01_10-00-00.log",
                         "Filesync_2024-03-01.log", "Filesync_2024-03-06_23-59-59.log"};
  std::int64_t t = 1600000000;  // before the disk's time of the file retired below
  for (const char* name : older) {
    fs.addFile(std::string("C:\\Sync\\_log\\") + name, "old");
    fs.setModified(std::string("C:\\Sync\\_log\\") + name, t += 1000);
  }
  fs.addFile("C:\\Sync\\_log\\notes.txt", "not a log");
  ASSERT_TRUE(fs.remove(kStamp));
  clock.advanceMs(Logger::kRecheckMs);
  log.writeLog("after", true);  // retires the current file as Filesync_2024-03-07.log
  for (const char* gone : {"Filesync_2024-01-01.log", "Filesync_2024-02-01.log"})
    EXPECT_FALSE(fs.exists(std::string("C:\\Sync\\_log\\") + gone)) << gone;
  for (const char* kept : {"Filesync_2024-02-01_10-00-00.log", "Filesync_2024-03-01.log",
                           "Filesync_2024-03-06_23-59-59.log", "Filesync_2024-03-07.log", "notes.txt"})
    EXPECT_TRUE(fs.exists(std::string("C:\\Sync\\_log\\") + kept)) << kept;
  EXPECT_TRUE(fs.exists(kLog));
}

TEST_F(LogTest, DiskFailuresAreSwallowed) {
  loadConfig();
  fs.failOn(FsOp::CreateFolders, "C:\\Sync\\_log", 1);
  log.writeLog("no folder", true);
  EXPECT_FALSE(fs.exists(kLog));
  EXPECT_FALSE(fs.exists(kStamp));

  fs.failOn(FsOp::OpenAppend, kLog, 1);
  log.writeLog("no file", true);
  EXPECT_FALSE(fs.exists(kStamp));  // no stamp for a file that was not started

  log.writeLog("works", true);
  EXPECT_EQ(logText(), header("Thu Mar 07 2024 14:05:09.042") + "2024/03/07 14:05:09 : works\r\n");
  EXPECT_EQ(view.lines().size(), 3u);
}

TEST_F(LogTest, LockedOldFileIsRetiredOnALaterCall) {
  loadConfig();
  log.writeLog("start", true);
  clock.advanceMs(30 * FakeClock::kDayMs);
  fs.failOn(FsOp::Rename, kLog, 1);
  log.writeLog("locked", true);
  EXPECT_NE(logText().find(" : locked\r\n"), std::string::npos);
  log.writeLog("free", true);
  EXPECT_FALSE(fs.exists(kLog));
  auto rotated = fs.content("C:\\Sync\\_log\\Filesync_2024-04-06.log");
  ASSERT_TRUE(rotated);
  EXPECT_NE(rotated->find(" : free\r\n"), std::string::npos);
}

TEST_F(LogTest, BrokenConfigurationOrViewDoesNotStopTheLog) {
  loadConfig();
  fs.addFile(kCfg, "not json");
  view.onChange = [](const std::string*, bool) { throw std::runtime_error("window gone"); };
  EXPECT_NO_THROW(log.writeLog("still logged", true));
  EXPECT_EQ(logText(), header("Thu Mar 07 2024 14:05:09.042") + "2024/03/07 14:05:09 : still logged\r\n");
}

// diskCalls counts the file-system calls other than writes to an open file.
int diskCalls(const MemoryFileSystem& fs) {
  int n = 0;
  for (FsOp op : {FsOp::Status, FsOp::CreateFolders, FsOp::Remove, FsOp::RemoveAll, FsOp::Rename,
                  FsOp::SetAttributes, FsOp::Attributes, FsOp::OpenRead, FsOp::OpenAppend, FsOp::OpenWrite,
                  FsOp::Walk})
    n += fs.calls(op);
  return n;
}

TEST_F(LogTest, WithinASecondALineIsOneWriteAndAQuietLineNothing) {
  loadConfig();
  log.writeLog("start", true);
  const int before = diskCalls(fs), writes = fs.calls(FsOp::Write);
  for (int i = 0; i < 50; ++i) {
    clock.advanceMs(10);
    log.writeLog("shown " + std::to_string(i), true);
    log.writeLog("quiet", false);
  }
  EXPECT_EQ(diskCalls(fs), before) << "no status, no stamp, no open";
  EXPECT_EQ(fs.calls(FsOp::Write), writes + 50);
  EXPECT_NE(logText().find("2024/03/07 14:05:09 : shown 0\r\n"), std::string::npos);
  EXPECT_NE(logText().find("2024/03/07 14:05:09 : shown 49\r\n"), std::string::npos);
  EXPECT_EQ(logText().find("quiet"), std::string::npos);

  clock.advanceMs(1000);  // a second later the disk is looked at once
  log.writeLog("later", true);
  EXPECT_GT(diskCalls(fs), before);
  const int after = diskCalls(fs);
  log.writeLog("and again", true);
  EXPECT_EQ(diskCalls(fs), after);
}

TEST_F(LogTest, ChangesOnTheDiskAreSeenWithinASecond) {
  loadConfig();
  log.writeLog("start", true);
  ASSERT_TRUE(fs.remove(kStamp));  // someone asks for a new file
  clock.advanceMs(Logger::kRecheckMs - 1);
  log.writeLog("same second", true);
  EXPECT_NE(logText().find(" : same second\r\n"), std::string::npos);
  clock.advanceMs(1);
  log.writeLog("looked again", true);
  EXPECT_EQ(logText(), header("Thu Mar 07 2024 14:05:10.042") + "2024/03/07 14:05:10 : looked again\r\n");
  EXPECT_NE(fs.content("C:\\Sync\\_log\\Filesync_2024-03-07.log")->find(" : same second\r\n"), std::string::npos);

  ASSERT_TRUE(fs.remove(kLog));  // gone under the kept file: its next write fails and the disk is looked at
  log.writeLog("at once", true);
  EXPECT_EQ(logText(), header("Thu Mar 07 2024 14:05:10.042") + "2024/03/07 14:05:10 : at once\r\n");
}

TEST_F(LogTest, TheProtocolTraceReachesTheFileOnlyWhenSwitchedOn) {
  loadConfig();
  log.writeLog("start", true);
  log.writeTrace("Received header: RQCHG");
  EXPECT_EQ(view.lines().back(), "2024/03/07 14:05:09 : Received header: RQCHG");
  EXPECT_EQ(logText().find("RQCHG"), std::string::npos);
  log.setFileTrace(true);
  log.writeTrace("Received header: RQFLS");
  EXPECT_NE(logText().find("2024/03/07 14:05:09 : Received header: RQFLS\r\n"), std::string::npos);
  EXPECT_EQ(view.lines().size(), 3u);
}

TEST(LogFormat, StartTimeUsesEnglishNames) {
  const struct {
    LocalTime time;
    const char* text;
  } cases[] = {
      {{2024, 3, 7, 14, 5, 9, 42, 4}, "Thu Mar 07 2024 14:05:09.042"},
      {{2000, 1, 1, 0, 0, 0, 5, 6}, "Sat Jan 01 2000 00:00:00.005"},
      {{2023, 12, 31, 23, 59, 59, 999, 0}, "Sun Dec 31 2023 23:59:59.999"},
  };
  for (const auto& c : cases) EXPECT_EQ(logStartTime(c.time), c.text);
  EXPECT_EQ(logLine({2024, 3, 7, 4, 5, 9, 0, 4}, "x \xE9"), "2024/03/07 04:05:09 : x \xE9");
  EXPECT_EQ(LogPaths("C:\\S").rotated({2024, 1, 2}), "C:\\S\\_log\\Filesync_2024-01-02.log");
  EXPECT_EQ(LogPaths("C:\\S").rotatedBySize({2024, 1, 2, 3, 4, 5}), "C:\\S\\_log\\Filesync_2024-01-02_03-04-05.log");
}

}  // namespace
}  // namespace kq
