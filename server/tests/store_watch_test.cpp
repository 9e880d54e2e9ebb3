// The store watch: a cycle scans the store only when something happened in
// it (an event, an overflow of the event queue, the store folder replaced),
// when the safety interval passed, or always when inotify cannot be used.
#include <sys/inotify.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "store.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

constexpr std::int64_t kNow = 1700000000;

class StoreWatchTest : public ::testing::Test {
 public:
  void SetUp() override {
    dir_ = test::scratchFolder("kqsyncd-watch");
    test::writeFile(disk("/d/a.txt"), "a");
    writeStoreMarker(root());
    store_ = std::make_unique<Store>(root(), (dir_ / "index.sqlite").string(),
                                     [this](const std::string& l) { log_.push_back(l); }, (dir_ / "versions").string());
  }
  void TearDown() override {
    store_.reset();
    fs::remove_all(dir_);
  }
  std::string root() const { return (dir_ / "store").string(); }
  fs::path disk(const std::string& p) const { return dir_ / "store" / p.substr(1); }
  // settle runs cycles until one does not scan (files hashed within their own second are hashed once more).
  void settle(std::int64_t at) {
    for (int i = 0; i < 5; ++i) {
      auto before = store_->scansDone();
      ASSERT_TRUE(store_->prepareCycle(at).has_value());
      if (store_->scansDone() == before) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // leave the second of the last hash
    }
    FAIL() << "the store never settled";
  }
  int logged(const std::string& text) const {
    int n = 0;
    for (auto& l : log_) n += l == text ? 1 : 0;
    return n;
  }

  fs::path dir_;
  std::vector<std::string> log_;
  std::unique_ptr<Store> store_;
};

TEST_F(StoreWatchTest, ScansOnlyAfterSomethingHappened) {
  ASSERT_TRUE(store_->watch().watching());
  settle(kNow);
  struct Case {
    const char* name;
    std::function<void(StoreWatchTest&)> happen;
    bool scans;
    const char* pickedUp;  // the scan's log line, "" for none
  } cases[] = {
      {"nothing", [](StoreWatchTest&) {}, false, ""},
      {"a new file in a subfolder", [](StoreWatchTest& t) { test::writeFile(t.disk("/d/b.txt"), "b"); }, true,
       "store: picked up new file /d/b.txt"},
      {"a file in a folder made since the last scan",
       [](StoreWatchTest& t) {
         test::writeFile(t.disk("/new/c.txt"), "c");
         t.settle(kNow);
         test::writeFile(t.disk("/new/c.txt"), "changed");
       },
       true, "store: picked up change of /new/c.txt"},
      {"a deletion", [](StoreWatchTest& t) { fs::remove(t.disk("/d/a.txt")); }, true,
       "store: picked up deletion of /d/a.txt"},
      {"the safety interval", [](StoreWatchTest&) {}, true, ""},
      {"an overflow of the event queue",
       [](StoreWatchTest& t) {
         inotify_event overflow{-1, IN_Q_OVERFLOW, 0, 0};
         t.store_->watch().take(overflow);
       },
       true, ""},
  };
  std::int64_t at = kNow;
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (std::string(c.name) == "the safety interval") at += StoreWatch::kSafetySeconds;
    c.happen(*this);
    auto before = store_->scansDone();
    ASSERT_TRUE(store_->prepareCycle(at).has_value());
    EXPECT_EQ(store_->scansDone() - before, c.scans ? 1 : 0);
    if (*c.pickedUp != '\0') EXPECT_EQ(logged(c.pickedUp), 1);
    settle(at);
  }
  EXPECT_EQ(logged("store watch: more changes than the event queue holds; the store " + root() +
                   " is scanned in full"),
            1);
  inotify_event overflow{-1, IN_Q_OVERFLOW, 0, 0};
  store_->watch().take(overflow);
  EXPECT_EQ(store_->watch().needsScan(at), true);
  EXPECT_EQ(logged("store watch: more changes than the event queue holds; the store " + root() +
                   " is scanned in full"),
            1)
      << "an overflow is logged once";
}

TEST_F(StoreWatchTest, WithoutInotifyEveryCycleScans) {
  StoreWatch watch(root(), [this](const std::string& l) { log_.push_back(l); }, false);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(watch.needsScan(kNow + i));
    watch.scanStarting(kNow + i);
  }
}

TEST_F(StoreWatchTest, AStoreFolderPutInPlaceOfTheWatchedOneIsScanned) {
  settle(kNow);
  fs::rename(root(), dir_ / "old");  // the watched folder goes; another one takes its name
  fs::create_directories(root());
  writeStoreMarker(root());
  test::writeFile(disk("/other.txt"), "o");
  auto before = store_->scansDone();
  ASSERT_TRUE(store_->prepareCycle(kNow).has_value());
  EXPECT_EQ(store_->scansDone(), before + 1);
  EXPECT_EQ(logged("store: picked up new file /other.txt"), 1);
}

}  // namespace
}  // namespace kqs
