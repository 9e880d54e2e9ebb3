// The engine's start and stop: changes made while the client was stopped are
// found at start and sent, and the list of known files is kept from the
// engine's own tick and at stop.
#include <gtest/gtest.h>

#include "engine/timer_schedule.h"
#include "support/engine_harness.h"
#include "tracking/known_files.h"

namespace kq {
namespace {

const RequestId kId{'\x01', '\x02', '\x03', '\x04'};

std::string request(const char* type, const std::string& body) {
  return encodeHeader({type, kId, body.size()}) + body;
}
const std::string kCycleEnd = request("RQFLS", R"({"date":"2024-03-07","time":""})");

class EngineStart : public ::testing::Test {
 protected:
  EngineStart() { EXPECT_TRUE(t.fs.createFolders(t.path("_config"))); }
  std::string savedList() { return t.fs.readText(KnownFiles::listPath(t.syncFolder)).value_or("<none>"); }
  bool listNames(const std::string& relative) { return savedList().find("\t" + relative + "\n") != std::string::npos; }
  test::MemoryEngine t;
};

TEST_F(EngineStart, AnEditMadeWhileStoppedIsFoundAtStartAndReportedToTheServer) {
  ASSERT_TRUE(t.fs.writeText(t.path("report.txt"), "old"));
  ASSERT_TRUE(t.fs.writeText(t.path("gone.txt"), "x"));
  ASSERT_TRUE(t.fs.writeText(t.path("same.txt"), "same"));
  t.engine.start();  // the first run knows the three files
  t.engine.stop();
  ASSERT_TRUE(listNames("report.txt"));

  // While the client is stopped: one file edited, one deleted, one left alone.
  ASSERT_TRUE(t.fs.writeText(t.path("report.txt"), "edited while stopped"));
  ASSERT_TRUE(t.fs.remove(t.path("gone.txt")));
  SyncEngine next(EnginePorts{t.server, t.watcher, t.fs, t.clock, t.ini, t.status, t.folders, t.dialogs,
                              t.processes, t.config, t.log, t.errors, t.published});
  t.log.lines.clear();
  next.start();
  EXPECT_EQ(t.log.texts(),
            (std::vector<std::string>{"Deleted while the client was stopped: gone.txt",
                                      "Saving to delete queue: " + t.path("gone.txt"),
                                      "Changed while the client was stopped: report.txt",
                                      "Saving to queue (modification handling): " + t.path("report.txt")}));
  EXPECT_EQ(next.tracker().modificationQueue, std::deque<std::string>{t.path("report.txt")});
  EXPECT_EQ(next.tracker().deleteQueue, std::deque<std::string>{t.path("gone.txt")});
  EXPECT_EQ(t.published.last().queuedModifications, 1);

  next.ReconnectTimer();
  next.FilesyncSocketConnecting();
  t.server.active = true;
  next.FilesyncSocketConnect();
  t.server.sends.clear();
  next.FilesyncSocketRead(request("RQCHG", R"({"date":"2024-03-07","time":""})"));
  ASSERT_EQ(t.server.sends.size(), 1u);
  EXPECT_NE(t.server.sends[0].find(R"("filepath":"/report.txt")"), std::string::npos) << t.server.sends[0];
  EXPECT_NE(t.server.sends[0].find(R"("size":"20","changetype":"MODIFIED")"), std::string::npos);
}

TEST_F(EngineStart, WithoutASavedListNothingIsReportedAndTheListIsSaved) {
  ASSERT_TRUE(t.fs.writeText(t.path("a.txt"), "a"));
  t.engine.start();
  EXPECT_TRUE(t.engine.tracker().modificationQueue.empty());
  EXPECT_TRUE(listNames("a.txt"));
  EXPECT_FALSE(t.log.contains("The list of known files cannot be saved"));
}

TEST_F(EngineStart, TheTickSavesTheListAfterACycleAtMostEveryThirtySeconds) {
  t.engine.start();
  ASSERT_TRUE(t.fs.writeText(t.path("new.txt"), "n"));
  t.engine.tracker().noteServerWriteDone(t.path("new.txt"));  // as the receiver does for the server's file
  struct Step {
    const char* what;
    bool cycleEnds;
    std::int64_t advanceMs;
    bool saved;
  };
  const Step steps[] = {
      {"no cycle ended yet", false, KnownFilesKeeper::kSaveEveryMs, false},
      {"a cycle ended, thirty seconds since the last save", true, 0, true},
      {"another cycle, too soon after the save", true, KnownFilesKeeper::kSaveEveryMs - 1000, false},
      {"the thirty seconds are over", false, 1000, true},
  };
  for (const auto& step : steps) {
    (void)t.fs.remove(KnownFiles::listPath(t.syncFolder));  // a save writes it anew
    if (step.cycleEnds) {
      t.engine.FilesyncSocketRead(kCycleEnd);
      ASSERT_FALSE(t.log.contains("Error: FilesyncSocketRead()"));
    }
    t.clock.advance(step.advanceMs);
    t.engine.StatusTimer();
    EXPECT_EQ(listNames("new.txt"), step.saved) << step.what;
  }
}

TEST_F(EngineStart, NoListIsSavedWhileModificationsWaitSoAStopLosesNone) {
  ASSERT_TRUE(t.fs.writeText(t.path("a.txt"), "a"));
  t.engine.start();
  const std::string before = savedList();
  ASSERT_TRUE(t.fs.writeText(t.path("a.txt"), "edited, not sent yet"));
  t.engine.ClientSocket1Read("3" + t.path("a.txt"));
  ASSERT_EQ(t.engine.tracker().modificationQueue.size(), 1u);
  t.engine.FilesyncSocketRead(kCycleEnd);
  t.clock.advance(KnownFilesKeeper::kSaveEveryMs);
  t.engine.StatusTimer();
  t.engine.stop();
  EXPECT_EQ(savedList(), before);
  EXPECT_TRUE(t.log.contains("The list of known files is not saved: 1 changes were not sent yet and are "
                             "looked for again at the next start"));
}

TEST_F(EngineStart, StopSavesTheListAndSaysWhenItCannot) {
  t.engine.start();
  ASSERT_TRUE(t.fs.writeText(t.path("late.txt"), "l"));
  t.engine.tracker().noteServerWriteDone(t.path("late.txt"));
  t.engine.stop();
  EXPECT_TRUE(listNames("late.txt"));
  ASSERT_TRUE(t.fs.removeAll(t.syncFolder));  // the folder went away: nothing to list
  t.engine.stop();
  EXPECT_TRUE(t.log.contains("The list of known files cannot be saved"));
  EXPECT_FALSE(t.fs.exists(t.syncFolder)) << "saving never creates a missing sync folder";
}

}  // namespace
}  // namespace kq
