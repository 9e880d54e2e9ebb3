#include "tracking/forced_sync.h"

#include <gtest/gtest.h>

#include "support/memory_file_system.h"
#include "support/recorders.h"
#include "tracking/change_tracker.h"
#include "tracking/exception_filter.h"

namespace kq {
namespace {

using Lines = std::vector<test::LogLine>;
using Paths = std::deque<std::string>;

TEST(ForcedFilePath, JoinsWithOneBackslash) {
  EXPECT_EQ(forcedFilePath("C:\\Sync\\docs", "a.txt"), "C:\\Sync\\docs\\a.txt");
  EXPECT_EQ(forcedFilePath("C:\\", "a.txt"), "C:\\a.txt");
  EXPECT_EQ(forcedFilePath("\\\\srv\\share", "a.txt"), "\\\\srv\\share\\a.txt");
}

class ForcedSyncTest : public ::testing::Test {
 protected:
  ForcedSyncTest() { folders.folder = "C:\\Sync"; }

  test::MemoryFileSystem fs;
  test::RecordingLog log;
  test::RecordingStatusView status;
  test::RecordingFolderView folders;
  test::RecordingDialogs dialogs;
  ExceptionFilter filter{fs};
  ChangeTracker tracker{log, status, filter, fs};
  ForcedSync commands{tracker, filter, folders, dialogs, fs, log};
};

TEST_F(ForcedSyncTest, NothingSelectedDoesNothing) {
  fs.addFile("C:\\Sync\\a.txt");
  folders.files = {"a.txt"};
  commands.ItemA1Click();
  commands.ItmeB1Click();
  EXPECT_TRUE(log.lines.empty());
  EXPECT_TRUE(tracker.modificationQueue.empty());
  EXPECT_TRUE(fs.isFile("C:\\Sync\\a.txt"));
  EXPECT_EQ(folders.refreshes, 0);
}

TEST_F(ForcedSyncTest, SynchronizeSelectedQueuesOnce) {
  folders.selected = "a.txt";
  commands.ItemA1Click();
  EXPECT_EQ(tracker.modificationQueue, Paths{"C:\\Sync\\a.txt"});
  EXPECT_EQ(log.lines, (Lines{{"Force file synchronization: C:\\Sync\\a.txt", true}}));
  EXPECT_TRUE(dialogs.messages.empty());

  log.lines.clear();
  commands.ItemA1Click();
  EXPECT_EQ(tracker.modificationQueue, Paths{"C:\\Sync\\a.txt"});
  EXPECT_EQ(log.lines, (Lines{{"This file has already been added to the sync queue!", true}}));
  EXPECT_EQ(dialogs.messages,
            std::vector<std::string>{"This file has already been added to the sync queue!"});
}

TEST_F(ForcedSyncTest, SynchronizeSelectedRefusesExcludedFile) {
  folders.selected = "report.tmp";
  commands.ItemA1Click();
  EXPECT_TRUE(tracker.modificationQueue.empty());
  EXPECT_EQ(log.lines,
            (Lines{{"The file 'C:\\Sync\\report.tmp' will not be synchronized due to restrictions.", true}}));
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ForcedSyncTest, SynchronizeSelectedAtADriveRoot) {
  folders.folder = "D:\\";
  folders.selected = "a.txt";
  commands.ItemA1Click();
  EXPECT_EQ(tracker.modificationQueue, Paths{"D:\\a.txt"});
}

TEST_F(ForcedSyncTest, SynchronizeAllQueuesEveryListedFileInOrder) {
  tracker.appendModification("C:\\Sync\\b.txt");
  folders.files = {"a.txt", "b.txt", "~c.txt", "d.txt"};
  folders.selected = "a.txt";
  commands.Synchronizeall1Click();
  EXPECT_EQ(tracker.modificationQueue, (Paths{"C:\\Sync\\b.txt", "C:\\Sync\\a.txt", "C:\\Sync\\d.txt"}));
  EXPECT_EQ(log.lines,
            (Lines{{"Adding files to the queue for forced synchronization...", true},
                   {"Adding file: C:\\Sync\\a.txt", true},
                   {"Error: This file 'C:\\Sync\\b.txt' has already been added to the sync queue!", true},
                   {"The file 'C:\\Sync\\~c.txt' will not be added due to restrictions.", true},
                   {"Adding file: C:\\Sync\\d.txt", true}}));
  EXPECT_EQ(dialogs.messages,
            std::vector<std::string>{"Some file/files has already been added to the sync queue!"});
}

TEST_F(ForcedSyncTest, SynchronizeAllWithoutDuplicatesShowsNoBox) {
  folders.files = {"a.txt"};
  commands.Synchronizeall1Click();
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(log.lines.size(), 2u);
}

TEST_F(ForcedSyncTest, SynchronizeAllFailureStillShowsTheBoxForDuplicatesMet) {
  struct FailingView : test::RecordingFolderView {
    std::vector<std::string> listedFiles() override {
      throw std::runtime_error("list gone");
    }
  } failing;
  failing.folder = "C:\\Sync";
  ForcedSync broken{tracker, filter, failing, dialogs, fs, log};
  broken.Synchronizeall1Click();
  EXPECT_EQ(log.lines, (Lines{{"Adding files to the queue for forced synchronization...", true},
                              {"Error in Synchronizeall1Click()", true}}));
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ForcedSyncTest, SynchronizeSelectedFailureLogsItsLine) {
  struct FailingView : test::RecordingFolderView {
    std::string selectedFile() override { throw std::runtime_error("no list"); }
  } failing;
  ForcedSync broken{tracker, filter, failing, dialogs, fs, log};
  broken.ItemA1Click();
  EXPECT_EQ(log.lines, (Lines{{"Error in ItmeA1Click()", true}}));
}

TEST_F(ForcedSyncTest, DeleteSelectedRemovesTheFileAndRefreshes) {
  fs.addFile("C:\\Sync\\a.txt", "x");
  folders.selected = "a.txt";
  commands.ItmeB1Click();
  EXPECT_FALSE(fs.exists("C:\\Sync\\a.txt"));
  EXPECT_EQ(folders.refreshes, 1);
  EXPECT_EQ(log.lines, (Lines{{"Force file delete: a.txt", true}}));
  EXPECT_TRUE(tracker.deleteQueue.empty());  // the watcher reports it later
}

TEST_F(ForcedSyncTest, DeleteSelectedFailureKeepsTheFileAndTheList) {
  fs.addFile("C:\\Sync\\a.txt", "x");
  fs.failOn(test::FsOp::Remove, "C:\\Sync\\a.txt");
  folders.selected = "a.txt";
  commands.ItmeB1Click();
  EXPECT_TRUE(fs.isFile("C:\\Sync\\a.txt"));
  EXPECT_EQ(folders.refreshes, 0);
  EXPECT_EQ(log.lines, (Lines{{"Force file delete: a.txt", true}, {"Error in ItmeB1Click()", true}}));
}

TEST_F(ForcedSyncTest, DeleteSelectedLeavesANonEmptyFolder) {
  fs.addFile("C:\\Sync\\docs\\a.txt", "x");
  folders.selected = "docs";
  commands.ItmeB1Click();
  EXPECT_TRUE(fs.isFile("C:\\Sync\\docs\\a.txt"));
  EXPECT_EQ(log.lines, (Lines{{"Force file delete: docs", true}, {"Error in ItmeB1Click()", true}}));
}

}  // namespace
}  // namespace kq
