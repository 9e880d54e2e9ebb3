#include "platform/tree_move.h"

#include <gtest/gtest.h>

#include "support/faulty_file_system.h"
#include "support/native_fs.h"

namespace kq {
namespace {

class TreeMoveTest : public ::testing::Test {
 protected:
  bool write(const std::string& relative, const std::string& content) {
    std::string path = disk.path(relative);
    return disk.fs().createFolders(path.substr(0, path.find_last_of('\\'))) &&
           disk.fs().writeText(path, content);
  }
  std::string read(const std::string& relative) {
    return disk.fs().readText(disk.path(relative)).value_or("<missing>");
  }
  bool exists(const std::string& relative) { return disk.fs().exists(disk.path(relative)); }

  test::NativeFs disk;
  test::FaultyFileSystem fs{disk.fs()};
  PortableTreeMove mover{fs};
};

TEST_F(TreeMoveTest, MovesEverythingAndRemovesTheSource) {
  ASSERT_TRUE(write("src\\a.txt", "a"));
  ASSERT_TRUE(write("src\\x\\y\\b.txt", "b"));
  ASSERT_TRUE(disk.fs().createFolders(disk.path("src\\empty")));
  MoveResult r = mover.moveTree(disk.path("src"), disk.path("dst"));
  EXPECT_TRUE(r.complete) << r.detail;
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_FALSE(exists("src"));
  EXPECT_EQ(read("dst\\a.txt"), "a");
  EXPECT_EQ(read("dst\\x\\y\\b.txt"), "b");
  EXPECT_TRUE(disk.fs().isFolder(disk.path("dst\\empty")));
}

TEST_F(TreeMoveTest, MergesAndReplaces) {
  ASSERT_TRUE(write("src\\same.txt", "new"));
  ASSERT_TRUE(write("dst\\same.txt", "old"));
  ASSERT_TRUE(write("dst\\other.txt", "other"));
  EXPECT_TRUE(mover.moveTree(disk.path("src"), disk.path("dst")).complete);
  EXPECT_EQ(read("dst\\same.txt"), "new");
  EXPECT_EQ(read("dst\\other.txt"), "other");
}

TEST_F(TreeMoveTest, WhatCannotMoveStaysAndIsReported) {
  ASSERT_TRUE(write("src\\keep\\locked.txt", "l"));
  ASSERT_TRUE(write("src\\keep\\free.txt", "f"));
  ASSERT_TRUE(write("src\\gone\\g.txt", "g"));
  fs.failRename("locked.txt");
  MoveResult r = mover.moveTree(disk.path("src"), disk.path("dst"));
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(r.detail, "1 item(s) could not be moved: " + disk.path("src\\keep\\locked.txt"));
  EXPECT_EQ(read("src\\keep\\locked.txt"), "l");
  EXPECT_FALSE(exists("src\\keep\\free.txt"));
  EXPECT_FALSE(exists("src\\gone"));  // emptied folders go
  EXPECT_EQ(read("dst\\keep\\free.txt"), "f");
  EXPECT_EQ(read("dst\\gone\\g.txt"), "g");
}

TEST_F(TreeMoveTest, RefusesWhatCannotWork) {
  ASSERT_TRUE(write("src\\a.txt", "a"));
  MoveResult inside = mover.moveTree(disk.path("src"), disk.path("src\\sub"));
  EXPECT_FALSE(inside.complete);
  EXPECT_EQ(inside.detail, "the destination lies inside the source: " + disk.path("src\\sub"));
  MoveResult missing = mover.moveTree(disk.path("none"), disk.path("dst"));
  EXPECT_FALSE(missing.complete);
  EXPECT_EQ(missing.detail, "the source does not exist: " + disk.path("none"));
  fs.failCreateFolders("dst");
  EXPECT_FALSE(mover.moveTree(disk.path("src"), disk.path("dst")).complete);
  EXPECT_EQ(read("src\\a.txt"), "a");
}

TEST_F(TreeMoveTest, MovesASingleFile) {
  ASSERT_TRUE(write("f.txt", "f"));
  EXPECT_TRUE(mover.moveTree(disk.path("f.txt"), disk.path("d\\g.txt")).complete);
  EXPECT_EQ(read("d\\g.txt"), "f");
  EXPECT_FALSE(exists("f.txt"));
}

}  // namespace
}  // namespace kq
