#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/recorders.h"
#include "watcher/change_reporter.h"
#include "watcher/notification_hub.h"
#include "watcher/notification_sender.h"
#include "watcher/rename_pairer.h"

namespace kq {
namespace {

TEST(WatchScope, KeepsTheSyncFolderWithoutItsOwnFolders) {
  const struct {
    const char* path;
    bool inside;
  } cases[] = {
      {"Z:\\home\\me\\Sync\\a.txt", true},
      {"Z:\\home\\me\\Sync\\docs\\_log\\a.txt", true},  // only the top-level folders are private
      {"Z:\\home\\me\\Sync\\_logbook.txt", true},
      {"Z:\\home\\me\\Sync\\_log", false},
      {"Z:\\home\\me\\Sync\\_log\\Filesync.log", false},
      {"Z:\\home\\me\\Sync\\_config\\Filesync.ini", false},
      {"Z:\\home\\me\\Sync\\_trash\\docs\\a.txt", false},
      {"Z:\\home\\me\\Sync", false},
      {"Z:\\home\\me\\Sync\\", false},
      {"Z:\\home\\me\\Sync2\\a.txt", false},
      {"Z:\\home\\me\\sync\\a.txt", false},  // exact text, as the client compares
      {"Z:\\home\\me\\other.txt", false},
      {"Z:\\home\\me\\Sync\\docs\\a.txt.kqpart", false},  // a file still being received
      {"Z:\\home\\me\\Sync\\a.kqpart.txt", true},
  };
  WatchScope scope("Z:\\home\\me\\Sync\\");
  EXPECT_EQ(scope.syncFolder(), "Z:\\home\\me\\Sync");
  for (const auto& c : cases) EXPECT_EQ(scope.contains(c.path), c.inside) << c.path;
}

struct ReporterFixture : ::testing::Test {
  test::RecordingLog log;
  NotificationSender sender{log};
  ChangeReporter reporter{WatchScope("C:\\Sync"), sender};
  std::vector<std::string> messages() const { return {sender.waiting().begin(), sender.waiting().end()}; }
};

TEST_F(ReporterFixture, BuildsOneDigitAndThePathWithNothingBetweenOrAfter) {
  reporter.added("C:\\Sync\\caf\xE9.txt");
  reporter.modified("C:\\Sync\\a.txt");
  reporter.removed("C:\\Sync\\b.txt");
  reporter.modified("C:\\Sync\\_log\\Filesync.log");
  EXPECT_EQ(messages(), (std::vector<std::string>{"1C:\\Sync\\caf\xE9.txt", "3C:\\Sync\\a.txt",
                                                  "2C:\\Sync\\b.txt"}));
}

TEST_F(ReporterFixture, RenamesAcrossTheBorderBecomeRemovalsOrAdditions) {
  reporter.renamed("C:\\Sync\\a.txt", "C:\\Sync\\b.txt");
  reporter.renamed("C:\\Sync\\c.txt", "C:\\Sync\\_trash\\c.txt");
  reporter.renamed("C:\\Sync\\_trash\\d.txt", "C:\\Sync\\d.txt");
  reporter.renamed("C:\\Sync\\_config\\x", "C:\\Sync\\_trash\\x");
  reporter.renamed("C:\\Sync\\e.txt", "C:\\Elsewhere\\e.txt");
  EXPECT_EQ(messages(), (std::vector<std::string>{"4C:\\Sync\\a.txt", "5C:\\Sync\\b.txt",
                                                  "2C:\\Sync\\c.txt", "1C:\\Sync\\d.txt",
                                                  "2C:\\Sync\\e.txt"}));
}

TEST_F(ReporterFixture, TemporaryFilesOfATransferAreNeverReported) {
  reporter.added("C:\\Sync\\a.txt.kqpart");
  reporter.modified("C:\\Sync\\a.txt.kqpart");
  reporter.renamed("C:\\Sync\\a.txt.kqpart", "C:\\Sync\\a.txt");  // completed: the file arrives
  reporter.renamed("C:\\Sync\\b.txt", "C:\\Sync\\b.txt.kqpart");
  reporter.removed("C:\\Sync\\c.txt.kqpart");
  EXPECT_EQ(messages(), (std::vector<std::string>{"1C:\\Sync\\a.txt", "2C:\\Sync\\b.txt"}));
}

// Removals wait, and everything after one waits behind it, until the platform
// flushes them or drops them because the sync folder itself went.
TEST_F(ReporterFixture, RemovalsWaitInOrderUntilFlushedOrDropped) {
  int holds = 0;
  reporter.onRemovalHeld = [&holds] { ++holds; };
  reporter.modified("C:\\Sync\\a.txt");
  reporter.removed("C:\\Sync\\b.txt");
  reporter.added("C:\\Sync\\b.txt");
  reporter.removed("C:\\Sync\\_log\\x");  // outside: neither waits nor extends the wait
  EXPECT_EQ(messages(), std::vector<std::string>{"3C:\\Sync\\a.txt"});
  EXPECT_EQ(holds, 1);
  EXPECT_EQ(reporter.held(), 2u);
  reporter.flushHeld();
  EXPECT_EQ(messages(), (std::vector<std::string>{"3C:\\Sync\\a.txt", "2C:\\Sync\\b.txt", "1C:\\Sync\\b.txt"}));

  reporter.removed("C:\\Sync\\c.txt");
  reporter.modified("C:\\Sync\\d.txt");
  EXPECT_EQ(reporter.dropHeld(), 2u);
  reporter.flushHeld();
  EXPECT_EQ(messages().size(), 3u);
  reporter.modified("C:\\Sync\\e.txt");  // nothing waits: straight out
  EXPECT_EQ(messages().back(), "3C:\\Sync\\e.txt");
}

TEST_F(ReporterFixture, WaitingReportsAreBounded) {
  reporter.onRemovalHeld = [] {};
  for (std::size_t i = 0; i < ChangeReporter::kMaxHeld + 2; ++i) reporter.removed("C:\\Sync\\f" + std::to_string(i));
  EXPECT_EQ(reporter.held(), ChangeReporter::kMaxHeld);
  EXPECT_EQ(sender.waiting().front(), "2C:\\Sync\\f0");  // the oldest went out
}

TEST(RenamePairer, PairsByCookieAndHandsBackAnUnpairedOldName) {
  RenamePairer pairer;
  EXPECT_FALSE(pairer.movedFrom(7, {"/s/a", false}));
  EXPECT_TRUE(pairer.armed());
  EXPECT_FALSE(pairer.movedTo(8)) << "another cookie: the item came from outside";
  auto from = pairer.movedTo(7);
  ASSERT_TRUE(from);
  EXPECT_EQ(from->path, "/s/a");
  EXPECT_FALSE(pairer.armed());

  EXPECT_FALSE(pairer.movedFrom(9, {"/s/dir", true}));
  auto left = pairer.movedFrom(10, {"/s/b", false});
  ASSERT_TRUE(left) << "the first move never found its new name: it left the tree";
  EXPECT_EQ(left->path, "/s/dir");
  EXPECT_TRUE(left->isFolder);
  auto last = pairer.takeUnpaired();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->path, "/s/b");
  EXPECT_FALSE(pairer.takeUnpaired());
}

// ScriptedChannel records sends and answers probes from a script.
struct ScriptedChannel : NotificationChannel {
  bool send(std::string_view m) override {
    if (broken) return false;
    sent.emplace_back(m);
    return true;
  }
  ReadProbe probeRead() override { return probe; }
  std::vector<std::string> sent;
  ReadProbe probe = ReadProbe::Read;
  bool broken = false;
};

TEST(NotificationSender, SendsOnlyAfterThePreviousMessageWasReadAndAGap) {
  test::RecordingLog log;
  NotificationSender sender(log);
  ScriptedChannel channel;
  sender.push("1C:\\S\\a");
  sender.push("3C:\\S\\a");
  sender.push("2C:\\S\\b");
  EXPECT_EQ(sender.pump(0), -1) << "no client yet: the messages wait";
  sender.attach(channel);
  EXPECT_EQ(sender.pump(100), NotificationSender::kMinGapMs);
  EXPECT_EQ(channel.sent, (std::vector<std::string>{"1C:\\S\\a"}));
  channel.probe = ReadProbe::Unread;
  EXPECT_EQ(sender.pump(150), NotificationSender::kProbeIntervalMs) << "not read yet: wait";
  EXPECT_EQ(channel.sent.size(), 1u);
  channel.probe = ReadProbe::Read;
  EXPECT_EQ(sender.pump(100 + NotificationSender::kMinGapMs - 1), 1) << "read, but the gap is short";
  EXPECT_EQ(channel.sent.size(), 1u);
  sender.pump(200);
  channel.probe = ReadProbe::Unknown;
  EXPECT_EQ(sender.pump(210), NotificationSender::kBlindGapMs - 10) << "unknown: a longer gap stands in";
  EXPECT_EQ(sender.pump(200 + NotificationSender::kBlindGapMs), -1);
  EXPECT_EQ(channel.sent, (std::vector<std::string>{"1C:\\S\\a", "3C:\\S\\a", "2C:\\S\\b"}));
}

TEST(NotificationSender, MergesOnlyIdenticalMessagesThatWaitBackToBack) {
  test::RecordingLog log;
  NotificationSender sender(log);
  for (const char* m : {"3C:\\S\\a", "3C:\\S\\a", "3C:\\S\\b", "3C:\\S\\a", "3C:\\S\\a"}) sender.push(m);
  EXPECT_EQ(std::vector<std::string>(sender.waiting().begin(), sender.waiting().end()),
            (std::vector<std::string>{"3C:\\S\\a", "3C:\\S\\b", "3C:\\S\\a"}));
  ScriptedChannel channel;
  sender.attach(channel);
  sender.pump(0);
  sender.pump(10);
  sender.pump(20);
  sender.push("3C:\\S\\a");  // the same text as one already sent: a later write, kept
  sender.pump(30);
  EXPECT_EQ(channel.sent, (std::vector<std::string>{"3C:\\S\\a", "3C:\\S\\b", "3C:\\S\\a", "3C:\\S\\a"}));
}

TEST(NotificationSender, AMessageTheLostClientMayNotHaveReadGoesToTheNextOne) {
  test::RecordingLog log;
  NotificationSender sender(log);
  ScriptedChannel first;
  sender.attach(first);
  sender.push("1C:\\S\\a");
  sender.push("1C:\\S\\b");
  sender.pump(0);
  first.probe = ReadProbe::Unread;
  sender.detach();
  ScriptedChannel second;
  sender.attach(second);
  sender.pump(100);
  sender.pump(110);
  EXPECT_EQ(second.sent, (std::vector<std::string>{"1C:\\S\\a", "1C:\\S\\b"}));

  second.broken = true;  // a send that fails keeps its message
  sender.push("2C:\\S\\c");
  EXPECT_EQ(sender.pump(200), -1);
  EXPECT_FALSE(sender.attached());
  EXPECT_EQ(sender.waiting().front(), "2C:\\S\\c");
}

TEST(NotificationSender, WithoutAClientTheOldestMessagesGoFirstWithOneLogLine) {
  test::RecordingLog log;
  NotificationSender sender(log);
  for (std::size_t i = 0; i < NotificationSender::kMaxWaiting + 5; ++i)
    sender.push("1C:\\S\\" + std::to_string(i));
  EXPECT_EQ(sender.waiting().size(), NotificationSender::kMaxWaiting);
  EXPECT_EQ(sender.waiting().front(), "1C:\\S\\5");
  EXPECT_EQ(log.lines.size(), 1u);
}

}  // namespace
}  // namespace kq

namespace kq {
namespace {

TEST(NotificationHub, EveryClientGetsEveryMessageAndTheBacklogGoesToTheFirst) {
  test::RecordingLog log;
  NotificationHub hub(log);
  hub.push("1C:\\S\\early");
  EXPECT_EQ(hub.pump(0), -1);
  ScriptedChannel a, b;
  hub.attach(a);
  EXPECT_TRUE(hub.backlog().empty());
  hub.attach(b);
  hub.push("3C:\\S\\x");
  for (int t = 10; t < 100; t += 10) hub.pump(t);
  EXPECT_EQ(a.sent, (std::vector<std::string>{"1C:\\S\\early", "3C:\\S\\x"}));
  EXPECT_EQ(b.sent, (std::vector<std::string>{"3C:\\S\\x"}));

  b.broken = true;  // b's connection breaks at its next send
  hub.push("2C:\\S\\y");
  hub.pump(200);
  EXPECT_EQ(hub.takeBroken(), (std::vector<NotificationChannel*>{&b}));
  EXPECT_EQ(hub.clients(), 1u);
  EXPECT_EQ(a.sent.back(), "2C:\\S\\y");

  a.probe = ReadProbe::Unread;  // a goes away before reading its last message
  hub.push("3C:\\S\\z");
  hub.detach(a);
  EXPECT_EQ(std::vector<std::string>(hub.backlog().begin(), hub.backlog().end()),
            (std::vector<std::string>{"2C:\\S\\y", "3C:\\S\\z"}));
}

}  // namespace
}  // namespace kq
