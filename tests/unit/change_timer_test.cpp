#include "tracking/change_timer.h"

#include <gtest/gtest.h>

#include "config/config_store.h"
#include "support/memory_file_system.h"
#include "support/recorders.h"
#include "support/recording_error_reporter.h"
#include "tracking/change_tracker.h"
#include "tracking/exception_filter.h"

namespace kq {
namespace {

using Lines = std::vector<test::LogLine>;

const char kConfigPath[] = "C:\\Program\\KQ\\filesync.cfg";

std::string configText(const std::string& host) {
  return "{\"KQFilsyncConfig\":[{\"Host\":\"" + host +
         "\",\"port\":\"12345\",\"protocol\":\"00003\",\"contract\":\"1234\","
         "\"API-key\":\"k\",\"KQDir\":\"C:\\\\Sync\",\"Reconnect\":\"1\"}]}";
}

ClientConfig programRecord() {
  ClientConfig record;
  record.configFolder = "C:\\Program\\KQ";
  return record;
}

class ChangeTimerTest : public ::testing::Test {
 protected:
  ChangeTimerTest() { fs.addFile(kConfigPath, configText("sync.example")); }

  test::MemoryFileSystem fs;
  test::RecordingLog log;
  test::RecordingStatusView status;
  test::RecordingWatcherLink watcher;
  test::RecordingServerLink server;
  test::RecordingErrorReporter errors;
  ExceptionFilter filter{fs};
  ChangeTracker tracker{log, status, filter, fs};
  ConfigStore config{fs, programRecord()};
  ChangeTimer timer{tracker, watcher, server, config, status, log, errors};
};

TEST_F(ChangeTimerTest, InactiveWatcherIsReconnectedEveryTick) {
  timer.changeTimerTick();
  timer.changeTimerTick();
  EXPECT_EQ(log.lines, (Lines{{"Connecting to service...", true}, {"Connecting to service...", true}}));
  EXPECT_EQ(watcher.activations, 2);
  watcher.active = true;
  timer.changeTimerTick();
  EXPECT_EQ(watcher.activations, 2);
  EXPECT_EQ(log.lines.size(), 2u);
}

TEST_F(ChangeTimerTest, RereadsTheConfigurationAndShowsDisconnected) {
  watcher.active = true;
  timer.changeTimerTick();
  EXPECT_EQ(config.fields.host, "sync.example");
  EXPECT_EQ(config.main.host, "sync.example");
  EXPECT_EQ(status.panels[0], "Disconnected");

  fs.addFile(kConfigPath, configText("other.example"));
  status.panels[0] = "Connected";
  server.active = true;
  timer.changeTimerTick();
  EXPECT_EQ(config.fields.host, "other.example");
  EXPECT_EQ(status.panels[0], "Connected");
  EXPECT_TRUE(errors.errors.empty());
}

TEST_F(ChangeTimerTest, UnreadableConfigurationEndsTheTick) {
  ASSERT_TRUE(fs.remove(kConfigPath));
  tracker.addServerPath("C:\\Sync\\a.txt");
  timer.changeTimerTick();
  EXPECT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(watcher.activations, 1);          // the step before still ran
  EXPECT_EQ(status.panels[0], "");            // the steps after did not
  EXPECT_EQ(tracker.serverQueue.size(), 1u);
  EXPECT_EQ(log.lines, (Lines{{"Connecting to service...", true}}));

  fs.addFile(kConfigPath, configText("sync.example"));
  timer.changeTimerTick();
  EXPECT_EQ(status.panels[0], "Disconnected");
  EXPECT_TRUE(tracker.serverQueue.empty());
}

TEST_F(ChangeTimerTest, ServerQueueWaitsForPendingDeletionsAndTheEndOfTheRound) {
  watcher.active = true;
  server.active = true;
  tracker.addServerPath("C:\\Sync\\server.txt");
  tracker.handleWatcherChange(2, "C:\\Sync\\gone.txt");
  log.lines.clear();

  timer.changeTimerTick();  // a local deletion is pending
  EXPECT_EQ(tracker.serverQueue.size(), 1u);

  tracker.setServerBusy();  // RQCHG takes the deletion
  tracker.deleteQueue.pop_front();
  timer.changeTimerTick();  // the server is still busy
  EXPECT_EQ(tracker.serverQueue.size(), 1u);
  EXPECT_TRUE(log.lines.empty());

  tracker.onServerRoundFinished("\"time\"");
  log.lines.clear();
  timer.changeTimerTick();
  EXPECT_TRUE(tracker.serverQueue.empty());
  EXPECT_EQ(log.lines, (Lines{{"Resetting Server queue", true}}));
}

TEST_F(ChangeTimerTest, IdleServerQueueIsEmptiedAtTheNextTick) {
  watcher.active = true;
  server.active = true;
  tracker.addServerPath("C:\\Sync\\server.txt");
  timer.changeTimerTick();
  EXPECT_TRUE(tracker.serverQueue.empty());
}

TEST_F(ChangeTimerTest, RefusedWatcherAttemptIsReportedAndTheTickGoesOn) {
  struct RefusingWatcher : test::RecordingWatcherLink {
    void activate() override { throw LinkError("refused"); }
  } refusing;
  ChangeTimer t{tracker, refusing, server, config, status, log, errors};
  t.changeTimerTick();
  EXPECT_EQ(errors.errors, std::vector<std::string>{"refused"});
  EXPECT_EQ(status.panels[0], "Disconnected");
  EXPECT_EQ(log.lines, (Lines{{"Connecting to service...", true}}));
}

}  // namespace
}  // namespace kq
