#include "support/faulty_file_system.h"

#include <gtest/gtest.h>

#include "support/native_fs.h"

namespace kq {
namespace {

TEST(FaultyFileSystem, FailsChosenOperationsOnMatchingPathsOnly) {
  test::NativeFs disk;
  test::FaultyFileSystem fs(disk.fs());
  fs.failOpenAppend("locked");
  fs.failCreateFolders("noway");
  fs.failRename("target");
  fs.failWrites("full");

  EXPECT_FALSE(fs.appendText(disk.path("locked.txt"), "x"));
  EXPECT_TRUE(fs.appendText(disk.path("free.txt"), "x"));
  EXPECT_FALSE(fs.createFolders(disk.path("noway\\sub")));
  EXPECT_FALSE(disk.fs().exists(disk.path("noway")));
  EXPECT_FALSE(fs.rename(disk.path("free.txt"), disk.path("target.txt")));
  EXPECT_TRUE(disk.fs().exists(disk.path("free.txt")));

  auto out = fs.openWrite(disk.path("full.bin"));
  ASSERT_NE(out, nullptr);
  EXPECT_FALSE(out->write("abc", 3));
  EXPECT_TRUE(out->close());
  EXPECT_EQ(disk.fs().readText(disk.path("full.bin")), "");

  fs.heal();
  EXPECT_TRUE(fs.rename(disk.path("free.txt"), disk.path("target.txt")));
  EXPECT_EQ(fs.callCount("rename"), 2);
  EXPECT_EQ(fs.calls.front(), "openAppend " + disk.path("locked.txt"));
}

TEST(FaultyFileSystem, StatusFailureLooksLikeNothingThere) {
  test::NativeFs disk;
  test::FaultyFileSystem fs(disk.fs());
  ASSERT_TRUE(fs.writeText(disk.path("a.txt"), "a"));
  fs.failStatus("");
  EXPECT_FALSE(fs.exists(disk.path("a.txt")));
  EXPECT_EQ(fs.readText(disk.path("a.txt")), "a") << "only status fails";
}

}  // namespace
}  // namespace kq
