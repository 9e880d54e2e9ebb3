// The inotify watcher walks the sync folder through open folders: a folder
// swapped for a link while the walk is under way is never watched through
// the link, and what lies behind the link is never reported. The swap is made
// from the walk's own hook, between reading a folder and watching below it.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log/log.h"
#include "platform/posix/event_loop.h"
#include "watcher/change_reporter.h"
#include "watcher/inotify_watcher_posix.h"
#include "watcher/notification_sender.h"

namespace kq {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Messages : NotificationSink {
  void push(std::string message) override { all.push_back(std::move(message)); }
  bool any(const std::string& part) const {
    for (const auto& m : all)
      if (m.find(part) != std::string::npos) return true;
    return false;
  }
  std::vector<std::string> all;
};

struct Lines : Log {
  void writeLog(const std::string& text, bool) override { all.push_back(text); }
  std::vector<std::string> all;
};

struct SwapCase {
  const char* name;
  bool beforeStart;  // the tree is there when watching starts, or appears later
};

class WatcherLinkSwap : public ::testing::TestWithParam<SwapCase> {
 protected:
  WatcherLinkSwap() {
    char pattern[] = "/tmp/kq-watch-swap-XXXXXX";
    root_ = ::mkdtemp(pattern);
    fs::create_directories(root_ / "sync");
    fs::create_directories(root_ / "outside" / "m");
  }
  ~WatcherLinkSwap() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_P(WatcherLinkSwap, AFolderSwappedForALinkDuringTheWalkIsNeverWatchedThroughIt) {
  const fs::path sync = root_ / "sync", outside = root_ / "outside";
  EventLoop loop;
  Messages messages;
  Lines log;
  ChangeReporter reporter(WatchScope("C:\\Sync"), messages);
  InotifyWatcher watcher(loop, sync.string(), "C:\\Sync", reporter, log);
  bool swapped = false;
  watcher.onFolderRead = [&](const std::string& folder) {
    if (swapped || folder != (sync / "n").string()) return;
    // n's entries are read; before m below it is watched, n becomes a link to outside.
    fs::rename(sync / "n", sync / "n-old");
    fs::create_directory_symlink(outside, sync / "n");
    swapped = true;
  };
  if (GetParam().beforeStart) fs::create_directories(sync / "n" / "m");
  ASSERT_TRUE(watcher.start());
  ASSERT_TRUE(watcher.watching());
  if (!GetParam().beforeStart) fs::create_directories(sync / "n" / "m");
  ASSERT_TRUE(loop.runUntil([&] { return swapped; }, 5000ms));
  loop.runFor(50ms);  // the swap's own events

  std::ofstream(outside / "m" / "behind-link.txt") << "outside";
  std::ofstream(sync / "n-old" / "m" / "inside.txt") << "inside";
  EXPECT_TRUE(loop.runUntil([&] { return messages.any("inside.txt"); }, 5000ms));
  // The outside write came first on the same queue: had it been watched, it would be here.
  EXPECT_TRUE(messages.any("1C:\\Sync\\n-old\\m\\inside.txt"));
  EXPECT_FALSE(messages.any("behind-link.txt"));
  EXPECT_FALSE(fs::exists(outside / "m" / "inside.txt"));
}

INSTANTIATE_TEST_SUITE_P(Walks, WatcherLinkSwap,
                         ::testing::Values(SwapCase{"AtStart", true}, SwapCase{"OfANewFolder", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kq
#endif
