#include "tracking/change_tracker.h"

#include <gtest/gtest.h>

#include "support/memory_file_system.h"
#include "support/recorders.h"
#include "tracking/exception_filter.h"

namespace kq {
namespace {

using test::LogLine;

struct Report {
  int action;
  std::string path;
};

class ChangeTrackerTest : public ::testing::Test {
 protected:
  test::MemoryFileSystem fs;
  test::RecordingLog log;
  test::RecordingStatusView status;
  ExceptionFilter filter{fs};
  ChangeTracker tracker{log, status, filter, fs};

  void report(const std::vector<Report>& reports) {
    for (const auto& r : reports) tracker.handleWatcherChange(r.action, r.path);
  }
};

using Paths = std::vector<std::string>;
using Renames = std::vector<RenameEntry>;
using Lines = std::vector<LogLine>;

struct AdmissionCase {
  const char* name;
  Paths serverPaths;
  Paths blocked;
  Paths folders;  // existing folders on the disk
  std::vector<Report> reports;
  Lines lines;
  Paths modifications;
  Paths deletions;
  Renames renames;
  std::string pendingOldName;
};

const AdmissionCase kAdmissionCases[] = {
    {"added file is queued", {}, {}, {}, {{1, "C:\\Sync\\a.txt"}},
     {{"Saving to queue (modification handling): C:\\Sync\\a.txt", true}},
     {"C:\\Sync\\a.txt"}, {}, {}, ""},
    {"modified twice is queued once", {}, {}, {}, {{3, "C:\\Sync\\a.txt"}, {1, "C:\\Sync\\a.txt"}},
     {{"Saving to queue (modification handling): C:\\Sync\\a.txt", true}},
     {"C:\\Sync\\a.txt"}, {}, {}, ""},
    {"comparison is case-sensitive", {}, {}, {}, {{3, "C:\\Sync\\a.txt"}, {3, "C:\\Sync\\A.txt"}},
     {{"Saving to queue (modification handling): C:\\Sync\\a.txt", true},
      {"Saving to queue (modification handling): C:\\Sync\\A.txt", true}},
     {"C:\\Sync\\a.txt", "C:\\Sync\\A.txt"}, {}, {}, ""},
    {"folder modification ignored silently", {}, {}, {"C:\\Sync\\docs"}, {{3, "C:\\Sync\\docs"}, {1, "C:\\Sync\\docs"}},
     {}, {}, {}, {}, ""},
    {"server's own write ignored silently", {"C:\\Sync\\a.txt"}, {}, {}, {{3, "C:\\Sync\\a.txt"}},
     {}, {}, {}, {}, ""},
    {"server's own deletion ignored silently", {"C:\\Sync\\a.txt"}, {}, {}, {{2, "C:\\Sync\\a.txt"}},
     {}, {}, {}, {}, ""},
    {"deletion is queued once", {}, {}, {}, {{2, "C:\\Sync\\a.txt"}, {2, "C:\\Sync\\a.txt"}},
     {{"Saving to delete queue: C:\\Sync\\a.txt", true}}, {}, {"C:\\Sync\\a.txt"}, {}, ""},
    {"deletion of a folder that still exists is queued", {}, {}, {"C:\\Sync\\docs"}, {{2, "C:\\Sync\\docs"}},
     {{"Saving to delete queue: C:\\Sync\\docs", true}}, {}, {"C:\\Sync\\docs"}, {}, ""},
    {"blocked deletions match as substring, quietly", {}, {"C:\\Sync\\docs"}, {},
     {{2, "C:\\Sync\\docs\\a.txt"}, {2, "C:\\Sync\\docs2\\b.txt"}},
     {{"Blocked delete directory: C:\\Sync\\docs\\a.txt", false},
      {"Blocked delete directory: C:\\Sync\\docs2\\b.txt", false}},
     {}, {}, {}, ""},
    {"blocked modification logged quietly", {}, {"C:\\Sync\\docs"}, {}, {{3, "C:\\Sync\\docs\\a.txt"}},
     {{"Blocked directory modification: C:\\Sync\\docs\\a.txt", false}}, {}, {}, {}, ""},
    {"modification: exclusion wins over blocking; deletion: blocking wins", {}, {"C:\\Sync\\docs"}, {},
     {{3, "C:\\Sync\\docs\\a.tmp"}, {2, "C:\\Sync\\docs\\a.tmp"}},
     {{"Will not add to the queue due to an exception found for file: C:\\Sync\\docs\\a.tmp", true},
      {"Blocked delete directory: C:\\Sync\\docs\\a.tmp", false}},
     {}, {}, {}, ""},
    {"excluded deletion", {}, {}, {}, {{2, "C:\\Sync\\~lock"}},
     {{"Will not add to the delete queue due to an exception found for file: C:\\Sync\\~lock", true}},
     {}, {}, {}, ""},
    {"rename is queued", {}, {}, {}, {{4, "C:\\Sync\\old.txt"}, {5, "C:\\Sync\\new.txt"}},
     {{"Old name: C:\\Sync\\old.txt", true}, {"New name: C:\\Sync\\new.txt", true}},
     {}, {}, {{"C:\\Sync\\old.txt", "C:\\Sync\\new.txt"}}, ""},
    {"old name alone stays armed", {}, {}, {}, {{4, "C:\\Sync\\old.txt"}},
     {{"Old name: C:\\Sync\\old.txt", true}}, {}, {}, {}, "C:\\Sync\\old.txt"},
    {"old name is not tested against the echo lists", {"C:\\Sync\\old.txt"}, {"Sync"}, {},
     {{4, "C:\\Sync\\old.txt"}}, {{"Old name: C:\\Sync\\old.txt", true}}, {}, {}, {}, "C:\\Sync\\old.txt"},
    {"new name without old name", {}, {}, {}, {{5, "C:\\Sync\\new.txt"}},
     {{"Directory/file was renamed from Server or renaming is blocked by restriction.", true}},
     {}, {}, {}, ""},
    {"excluded old name disarms the rename", {}, {}, {}, {{4, "C:\\Sync\\~old.txt"}, {5, "C:\\Sync\\new.txt"}},
     {{"Will not handle file renaming for file: C:\\Sync\\~old.txt", true},
      {"Directory/file was renamed from Server or renaming is blocked by restriction.", true}},
     {}, {}, {}, ""},
    {"new name that the server wrote", {"C:\\Sync\\new.txt"}, {}, {},
     {{4, "C:\\Sync\\old.txt"}, {5, "C:\\Sync\\new.txt"}},
     {{"Old name: C:\\Sync\\old.txt", true},
      {"Directory/file was renamed from Server or renaming is blocked by restriction.", true}},
     {}, {}, {}, ""},
    {"excluded new name", {}, {}, {}, {{4, "C:\\Sync\\a.txt"}, {5, "C:\\Sync\\a.tmp"}},
     {{"Old name: C:\\Sync\\a.txt", true}, {"New name: C:\\Sync\\a.tmp", true},
      {"Will not add to the rename queue due to an exception defined for file: C:\\Sync\\a.tmp", true}},
     {}, {}, {}, ""},
    {"new name inside a folder being moved by the server", {}, {"C:\\Sync\\moving"}, {},
     {{4, "C:\\Sync\\a.txt"}, {5, "C:\\Sync\\moving\\a.txt"}},
     {{"Old name: C:\\Sync\\a.txt", true}, {"New name: C:\\Sync\\moving\\a.txt", true},
      {"Blocked rename directory: C:\\Sync\\moving\\a.txt", true}},
     {}, {}, {}, ""},
    {"a second old name replaces the first", {}, {}, {},
     {{4, "C:\\Sync\\a"}, {4, "C:\\Sync\\b"}, {5, "C:\\Sync\\c"}},
     {{"Old name: C:\\Sync\\a", true}, {"Old name: C:\\Sync\\b", true}, {"New name: C:\\Sync\\c", true}},
     {}, {}, {{"C:\\Sync\\b", "C:\\Sync\\c"}}, ""},
    {"other reports between the two names keep the old name", {}, {}, {},
     {{4, "C:\\Sync\\a"}, {3, "C:\\Sync\\x"}, {2, "C:\\Sync\\y"}, {9, "C:\\Sync\\z"}, {5, "C:\\Sync\\c"}},
     {{"Old name: C:\\Sync\\a", true},
      {"Saving to queue (modification handling): C:\\Sync\\x", true},
      {"Saving to delete queue: C:\\Sync\\y", true},
      {"New name: C:\\Sync\\c", true}},
     {"C:\\Sync\\x"}, {"C:\\Sync\\y"}, {{"C:\\Sync\\a", "C:\\Sync\\c"}}, ""},
    {"unknown actions do nothing", {}, {}, {}, {{0, "C:\\Sync\\a"}, {6, "C:\\Sync\\a"}, {9, "C:\\Sync\\a"}},
     {}, {}, {}, {}, ""},
    {"file created again after a pending deletion is no longer deleted", {}, {}, {},
     {{2, "C:\\Sync\\a.txt"}, {2, "C:\\Sync\\b.txt"}, {1, "C:\\Sync\\a.txt"}},
     {{"Saving to delete queue: C:\\Sync\\a.txt", true},
      {"Saving to delete queue: C:\\Sync\\b.txt", true},
      {"Saving to queue (modification handling): C:\\Sync\\a.txt", true}},
     {"C:\\Sync\\a.txt"}, {"C:\\Sync\\b.txt"}, {}, ""},
    {"file renamed onto a pending deletion is no longer deleted", {}, {}, {},
     {{2, "C:\\Sync\\a.txt"}, {4, "C:\\Sync\\a.tmp.x"}, {4, "C:\\Sync\\b.txt"}, {5, "C:\\Sync\\a.txt"}},
     {{"Saving to delete queue: C:\\Sync\\a.txt", true},
      {"Will not handle file renaming for file: C:\\Sync\\a.tmp.x", true},
      {"Old name: C:\\Sync\\b.txt", true},
      {"New name: C:\\Sync\\a.txt", true}},
     {}, {}, {{"C:\\Sync\\b.txt", "C:\\Sync\\a.txt"}}, ""},
    {"modification after deletion keeps a blocked deletion untouched", {}, {"C:\\Sync\\docs"}, {},
     {{2, "C:\\Sync\\a.txt"}, {3, "C:\\Sync\\docs\\a.txt"}},
     {{"Saving to delete queue: C:\\Sync\\a.txt", true},
      {"Blocked directory modification: C:\\Sync\\docs\\a.txt", false}},
     {}, {"C:\\Sync\\a.txt"}, {}, ""},
};

TEST_F(ChangeTrackerTest, AdmissionRules) {
  for (const auto& c : kAdmissionCases) {
    test::MemoryFileSystem disk;
    test::RecordingLog lines;
    ExceptionFilter exceptions{disk};
    ChangeTracker t{lines, status, exceptions, disk};
    for (const auto& p : c.serverPaths) t.addServerPath(p);
    for (const auto& p : c.blocked) t.addBlockedPath(p);
    for (const auto& p : c.folders) disk.addFolder(p);
    for (const auto& r : c.reports) t.handleWatcherChange(r.action, r.path);
    EXPECT_EQ(lines.lines, c.lines) << c.name;
    EXPECT_EQ(Paths(t.modificationQueue.begin(), t.modificationQueue.end()), c.modifications) << c.name;
    EXPECT_EQ(Paths(t.deleteQueue.begin(), t.deleteQueue.end()), c.deletions) << c.name;
    EXPECT_EQ(Renames(t.renameQueue.begin(), t.renameQueue.end()), c.renames) << c.name;
    EXPECT_EQ(t.pendingOldName, c.pendingOldName) << c.name;
  }
}

TEST_F(ChangeTrackerTest, AWatcherThatLostReportsAsksForAFullLookAtItsOwnFolderOnly) {
  int looks = 0;
  tracker.isSyncFolder = [](const std::string& path) { return path == "C:\\Sync"; };
  tracker.onFullLookWanted = [&looks] { ++looks; };
  tracker.handleWatcherChange(0, "C:\\Other");  // another folder's watcher: nothing, not even its name logged
  EXPECT_EQ(looks, 0);
  EXPECT_TRUE(log.lines.empty());
  tracker.handleWatcherChange(0, "C:\\Sync");
  EXPECT_EQ(looks, 1);
  EXPECT_EQ(log.texts(), (std::vector<std::string>{
                             "The watcher lost change reports; the whole sync folder is compared with the known files"}));
  EXPECT_TRUE(tracker.modificationQueue.empty());
  EXPECT_TRUE(tracker.deleteQueue.empty());
}

TEST_F(ChangeTrackerTest, FileTakenFromTheQueueIsQueuedAgain) {
  report({{3, "C:\\Sync\\a.txt"}});
  tracker.modificationQueue.pop_front();
  report({{3, "C:\\Sync\\a.txt"}});
  EXPECT_EQ(tracker.modificationQueue, std::deque<std::string>{"C:\\Sync\\a.txt"});
  EXPECT_EQ(log.lines.size(), 2u);
}

TEST_F(ChangeTrackerTest, FilterEditsActAtOnce) {
  filter.prefixExceptions.push_back("secret");
  report({{3, "C:\\Sync\\secret.txt"}});
  EXPECT_TRUE(tracker.modificationQueue.empty());
  filter.prefixExceptions.pop_back();
  report({{3, "C:\\Sync\\secret.txt"}});
  EXPECT_EQ(tracker.modificationQueue.size(), 1u);
}

TEST_F(ChangeTrackerTest, EchoListTests) {
  tracker.addServerPath("C:\\Sync\\a.txt");
  EXPECT_TRUE(tracker.isServerPath("C:\\Sync\\a.txt"));
  EXPECT_FALSE(tracker.isServerPath("C:\\Sync\\a.txt\\"));
  EXPECT_FALSE(tracker.isServerPath("C:\\Sync\\A.txt"));
  EXPECT_FALSE(tracker.isBlocked("C:\\Sync\\docs\\a.txt"));
  tracker.addBlockedPath("C:\\Sync\\docs");
  EXPECT_TRUE(tracker.isBlocked("C:\\Sync\\docs"));
  EXPECT_TRUE(tracker.isBlocked("C:\\Sync\\docs\\a.txt"));
  EXPECT_TRUE(tracker.isBlocked("D:\\old\\C:\\Sync\\docs.bak"));
  EXPECT_FALSE(tracker.isBlocked("C:\\Sync\\Docs\\a.txt"));
  EXPECT_FALSE(tracker.isBlocked("C:\\Sync\\doc"));
}

TEST_F(ChangeTrackerTest, ForcedModificationDropsPendingDeletion) {
  tracker.deleteQueue = {"C:\\Sync\\a.txt", "C:\\Sync\\b.txt"};
  tracker.appendModification("C:\\Sync\\a.txt");
  EXPECT_EQ(tracker.deleteQueue, std::deque<std::string>{"C:\\Sync\\b.txt"});
  EXPECT_TRUE(tracker.isQueuedModification("C:\\Sync\\a.txt"));
}

TEST_F(ChangeTrackerTest, ServerRoundLogsSizesAtTimeAndReleasesEveryMember) {
  report({{3, "C:\\Sync\\a.txt"}, {3, "C:\\Sync\\b.txt"}, {2, "C:\\Sync\\c.txt"}});
  log.lines.clear();
  tracker.addBlockedPath("C:\\Sync\\docs");
  tracker.setServerBusy();
  tracker.onServerRoundFinished("\"date\"");
  EXPECT_TRUE(tracker.blockedPaths.empty());
  EXPECT_FALSE(tracker.serverBusy);
  EXPECT_EQ(status.panels[1], "Listening...");
  EXPECT_TRUE(log.lines.empty());

  tracker.addBlockedPath("C:\\Sync\\docs");
  tracker.setServerBusy();
  tracker.onServerRoundFinished("\"time\"");
  EXPECT_EQ(log.lines, (Lines{{"Modification queue: 2. Queue to delete: 1", true}}));
  EXPECT_EQ(status.panels[2], "MOD: 2");
  EXPECT_EQ(status.panels[3], "DEL: 1");
  EXPECT_TRUE(tracker.blockedPaths.empty());
  EXPECT_FALSE(tracker.serverBusy);

  tracker.onServerRoundFinished("time");  // only the quoted key form counts
  EXPECT_EQ(log.lines.size(), 1u);
}

TEST_F(ChangeTrackerTest, ServerQueueResetOnlyWhenIdle) {
  struct Case {
    bool filled;
    bool busy;
    std::size_t deletionsAtStart;
    bool reset;
  };
  const Case cases[] = {
      {true, false, 0, true},
      {true, true, 0, false},
      {true, false, 1, false},
      {false, false, 0, false},
  };
  for (const auto& c : cases) {
    log.lines.clear();
    tracker.serverQueue.clear();
    if (c.filled) tracker.addServerPath("C:\\Sync\\a.txt");
    tracker.serverBusy = c.busy;
    tracker.resetServerQueueIfIdle(c.deletionsAtStart);
    EXPECT_EQ(tracker.serverQueue.empty(), c.reset || !c.filled);
    EXPECT_EQ(log.lines, (c.reset ? Lines{{"Resetting Server queue", true}} : Lines{}));
  }
}


// What happens on the disk and in the watcher's reports, in order, for the
// echo tests: the server's completed writes and removals, the user's writes
// and deletions (at a given time of day), and reports.
struct EchoStep {
  enum Kind { ServerWrite, ServerAnnounce, ServerRemoval, UserWrite, UserDelete, Watcher } kind;
  std::string path;
  std::string content = {};
  std::int64_t second = 1700000000, nanos = 0;
  int action = 0;
};

EchoStep serverWrites(const std::string& path, const std::string& content, std::int64_t nanos = 0) {
  return {EchoStep::ServerWrite, path, content, 1700000000, nanos};
}
EchoStep serverAnnounces(const std::string& path) { return {EchoStep::ServerAnnounce, path}; }
EchoStep serverRemoves(const std::string& path) { return {EchoStep::ServerRemoval, path}; }
EchoStep userWrites(const std::string& path, const std::string& content, std::int64_t second,
                    std::int64_t nanos) {
  return {EchoStep::UserWrite, path, content, second, nanos};
}
EchoStep userDeletes(const std::string& path) { return {EchoStep::UserDelete, path}; }
EchoStep reports(int action, const std::string& path) { return {EchoStep::Watcher, path, {}, 0, 0, action}; }

struct EchoCase {
  const char* name;
  std::vector<EchoStep> steps;
  Lines lines;
  Paths modifications;
  Paths deletions;
};

const std::string kA = "C:\\Sync\\a.txt";

const EchoCase kEchoCases[] = {
    {"the reports of the server's write are echoes", {serverWrites(kA, "abc"), reports(1, kA), reports(3, kA), reports(3, kA)},
     {}, {}, {}},
    {"a deletion right after the arrival is the user's",
     {serverWrites(kA, "abc"), reports(3, kA), userDeletes(kA), reports(2, kA)},
     {{"Saving to delete queue: " + kA, true}}, {}, {kA}},
    {"a same-size edit within the same second is the user's",
     {serverWrites(kA, "abc", 100), reports(3, kA), userWrites(kA, "xyz", 1700000000, 200), reports(3, kA)},
     {{"Saving to queue (modification handling): " + kA, true}}, {kA}, {}},
    {"a new time alone is the user's",
     {serverWrites(kA, "abc"), userWrites(kA, "abc", 1700000003, 0), reports(3, kA)},
     {{"Saving to queue (modification handling): " + kA, true}}, {kA}, {}},
    {"a late report of the older copy's removal, once the write is complete",
     {serverWrites(kA, "abc"), reports(2, kA), reports(1, kA)}, {}, {}, {}},
    {"a write under way: its reports and the older copy's removal are echoes",
     {serverAnnounces(kA), reports(2, kA), reports(1, kA), reports(3, kA)}, {}, {}, {}},
    {"the removal the server ordered is an echo while the path stays empty",
     {serverWrites(kA, "abc"), serverRemoves(kA), reports(2, kA), reports(2, kA)}, {}, {}, {}},
    {"a path filled again after the server's removal is the user's",
     {serverWrites(kA, "abc"), serverRemoves(kA), userWrites(kA, "new", 1700000001, 0), reports(1, kA),
      userDeletes(kA), reports(2, kA)},
     {{"Saving to queue (modification handling): " + kA, true}, {"Saving to delete queue: " + kA, true}},
     {kA}, {kA}},
    {"a folder removed with a trailing separator", {serverRemoves("C:\\Sync\\docs\\"), reports(2, "C:\\Sync\\docs")},
     {}, {}, {}},
    {"temporary files of a transfer are never queued",
     {userWrites(kA + ".kqpart", "ab", 1700000001, 0), reports(1, kA + ".kqpart"), reports(3, kA + ".kqpart"),
      reports(2, kA + ".kqpart")},
     {}, {}, {}},
    {"a rename from the temporary file onto the server's write is an echo",
     {serverWrites(kA, "abc"), reports(4, kA + ".kqpart"), reports(5, kA)}, {}, {}, {}},
    {"a rename from a temporary file without the server's write is an addition",
     {userWrites(kA, "abc", 1700000001, 0), reports(4, kA + ".kqpart"), reports(5, kA)},
     {{"Saving to queue (modification handling): " + kA, true}}, {kA}, {}},
    {"an old name after a temporary file's old name is a normal rename",
     {reports(4, kA + ".kqpart"), reports(4, "C:\\Sync\\b.txt"), reports(5, kA)},
     {{"Old name: C:\\Sync\\b.txt", true}, {"New name: " + kA, true}}, {}, {}},
};

TEST_F(ChangeTrackerTest, EchoesAreTheServersWorkOnlyWhileThePathHoldsIt) {
  for (const auto& c : kEchoCases) {
    test::MemoryFileSystem disk;
    test::RecordingLog lines;
    ExceptionFilter exceptions{disk};
    ChangeTracker t{lines, status, exceptions, disk};
    disk.addFolder("C:\\Sync");
    for (const auto& step : c.steps) {
      switch (step.kind) {
        case EchoStep::ServerWrite:
          t.addServerPath(step.path);
          disk.setTime(1700000000, step.nanos);
          disk.addFile(step.path, step.content);
          t.noteServerWriteDone(step.path);
          break;
        case EchoStep::ServerAnnounce: t.addServerPath(step.path); break;
        case EchoStep::ServerRemoval:
          t.noteServerRemoval(step.path);
          (void)disk.removeAll(step.path);
          break;
        case EchoStep::UserWrite:
          disk.setTime(step.second, step.nanos);
          disk.addFile(step.path, step.content);
          break;
        case EchoStep::UserDelete: (void)disk.remove(step.path); break;
        case EchoStep::Watcher: t.handleWatcherChange(step.action, step.path); break;
      }
    }
    EXPECT_EQ(lines.lines, c.lines) << c.name;
    EXPECT_EQ(Paths(t.modificationQueue.begin(), t.modificationQueue.end()), c.modifications) << c.name;
    EXPECT_EQ(Paths(t.deleteQueue.begin(), t.deleteQueue.end()), c.deletions) << c.name;
  }
}

// The report of a removal made for the server may come late (the watcher
// holds it, the cycle ends first): it is an echo until the path is filled
// again or kRemovalRounds idle ticks have passed; written files stay
// remembered. Only a tick that empties serverQueue says so.
TEST_F(ChangeTrackerTest, RemovalsWaitSomeIdleRoundsForTheirReports) {
  fs.addFolder("C:\\Sync");
  fs.addFile("C:\\Sync\\kept.txt", "abc");
  tracker.noteServerWriteDone("C:\\Sync\\kept.txt");
  tracker.noteServerRemoval("C:\\Sync\\late.txt");
  tracker.noteServerRemoval("C:\\Sync\\old.txt");
  for (std::uint64_t i = 0; i + 1 < ServerEchoes::kRemovalRounds; ++i) tracker.resetServerQueueIfIdle(0);
  EXPECT_TRUE(log.lines.empty());
  report({{2, "C:\\Sync\\late.txt"}});
  EXPECT_TRUE(tracker.deleteQueue.empty());
  tracker.resetServerQueueIfIdle(0);
  report({{3, "C:\\Sync\\kept.txt"}, {2, "C:\\Sync\\old.txt"}});
  EXPECT_TRUE(tracker.modificationQueue.empty());
  EXPECT_EQ(tracker.deleteQueue, std::deque<std::string>{"C:\\Sync\\old.txt"});
  log.lines.clear();
  tracker.addServerPath("C:\\Sync\\busy.txt");
  tracker.resetServerQueueIfIdle(0);
  EXPECT_EQ(log.lines, (Lines{{"Resetting Server queue", true}}));
}

// A folder removed for the server explains the late removal reports of what
// was inside it; a path filled again and reported is the user's from then on.
TEST_F(ChangeTrackerTest, LateRemovalReportsBelowARemovedFolder) {
  fs.addFolder("C:\\Sync");
  fs.addFolder("C:\\Sync\\dir");
  fs.addFile("C:\\Sync\\dir\\written.txt", "the server's");
  tracker.noteServerWriteDone("C:\\Sync\\dir\\written.txt");
  tracker.noteServerRemoval("C:\\Sync\\dir\\");
  (void)fs.removeAll("C:\\Sync\\dir");
  tracker.noteServerRemoval("C:\\Sync\\again.txt");
  tracker.resetServerQueueIfIdle(0);
  report({{2, "C:\\Sync\\dir\\written.txt"}, {2, "C:\\Sync\\dir\\sub\\inner.txt"}, {3, "C:\\Sync\\dir"},
          {2, "C:\\Sync\\dir"}});
  EXPECT_TRUE(tracker.modificationQueue.empty());
  EXPECT_TRUE(tracker.deleteQueue.empty());
  fs.addFile("C:\\Sync\\again.txt", "the user's");
  fs.addFolder("C:\\Sync\\dir");
  fs.addFile("C:\\Sync\\dir\\back.txt", "put back");
  report({{2, "C:\\Sync\\dir\\back.txt"}, {3, "C:\\Sync\\again.txt"}});
  (void)fs.remove("C:\\Sync\\again.txt");
  report({{2, "C:\\Sync\\again.txt"}, {2, "C:\\Sync\\dir2\\x.txt"}});
  EXPECT_EQ(tracker.modificationQueue, std::deque<std::string>{"C:\\Sync\\again.txt"});
  EXPECT_EQ(tracker.deleteQueue, (std::deque<std::string>{"C:\\Sync\\dir\\back.txt", "C:\\Sync\\again.txt",
                                                          "C:\\Sync\\dir2\\x.txt"}));
}

TEST_F(ChangeTrackerTest, RememberedWritesAndServerPathsAreBounded) {
  fs.addFolder("C:\\Sync");
  const std::size_t n = ServerEchoes::kMaxRecords + 1;
  for (std::size_t i = 0; i < n; ++i) {
    std::string path = "C:\\Sync\\f" + std::to_string(i);
    fs.addFile(path, "x");
    tracker.noteServerWriteDone(path);
    tracker.addServerPath("C:\\Sync\\busy" + std::to_string(i));
  }
  EXPECT_EQ(tracker.serverEchoes.size(), ServerEchoes::kMaxRecords);
  EXPECT_EQ(tracker.serverQueue.size(), ChangeTracker::kMaxServerPaths);
  EXPECT_EQ(tracker.serverQueue.front(), "C:\\Sync\\busy1");
  report({{3, "C:\\Sync\\f0"}, {3, "C:\\Sync\\f" + std::to_string(n - 1)}});
  EXPECT_EQ(tracker.modificationQueue, std::deque<std::string>{"C:\\Sync\\f0"});  // the oldest is forgotten
}

// A path announced again (a file sent twice in one cycle) keeps one entry, and
// the one completed write takes it out.
TEST_F(ChangeTrackerTest, AServerPathAnnouncedTwiceIsHeldOnce) {
  tracker.addServerPath("C:\\Sync\\a.txt");
  tracker.addServerPath("C:\\Sync\\b.txt");
  tracker.addServerPath("C:\\Sync\\a.txt");
  EXPECT_EQ(tracker.serverQueue, (std::deque<std::string>{"C:\\Sync\\a.txt", "C:\\Sync\\b.txt"}));
  fs.addFile("C:\\Sync\\a.txt", "x");
  tracker.noteServerWriteDone("C:\\Sync\\a.txt");
  EXPECT_FALSE(tracker.isServerPath("C:\\Sync\\a.txt"));
  EXPECT_EQ(tracker.serverQueue, (std::deque<std::string>{"C:\\Sync\\b.txt"}));
}

// Without the watcher nobody reports the deletion of a file the client has
// just received: the tracker finds it gone when it looks (at the first change
// request of a round, and when a listing is asked for) and queues it as the
// watcher would have. What the client itself removed or replaced for the
// server, and a file still there, is not a deletion.
TEST_F(ChangeTrackerTest, AReceivedFileDeletedSinceIsQueuedAsDeleted) {
  enum class After { Nothing, UserDeletes, UserReplaces, ServerRemoves, ServerRemovesFolder, UserDeletesFolder };
  struct Case {
    const char* name;
    After after;
    bool queued;
  } cases[] = {
      {"still there", After::Nothing, false},
      {"deleted by the user", After::UserDeletes, true},
      {"deleted and written again by the user", After::UserReplaces, false},
      {"removed for the server", After::ServerRemoves, false},
      {"its folder removed for the server", After::ServerRemovesFolder, false},
      {"its folder deleted by the user", After::UserDeletesFolder, true},
  };
  const std::string file = "C:\\Sync\\dir\\got.txt";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::MemoryFileSystem disk;
    test::RecordingLog lines;
    ExceptionFilter exceptions{disk};
    ChangeTracker t{lines, status, exceptions, disk};
    disk.addFile(file, "from the server");
    t.addServerPath(file);
    t.noteServerWriteDone(file);
    switch (c.after) {
      case After::Nothing: break;
      case After::UserDeletes: (void)disk.remove(file); break;
      case After::UserReplaces:
        (void)disk.remove(file);
        disk.addFile(file, "the user's");
        break;
      case After::ServerRemoves:
        t.noteServerRemoval(file);
        (void)disk.remove(file);
        break;
      case After::ServerRemovesFolder:
        t.noteServerRemoval("C:\\Sync\\dir\\");
        (void)disk.removeAll("C:\\Sync\\dir");
        break;
      case After::UserDeletesFolder: (void)disk.removeAll("C:\\Sync\\dir"); break;
    }
    EXPECT_EQ(t.reportDeletedReceived(), c.queued ? 1u : 0u);
    EXPECT_EQ(t.deleteQueue, c.queued ? std::deque<std::string>{file} : std::deque<std::string>{});
    if (c.queued) {
      EXPECT_EQ(lines.lines, (Lines{{"Deleted after it was received from the server: " + file, true},
                                    {"Saving to delete queue: " + file, true}}));
    }
    EXPECT_EQ(t.reportDeletedReceived(), 0u) << "found once";
  }
}

// A received file is looked at until the server asks for a listing: one
// gone by then is reported; the listing shows the server the others, and
// their later deletion is the listings' to tell (under the server's guard).
TEST_F(ChangeTrackerTest, AReceivedFileIsLookedAtUntilTheNextListing) {
  fs.addFile("C:\\Sync\\a.txt", "a");
  fs.addFile("C:\\Sync\\b.txt", "b");
  tracker.noteServerWriteDone("C:\\Sync\\a.txt");
  tracker.noteServerWriteDone("C:\\Sync\\b.txt");
  (void)fs.remove("C:\\Sync\\a.txt");
  tracker.onListingAsked();
  EXPECT_EQ(tracker.deleteQueue, std::deque<std::string>{"C:\\Sync\\a.txt"});
  (void)fs.remove("C:\\Sync\\b.txt");  // the listing showed it
  EXPECT_EQ(tracker.reportDeletedReceived(), 0u);
}

TEST_F(ChangeTrackerTest, DeletionsOfPathsThatAreThereAgainAreDropped) {
  fs.addFile("C:\\Sync\\back.txt", "b");
  tracker.deleteQueue = {"C:\\Sync\\back.txt", "C:\\Sync\\gone.txt"};
  tracker.dropDeletionsOfPresentPaths();
  EXPECT_EQ(tracker.deleteQueue, std::deque<std::string>{"C:\\Sync\\gone.txt"});
  EXPECT_EQ(log.lines, (Lines{{"Deletion dropped, the item is there again: C:\\Sync\\back.txt", true}}));
}

}  // namespace
}  // namespace kq

namespace kq {
namespace {

// A file still being received is never reported, whatever the watcher says of it.
TEST(ChangeTrackerPartialFiles, TemporaryNamesAreNeverQueued) {
  test::RecordingLog log;
  test::RecordingStatusView status;
  test::MemoryFileSystem fs;
  ExceptionFilter filter(fs);
  ChangeTracker tracker(log, status, filter, fs);
  const std::string part = "C:\\Sync\\a.txt.kqpart";
  for (int action : {1, 2, 3, 4}) tracker.handleWatcherChange(action, part);
  EXPECT_TRUE(tracker.modificationQueue.empty());
  EXPECT_TRUE(tracker.deleteQueue.empty());
  EXPECT_EQ(tracker.pendingOldName, "");
  // The rename that completes a received file is the server's own.
  tracker.addServerPath("C:\\Sync\\a.txt");
  tracker.handleWatcherChange(4, part);
  tracker.handleWatcherChange(5, "C:\\Sync\\a.txt");
  EXPECT_TRUE(tracker.renameQueue.empty());
  EXPECT_TRUE(tracker.modificationQueue.empty());
  // A name that merely contains the suffix is the user's.
  tracker.handleWatcherChange(3, "C:\\Sync\\b.kqpart.txt");
  EXPECT_EQ(tracker.modificationQueue, std::deque<std::string>{"C:\\Sync\\b.kqpart.txt"});
}

TEST(ChangeTrackerServerWrites, RecordsOnlyFilesThatExist) {
  test::RecordingLog log;
  test::RecordingStatusView status;
  test::MemoryFileSystem fs;
  ExceptionFilter filter(fs);
  ChangeTracker tracker(log, status, filter, fs);
  ASSERT_TRUE(fs.createFolders("C:\\Sync"));
  ASSERT_TRUE(fs.writeText("C:\\Sync\\a.txt", "abc"));
  tracker.noteServerWriteDone("C:\\Sync\\a.txt");
  tracker.noteServerWriteDone("C:\\Sync\\missing.txt");
  EXPECT_EQ(tracker.serverEchoes.size(), 1u);
  EXPECT_TRUE(tracker.serverEchoes.isWriteEcho("C:\\Sync\\a.txt", fs));
  EXPECT_FALSE(tracker.serverEchoes.isWriteEcho("C:\\Sync\\missing.txt", fs));
}

}  // namespace
}  // namespace kq
