// Which planned actions still hold once another session changed the store.
#include "store_turns.h"

#include "sqlite_index.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_files.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

class StoreTurnsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::scratchFolder("kqsyncd-turns");
    fs::create_directories(dir_);
    index_ = std::make_unique<SqliteIndex>((dir_ / "index.sqlite").string());
    for (auto* path : {"/a.txt", "/b.txt", "/docs/c.txt"}) put(path, false);
    put("/docs", true);
    turns_ = std::make_unique<StoreTurns>(lock_, *index_);
    StoreTurns::Turn turn(*turns_);
    in_.store = index_->entries();
    turns_->newPlan();
  }
  void TearDown() override {
    turns_.reset();
    index_.reset();
    fs::remove_all(dir_);
  }
  void put(const std::string& path, bool isDir) {
    index_->put({path, isDir, 1, 1, "", index_->nextVersion(), false, 0});
  }
  bool current(ActionKind kind, const std::string& path, const std::string& target = "", bool isDir = false) {
    Action a;
    a.kind = kind;
    a.path = path;
    a.target = target;
    a.isDir = isDir;
    StoreTurns::Turn turn(*turns_);
    return turns_->current(a, in_);
  }

  fs::path dir_;
  TurnLock lock_;
  std::unique_ptr<StoreIndex> index_;
  std::unique_ptr<StoreTurns> turns_;
  PlanInput in_;
};

TEST_F(StoreTurnsTest, WhileNobodyElseChangesTheStoreEveryActionHolds) {
  {
    StoreTurns::Turn turn(*turns_);  // this session's own step
    turns_->changing("/a.txt");
    put("/a.txt", false);
    index_->tombstone("/docs", 5);
  }
  EXPECT_TRUE(current(ActionKind::Fetch, "/a.txt"));
  EXPECT_TRUE(current(ActionKind::DeleteOnClient, "/docs", "", true));
}

TEST_F(StoreTurnsTest, AfterAnotherSessionChangedTheStoreOnlyUntouchedPathsHold) {
  {
    StoreTurns::Turn turn(*turns_);
    turns_->changing("/b.txt");
  }
  put("/a.txt", false);  // another session, between this one's turns
  struct Case {
    const char* name;
    ActionKind kind;
    std::string path, target;
    bool isDir, holds;
  } cases[] = {
      {"the file another session changed", ActionKind::Fetch, "/a.txt", "", false, false},
      {"a push of that file", ActionKind::PushFile, "/a.txt", "", false, false},
      {"a file nobody changed", ActionKind::PushFile, "/docs/c.txt", "", false, true},
      {"a file this session changed", ActionKind::Fetch, "/b.txt", "", false, false},
      {"a rename onto the changed file", ActionKind::RenameInStore, "/docs/c.txt", "/a.txt", false, false},
      {"a folder deletion in the store", ActionKind::DeleteInStore, "/docs", "", true, false},
      {"a folder deletion on the client", ActionKind::DeleteOnClient, "/docs", "", false, false},
      {"a folder move on the client", ActionKind::MoveOnClient, "/x", "/y", true, false},
      {"a file that is new to the store", ActionKind::Fetch, "/new.txt", "", false, true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(current(c.kind, c.path, c.target, c.isDir), c.holds);
  }
}

TEST_F(StoreTurnsTest, ADeletionByAnotherSessionIsAChangeToo) {
  index_->tombstone("/docs", 5);
  EXPECT_FALSE(current(ActionKind::PushFile, "/docs/c.txt"));
  EXPECT_TRUE(current(ActionKind::PushFile, "/b.txt"));
  {
    StoreTurns::Turn turn(*turns_);
    turns_->newPlan();  // a new plan sees the store as it is
  }
  EXPECT_TRUE(current(ActionKind::DeleteOnClient, "/docs", "", true));
}

}  // namespace
}  // namespace kqs
