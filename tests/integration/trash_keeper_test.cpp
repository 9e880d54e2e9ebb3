// The trash keeper: entries older than TrashDays go, younger ones and links' targets stay.
#include <gtest/gtest.h>

#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "ui/headless/trash_keeper.h"

namespace kq {
namespace {

namespace fs = std::filesystem;

class TrashKeeperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kq-trash-XXXXXX";
    root = ::mkdtemp(pattern);
    trash = root + "/_trash";
    fs::create_directories(trash + "/old folder/inner");
    std::ofstream(trash + "/a.txt") << "a";
    std::ofstream(trash + "/old folder/inner/b.txt") << "b";
    std::ofstream(root + "/kept.txt") << "kept";
    fs::create_symlink(root + "/kept.txt", trash + "/link");
  }
  void TearDown() override { fs::remove_all(root); }
  std::string root, trash;
};

TEST_F(TrashKeeperTest, EntriesOlderThanTheDaysGoAndNothingElse) {
  const std::int64_t now = std::time(nullptr);
  const struct {
    int days;
    std::int64_t at;  // when the keeper looks
    int removed;
  } cases[] = {
      {30, now, 0},                 // just moved there
      {30, now + 29 * 86400, 0},    // younger than 30 days
      {0, now + 365 * 86400, 0},    // 0: never emptied
      {30, now + 31 * 86400, 3},    // a.txt, "old folder" with its content, the link
  };
  for (const auto& c : cases) {
    TrashEmptied emptied = emptyTrash(trash, c.days, c.at);
    EXPECT_EQ((std::pair{emptied.removed, emptied.failed}), (std::pair{c.removed, 0})) << c.days << " " << c.at - now;
  }
  EXPECT_TRUE(fs::is_empty(trash));
  EXPECT_TRUE(fs::exists(root + "/kept.txt")) << "the link's target was removed";
  EXPECT_EQ(emptyTrash(root + "/no-trash", 30, now + 31 * 86400).removed, 0);
}

}  // namespace
}  // namespace kq
