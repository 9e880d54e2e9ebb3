#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/recorders.h"
#include "watcher/change_reporter.h"
#include "watcher/notification_hub.h"
#include "watcher/notification_sender.h"
#include "watcher/rename_pairer.h"
#include "watcher/report_queue.h"

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
  NotificationSender sender{log, "0C:\\Sync"};
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
  reporter.renamed("C:\\Sync\\a.txt.kqpart", "C:\\Sync\\a.txt");  // the client's own received file
  reporter.renamed("C:\\Sync\\x.txt.kqpart", "C:\\Sync\\y.txt");  // not its own target: an arrival
  reporter.renamed("C:\\Sync\\b.txt", "C:\\Sync\\b.txt.kqpart");
  reporter.removed("C:\\Sync\\c.txt.kqpart");
  EXPECT_EQ(messages(), (std::vector<std::string>{"1C:\\Sync\\y.txt", "2C:\\Sync\\b.txt"}));
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

TEST(ReportQueue, MergesARepeatOfTheNewestReportOfAPathOnly) {
  const struct {
    std::vector<std::string> pushed, waiting;
  } cases[] = {
      {{"3C:\\S\\a", "3C:\\S\\a"}, {"3C:\\S\\a"}},
      {{"1C:\\S\\a", "3C:\\S\\a", "1C:\\S\\a"}, {"1C:\\S\\a"}},  // written after being added: one
      {{"3C:\\S\\a", "3C:\\S\\b", "3C:\\S\\a"}, {"3C:\\S\\a", "3C:\\S\\b"}},
      {{"2C:\\S\\a", "2C:\\S\\a"}, {"2C:\\S\\a"}},
      // a removal between keeps the order that tells the client what is there now
      {{"3C:\\S\\a", "2C:\\S\\a", "3C:\\S\\a"}, {"3C:\\S\\a", "2C:\\S\\a", "3C:\\S\\a"}},
      {{"2C:\\S\\a", "1C:\\S\\a", "2C:\\S\\a"}, {"2C:\\S\\a", "1C:\\S\\a", "2C:\\S\\a"}},
      // renames are pairs: never merged
      {{"4C:\\S\\a", "5C:\\S\\b", "4C:\\S\\a", "5C:\\S\\b"}, {"4C:\\S\\a", "5C:\\S\\b", "4C:\\S\\a", "5C:\\S\\b"}},
  };
  for (const auto& c : cases) {
    test::RecordingLog log;
    ReportQueue queue(log, "0C:\\S");
    for (const auto& m : c.pushed) queue.push(m);
    EXPECT_EQ(std::vector<std::string>(queue.messages().begin(), queue.messages().end()), c.waiting)
        << ::testing::PrintToString(c.pushed);
  }
  test::RecordingLog log;
  ReportQueue queue(log, "0C:\\S");
  queue.push("3C:\\S\\a");
  queue.pop();
  queue.push("3C:\\S\\a");  // the earlier one went out: a later write is reported again
  EXPECT_EQ(queue.size(), 1u);
}

TEST(ReportQueue, AnOverflowBecomesOneRequestForAFullLook) {
  test::RecordingLog log;
  ReportQueue queue(log, "0C:\\S");
  for (std::size_t i = 0; i < ReportQueue::kMaxWaiting; ++i) queue.push("1C:\\S\\f" + std::to_string(i));
  EXPECT_TRUE(log.lines.empty());
  queue.push("2C:\\S\\late");
  EXPECT_EQ(std::vector<std::string>(queue.messages().begin(), queue.messages().end()),
            (std::vector<std::string>{"0C:\\S", "2C:\\S\\late"}));
  EXPECT_EQ(log.lines, (std::vector<test::LogLine>{
                           {"Too many change reports wait (200000): they are replaced by a request for a full "
                            "look at the sync folder",
                            true}}));
  queue.push("1C:\\S\\f7");  // reports after the overflow wait behind the request
  EXPECT_EQ(queue.messages().back(), "1C:\\S\\f7");
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

// ScriptedChannel records sends and tells how much the client has not read.
struct ScriptedChannel : NotificationChannel {
  bool send(std::string_view m) override {
    if (broken) return false;
    sent.emplace_back(m);
    if (unread) *unread += m.size();
    return true;
  }
  std::optional<std::size_t> unreadBytes() override {
    ++questions;
    return unread;
  }
  std::optional<std::size_t> room() override { return window; }
  std::string all() const {
    std::string text;
    for (auto& s : sent) text += s;
    return text;
  }
  std::vector<std::string> sent;
  std::optional<std::size_t> unread = 0;  // nullopt: the channel cannot tell
  std::optional<std::size_t> window;      // the client's free receive window; nullopt: cannot tell
  int questions = 0;
  bool broken = false;
};

TEST(NotificationSender, SendsWhatWaitsInOneSendWithoutAGapOrAQuestion) {
  test::RecordingLog log;
  NotificationSender sender(log, "0C:\\S");
  ScriptedChannel channel;
  sender.push("1C:\\S\\a");
  sender.push("3C:\\S\\a");  // merged with the addition
  sender.push("2C:\\S\\b");
  EXPECT_EQ(sender.pump(0), -1) << "no client yet: the messages wait";
  sender.attach(channel);
  EXPECT_EQ(sender.pump(100), -1);
  EXPECT_EQ(channel.sent, (std::vector<std::string>{"1C:\\S\\a2C:\\S\\b"}));
  sender.push("3C:\\S\\c");
  EXPECT_EQ(sender.pump(100), -1) << "far below the budget: sent at once, unread or not";
  EXPECT_EQ(channel.sent.back(), "3C:\\S\\c");
  EXPECT_EQ(channel.questions, 0);
}

// The client cuts a read into messages; a read must never end inside one, so no
// more than the budget may be unread at any time, however many messages wait.
TEST(NotificationSender, NeverLeavesMoreThanTheBudgetUnread) {
  test::RecordingLog log;
  NotificationSender sender(log, "0C:\\S");
  ScriptedChannel channel;
  sender.attach(channel);
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    std::string m = "1C:\\S\\folder\\file number " + std::to_string(i) + ".txt";
    expected += m;
    sender.push(m);
  }
  int wait = 0;
  for (int round = 0; round < 10 && wait == 0; ++round) wait = sender.pump(0);  // batches until the budget is spent
  EXPECT_EQ(wait, NotificationSender::kProbeIntervalMs) << "nothing read: nothing more goes";
  EXPECT_LE(*channel.unread, NotificationSender::kMaxUnread);
  EXPECT_GT(*channel.unread, NotificationSender::kMaxUnread - 100) << "the budget is used";
  int sends = static_cast<int>(channel.sent.size());
  EXPECT_EQ(sender.pump(0), NotificationSender::kProbeIntervalMs);
  EXPECT_EQ(channel.sent.size(), static_cast<std::size_t>(sends));
  for (int round = 0; round < 1000 && !sender.waiting().empty(); ++round) {
    *channel.unread = *channel.unread / 3;  // the client reads some
    sender.pump(0);
    EXPECT_LE(*channel.unread, NotificationSender::kMaxUnread);
    sends = static_cast<int>(channel.sent.size());
  }
  EXPECT_EQ(channel.all(), expected);
  EXPECT_LT(channel.questions, sends * 2 + 2) << "a question per budget, not per message";
}

// A batch the client's window cannot take whole would reach it in pieces, and a
// read between two pieces ends inside a message: a batch fits the window.
TEST(NotificationSender, SendsABatchOnlyWhenTheClientsWindowTakesItWhole) {
  test::RecordingLog log;
  NotificationSender sender(log, "0C:\\S");
  ScriptedChannel channel;
  sender.attach(channel);
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    std::string m = "1C:\\S\\n" + std::to_string(10000 + i) + ".txt";
    expected += m;
    sender.push(m);
  }
  channel.window = 0;
  EXPECT_EQ(sender.pump(0), NotificationSender::kProbeIntervalMs) << "a closed window: nothing goes";
  EXPECT_TRUE(channel.sent.empty());
  channel.window = 100;
  sender.pump(1);
  ASSERT_EQ(channel.sent.size(), 1u);
  EXPECT_EQ(channel.sent[0], "1C:\\S\\n10000.txt1C:\\S\\n10001.txt1C:\\S\\n10002.txt1C:\\S\\n10003.txt1C:\\S\\n10004.txt"
                             "1C:\\S\\n10005.txt")
      << "as many whole messages as the window takes";
  channel.window = 1000000;
  for (int t = 2; t < 1000 && !sender.waiting().empty(); ++t) {
    *channel.unread = 0;  // the client reads everything
    sender.pump(t);
  }
  EXPECT_EQ(channel.all(), expected);
  for (auto& batch : channel.sent) EXPECT_LE(batch.size(), NotificationSender::kMaxBatch);
}

TEST(NotificationSender, AChannelThatCannotTellGetsAGapPerBudget) {
  test::RecordingLog log;
  NotificationSender sender(log, "0C:\\S");
  ScriptedChannel channel;
  channel.unread.reset();
  sender.attach(channel);
  std::string expected;
  for (int i = 0; i < 10000; ++i) {
    std::string m = "3C:\\S\\f" + std::to_string(i) + ".dat";
    expected += m;
    sender.push(m);
  }
  while (sender.pump(100) == 0) {}  // batches until the budget is spent
  std::size_t sends = channel.sent.size();
  EXPECT_EQ(sender.pump(110), NotificationSender::kBlindGapMs - 10);
  EXPECT_EQ(channel.sent.size(), sends);
  sender.pump(100 + NotificationSender::kBlindGapMs);
  EXPECT_EQ(channel.sent.size(), sends + 1);
  for (int t = 200; t < 5000 && !sender.waiting().empty(); t += NotificationSender::kBlindGapMs) sender.pump(t);
  EXPECT_EQ(channel.all(), expected);
  for (auto& batch : channel.sent) EXPECT_LE(batch.size(), NotificationSender::kMaxUnread);
}

TEST(NotificationSender, WhatTheLostClientHadNotReadGoesToTheNextOne) {
  test::RecordingLog log;
  NotificationSender sender(log, "0C:\\S");
  ScriptedChannel first;
  sender.attach(first);
  sender.push("1C:\\S\\a");
  sender.push("1C:\\S\\b");
  sender.pump(0);
  sender.push("1C:\\S\\c");
  sender.pump(0);
  first.unread = std::string("1C:\\S\\b1C:\\S\\c").size() - 2;  // it read "a" and part of "b"
  sender.detach();
  ScriptedChannel second;
  sender.attach(second);
  sender.push("2C:\\S\\d");
  sender.pump(100);
  EXPECT_EQ(second.all(), "1C:\\S\\b1C:\\S\\c2C:\\S\\d");

  second.unread.reset();  // it cannot tell: everything sent goes again
  sender.detach();
  EXPECT_EQ(std::vector<std::string>(sender.waiting().begin(), sender.waiting().end()),
            (std::vector<std::string>{"1C:\\S\\b", "1C:\\S\\c", "2C:\\S\\d"}));

  ScriptedChannel third;
  third.broken = true;  // a send that fails keeps its messages
  sender.attach(third);
  EXPECT_EQ(sender.pump(200), -1);
  EXPECT_FALSE(sender.attached());
  EXPECT_EQ(sender.waiting().size(), 3u);
  EXPECT_EQ(sender.waiting().front(), "1C:\\S\\b");
}

}  // namespace
}  // namespace kq

namespace kq {
namespace {

TEST(NotificationHub, EveryClientGetsEveryMessageAndTheBacklogGoesToTheFirst) {
  test::RecordingLog log;
  NotificationHub hub(log, "0C:\\S");
  hub.push("1C:\\S\\early");
  EXPECT_EQ(hub.pump(0), -1);
  ScriptedChannel a, b;
  hub.attach(a);
  EXPECT_TRUE(hub.backlog().empty());
  hub.attach(b);
  hub.push("3C:\\S\\x");
  for (int t = 10; t < 100; t += 10) hub.pump(t);
  EXPECT_EQ(a.all(), "1C:\\S\\early3C:\\S\\x");
  EXPECT_EQ(b.all(), "3C:\\S\\x");

  b.broken = true;  // b's connection breaks at its next send
  hub.push("2C:\\S\\y");
  hub.pump(200);
  EXPECT_EQ(hub.takeBroken(), (std::vector<NotificationChannel*>{&b}));
  EXPECT_EQ(hub.clients(), 1u);
  EXPECT_EQ(a.sent.back(), "2C:\\S\\y");

  a.unread = std::string("2C:\\S\\y").size();  // a goes away before reading its last message
  hub.push("3C:\\S\\z");
  hub.detach(a);
  EXPECT_EQ(std::vector<std::string>(hub.backlog().begin(), hub.backlog().end()),
            (std::vector<std::string>{"2C:\\S\\y", "3C:\\S\\z"}));
}

}  // namespace
}  // namespace kq
