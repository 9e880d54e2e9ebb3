#include "tracking/known_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "support/fs_op.h"
#include "support/memory_file_system.h"
#include "support/recorders.h"
#include "tracking/change_tracker.h"
#include "tracking/exception_filter.h"

namespace kq {
namespace {

using Paths = std::deque<std::string>;

class KnownFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs.addFolder("C:\\Sync");
    add("C:\\Sync\\a.txt", "aaa", 100);
    add("C:\\Sync\\docs\\b.txt", "bb", 200);
    add("C:\\Sync\\_log\\Filesync.log", "log", 300);
    add("C:\\Sync\\_trash\\old.txt", "old", 300);
    add("C:\\Sync\\x.tmp", "excluded by the default list", 300);
  }
  void add(const std::string& path, const std::string& content, std::int64_t modified) {
    fs.addFile(path, content);
    fs.setModified(path, modified);
  }
  void remember() { ASSERT_TRUE(known.remember("C:\\Sync")); }
  bool logged(const std::string& text) const {
    auto texts = log.texts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }

  test::MemoryFileSystem fs;
  test::RecordingLog log;
  test::RecordingStatusView status;
  ExceptionFilter filter{fs};
  ChangeTracker tracker{log, status, filter, fs};
  KnownFiles known{fs, log, filter, tracker};
};

TEST_F(KnownFilesTest, RemembersTheUsersFilesOnly) {
  remember();
  EXPECT_EQ(fs.content(KnownFiles::listPath("C:\\Sync")), "KQKNOWNFILES 1\n3\t100\ta.txt\n2\t200\tdocs\\b.txt\n");
}

TEST_F(KnownFilesTest, ChangesMadeWhileStoppedGoToTheTrackerAsTheWatcherWouldReportThem) {
  remember();
  ASSERT_TRUE(fs.remove("C:\\Sync\\docs\\b.txt"));
  add("C:\\Sync\\a.txt", "changed", 150);
  add("C:\\Sync\\new.txt", "n", 400);
  ASSERT_TRUE(fs.remove("C:\\Sync\\_log\\Filesync.log"));  // the client's own files do not count
  EXPECT_EQ(known.findChanges("C:\\Sync"), 3u);
  EXPECT_EQ(tracker.deleteQueue, (Paths{"C:\\Sync\\docs\\b.txt"}));
  EXPECT_EQ(tracker.modificationQueue, (Paths{"C:\\Sync\\a.txt", "C:\\Sync\\new.txt"}));
  EXPECT_TRUE(logged("Deleted while the client was stopped: docs\\b.txt"));
  EXPECT_TRUE(logged("Changed while the client was stopped: new.txt"));
}

TEST_F(KnownFilesTest, NothingIsReportedWithoutAListOrForAnUnchangedFolder) {
  EXPECT_EQ(known.findChanges("C:\\Sync"), 0u);  // the first start
  remember();
  EXPECT_EQ(known.findChanges("C:\\Sync"), 0u);
  EXPECT_TRUE(tracker.deleteQueue.empty());
  EXPECT_TRUE(tracker.modificationQueue.empty());
}

TEST_F(KnownFilesTest, AnUnsentDeletionIsFoundAgainAtTheNextStart) {
  remember();
  ASSERT_TRUE(fs.remove("C:\\Sync\\a.txt"));
  tracker.handleWatcherChange(2, "C:\\Sync\\a.txt");
  remember();  // the client stops before the deletion was sent
  tracker.deleteQueue.clear();
  EXPECT_EQ(known.findChanges("C:\\Sync"), 1u);
  EXPECT_EQ(tracker.deleteQueue, (Paths{"C:\\Sync\\a.txt"}));
}

TEST_F(KnownFilesTest, AFolderWithoutAnyKnownFileReportsNoDeletion) {
  remember();
  ASSERT_TRUE(fs.removeAll("C:\\Sync\\a.txt"));
  ASSERT_TRUE(fs.removeAll("C:\\Sync\\docs"));
  EXPECT_EQ(known.findChanges("C:\\Sync"), 0u);
  EXPECT_TRUE(tracker.deleteQueue.empty());
  EXPECT_TRUE(logged("None of the 2 known files is in the sync folder; their deletion is not reported"));
}

TEST_F(KnownFilesTest, AListOverTheSizeBoundIsNotReadAndNothingCountsAsDeleted) {
  remember();
  const std::uint64_t size = fs.content(KnownFiles::listPath("C:\\Sync"))->size();
  ASSERT_TRUE(fs.removeAll("C:\\Sync\\docs"));
  KnownFiles bounded{fs, log, filter, tracker, size - 1};
  EXPECT_EQ(bounded.findChanges("C:\\Sync"), 0u);
  EXPECT_TRUE(tracker.deleteQueue.empty());
  EXPECT_TRUE(logged("The list of known files is too large to read (" + std::to_string(size) + " bytes, at most " +
                     std::to_string(size - 1) + "); changes made while the client was stopped are not looked for"));
  KnownFiles exact{fs, log, filter, tracker, size};  // at the bound it is read
  EXPECT_EQ(exact.findChanges("C:\\Sync"), 1u);
  EXPECT_EQ(tracker.deleteQueue, (Paths{"C:\\Sync\\docs\\b.txt"}));
}

TEST_F(KnownFilesTest, AListOfAnotherShapeIsNotUsed) {
  const char* texts[] = {"", "KQKNOWNFILES 2\n", "KQKNOWNFILES 1\n3\t100\n", "KQKNOWNFILES 1\nx\t100\ta\n",
                         "KQKNOWNFILES 1\n3\t100\ta", "KQKNOWNFILES 1\n3\t100\t\n"};
  fs.addFolder("C:\\Sync\\_config");
  for (const char* text : texts) {
    EXPECT_FALSE(KnownFiles::parseList(text)) << text;
    ASSERT_TRUE(fs.writeText(KnownFiles::listPath("C:\\Sync"), text));
    EXPECT_EQ(known.findChanges("C:\\Sync"), 0u) << text;
  }
  KnownFiles::Listing files{{"a b\tc.txt", {5, -7}}};
  EXPECT_EQ(KnownFiles::parseList(KnownFiles::listText(files)), files);
}

// A save after the first looks only at what the tracker saw touched: the
// watcher's reports and the client's own work for the server.
TEST_F(KnownFilesTest, ASaveLooksOnlyAtTouchedPathsAndFollowsEveryKindOfChange) {
  const struct {
    const char* name;
    std::function<void(test::MemoryFileSystem&, ChangeTracker&)> change;
    const char* list;
  } cases[] = {
      {"a file edited by the user",
       [](auto& fs, auto& tracker) {
         fs.addFile("C:\\Sync\\a.txt", "edited");
         fs.setModified("C:\\Sync\\a.txt", 500);
         tracker.handleWatcherChange(3, "C:\\Sync\\a.txt");
       },
       "KQKNOWNFILES 1\n6\t500\ta.txt\n2\t200\tdocs\\b.txt\n"},
      {"a file written for the server",
       [](auto& fs, auto& tracker) {
         tracker.addServerPath("C:\\Sync\\docs\\new.txt");
         fs.addFile("C:\\Sync\\docs\\new.txt", "server");
         fs.setModified("C:\\Sync\\docs\\new.txt", 600);
         tracker.noteServerWriteDone("C:\\Sync\\docs\\new.txt");
       },
       "KQKNOWNFILES 1\n3\t100\ta.txt\n2\t200\tdocs\\b.txt\n6\t600\tdocs\\new.txt\n"},
      {"a folder removed for the server",
       [](auto& fs, auto& tracker) {
         ASSERT_TRUE(fs.removeAll("C:\\Sync\\docs"));
         tracker.noteServerRemoval("C:\\Sync\\docs");
       },
       "KQKNOWNFILES 1\n3\t100\ta.txt\n"},
      {"a folder moved for the server",
       [](auto& fs, auto& tracker) {
         ASSERT_TRUE(fs.rename("C:\\Sync\\docs", "C:\\Sync\\papers"));
         tracker.addBlockedPath("C:\\Sync\\papers");
         tracker.addBlockedPath("C:\\Sync\\docs");
       },
       "KQKNOWNFILES 1\n3\t100\ta.txt\n2\t200\tpapers\\b.txt\n"},
      {"a folder renamed by the user",
       [](auto& fs, auto& tracker) {
         ASSERT_TRUE(fs.rename("C:\\Sync\\docs", "C:\\Sync\\papers"));
         tracker.handleWatcherChange(4, "C:\\Sync\\docs");
         tracker.handleWatcherChange(5, "C:\\Sync\\papers");
       },
       "KQKNOWNFILES 1\n3\t100\ta.txt\n2\t200\tpapers\\b.txt\n"},
      {"an excluded file and the client's own folders",
       [](auto& fs, auto& tracker) {
         fs.addFile("C:\\Sync\\y.tmp", "excluded");
         tracker.handleWatcherChange(1, "C:\\Sync\\y.tmp");
         fs.addFile("C:\\Sync\\_trash\\z.txt", "own");
         tracker.noteServerRemoval("C:\\Sync\\_trash\\z.txt");
       },
       "KQKNOWNFILES 1\n3\t100\ta.txt\n2\t200\tdocs\\b.txt\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::MemoryFileSystem folder;
    folder.addFile("C:\\Sync\\a.txt", "aaa");
    folder.setModified("C:\\Sync\\a.txt", 100);
    folder.addFile("C:\\Sync\\docs\\b.txt", "bb");
    folder.setModified("C:\\Sync\\docs\\b.txt", 200);
    ExceptionFilter defaults{folder};
    ChangeTracker changes{log, status, defaults, folder};
    KnownFiles list{folder, log, defaults, changes};
    ASSERT_TRUE(list.remember("C:\\Sync"));
    const int walks = folder.calls(test::FsOp::Walk);
    c.change(folder, changes);
    ASSERT_TRUE(list.remember("C:\\Sync"));
    EXPECT_EQ(folder.content(KnownFiles::listPath("C:\\Sync")), c.list);
    EXPECT_EQ(list.walks(), 1u);
    EXPECT_LE(folder.calls(test::FsOp::Walk) - walks, 1);  // at most the touched folder's own walk
  }
}

TEST_F(KnownFilesTest, NothingTouchedMeansNothingLookedAtOrWritten) {
  remember();
  const int statuses = fs.calls(test::FsOp::Status), writes = fs.calls(test::FsOp::OpenWrite);
  const int walks = fs.calls(test::FsOp::Walk);
  add("C:\\Sync\\unreported.txt", "the watcher did not say", 700);  // not looked for
  remember();
  EXPECT_EQ(fs.calls(test::FsOp::Status), statuses + 1);  // only: is the saved list still there?
  EXPECT_EQ(fs.calls(test::FsOp::OpenWrite), writes);
  EXPECT_EQ(fs.calls(test::FsOp::Walk), walks);
  EXPECT_EQ(fs.content(KnownFiles::listPath("C:\\Sync")), "KQKNOWNFILES 1\n3\t100\ta.txt\n2\t200\tdocs\\b.txt\n");
}

TEST_F(KnownFilesTest, LostReportsOrTheSyncFolderItselfTouchedWalkTheWholeFolder) {
  remember();
  add("C:\\Sync\\unreported.txt", "u", 700);
  tracker.isSyncFolder = [](const std::string& path) { return path == "C:\\Sync"; };
  tracker.onFullLookWanted = [] {};
  tracker.handleWatcherChange(0, "C:\\Sync");
  remember();
  EXPECT_EQ(known.walks(), 2u);
  EXPECT_EQ(fs.content(KnownFiles::listPath("C:\\Sync")),
            "KQKNOWNFILES 1\n3\t100\ta.txt\n2\t200\tdocs\\b.txt\n1\t700\tunreported.txt\n");
  tracker.handleWatcherChange(3, "C:\\Sync");
  remember();
  EXPECT_EQ(known.walks(), 3u);
}

TEST_F(KnownFilesTest, ADeletionOnceSentLeavesTheSavedList) {
  remember();
  ASSERT_TRUE(fs.remove("C:\\Sync\\a.txt"));
  tracker.handleWatcherChange(2, "C:\\Sync\\a.txt");
  remember();
  EXPECT_EQ(fs.content(KnownFiles::listPath("C:\\Sync")), "KQKNOWNFILES 1\n0\t0\ta.txt\n2\t200\tdocs\\b.txt\n");
  tracker.deleteQueue.clear();  // sent
  remember();
  EXPECT_EQ(fs.content(KnownFiles::listPath("C:\\Sync")), "KQKNOWNFILES 1\n2\t200\tdocs\\b.txt\n");
}

TEST_F(KnownFilesTest, ASaveThatFailedIsWrittenAtTheNextSave) {
  remember();
  add("C:\\Sync\\a.txt", "edited", 500);
  tracker.handleWatcherChange(3, "C:\\Sync\\a.txt");
  fs.failOn(test::FsOp::Rename, {}, 1);
  EXPECT_FALSE(known.remember("C:\\Sync"));
  remember();
  EXPECT_EQ(fs.content(KnownFiles::listPath("C:\\Sync")), "KQKNOWNFILES 1\n6\t500\ta.txt\n2\t200\tdocs\\b.txt\n");
}

}  // namespace
}  // namespace kq
