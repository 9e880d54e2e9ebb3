#include "support/memory_file_system.h"

#include <gtest/gtest.h>

namespace kq::test {
namespace {

TEST(MemoryFileSystem, ReadsPathTextLikeWindows) {
  const struct {
    const char* path;
    const char* key;
  } cases[] = {
      {"C:\\a\\b", "C:\\a\\b"},  {"C:/a/b", "C:\\a\\b"},     {"C:\\\\a//\\b\\", "C:\\a\\b"},
      {"C:\\a\\.\\b", "C:\\a\\b"}, {"C:\\a\\x\\..\\b", "C:\\a\\b"}, {"C:\\..\\a\\b", "C:\\a\\b"},
      {"\\a", "a"},              {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(MemoryFileSystem::normalize(c.path), c.key) << c.path;
  MemoryFileSystem fs;
  fs.addFile("C:\\a\\b.txt", "x");
  EXPECT_EQ(fs.readText("C:/a//b.txt"), "x");
  EXPECT_FALSE(fs.exists("C:\\A\\b.txt"));  // names are case-sensitive
}

TEST(MemoryFileSystem, FoldersFilesAndStreams) {
  MemoryFileSystem fs;
  EXPECT_TRUE(fs.isFolder("C:\\"));
  EXPECT_FALSE(fs.createFolders("Q:\\Sync"));  // no such drive
  EXPECT_TRUE(fs.createFolders("C:\\S\\a\\b"));
  EXPECT_TRUE(fs.createFolders("C:\\S\\a\\b"));
  EXPECT_FALSE(fs.writeText("C:\\S\\missing\\f", "x"));
  EXPECT_TRUE(fs.writeText("C:\\S\\f", "one"));
  EXPECT_TRUE(fs.appendText("C:\\S\\f", "two"));
  EXPECT_EQ(fs.status("C:\\S\\f").size, 6u);
  EXPECT_EQ(fs.readText("C:\\S\\f"), "onetwo");
  EXPECT_TRUE(fs.writeText("C:\\S\\f", "3"));
  EXPECT_EQ(fs.content("C:\\S\\f"), "3");
  EXPECT_FALSE(fs.createFolders("C:\\S\\f\\g"));  // a file is in the way
  EXPECT_FALSE(fs.writeText("C:\\S\\a", "x"));     // a folder is in the way
  EXPECT_FALSE(fs.remove("C:\\S\\a"));             // not empty
  EXPECT_TRUE(fs.remove("C:\\S\\a\\b"));
  EXPECT_TRUE(fs.remove("C:\\S\\a"));
  EXPECT_FALSE(fs.remove("C:\\S\\a"));
  EXPECT_TRUE(fs.removeAll("C:\\S"));
  EXPECT_FALSE(fs.exists("C:\\S\\f"));
  EXPECT_EQ(fs.readText("C:\\S\\f"), std::nullopt);
}

TEST(MemoryFileSystem, RenameReplacesFilesAndMovesFolders) {
  MemoryFileSystem fs;
  fs.addFile("C:\\S\\a.log", "new");
  fs.addFile("C:\\S\\b.log", "old");
  fs.addFile("C:\\S\\d\\x\\y.txt", "y");
  EXPECT_TRUE(fs.rename("C:\\S\\a.log", "C:\\S\\b.log"));
  EXPECT_EQ(fs.content("C:\\S\\b.log"), "new");
  EXPECT_FALSE(fs.exists("C:\\S\\a.log"));
  EXPECT_FALSE(fs.rename("C:\\S\\a.log", "C:\\S\\c.log"));   // nothing to rename
  EXPECT_FALSE(fs.rename("C:\\S\\b.log", "C:\\S\\d"));       // a folder is not replaced
  EXPECT_FALSE(fs.rename("C:\\S\\d", "C:\\S\\d\\x\\d"));     // not into itself
  EXPECT_FALSE(fs.rename("C:\\S\\b.log", "C:\\T\\b.log"));   // target folder missing
  EXPECT_TRUE(fs.rename("C:\\S\\d", "C:\\S\\e"));
  EXPECT_EQ(fs.content("C:\\S\\e\\x\\y.txt"), "y");
  EXPECT_FALSE(fs.exists("C:\\S\\d"));
}

TEST(MemoryFileSystem, AttributesAndWalkOrder) {
  MemoryFileSystem fs;
  fs.addFile("C:\\S\\z.txt");
  fs.addFolder("C:\\S\\b");
  fs.addFile("C:\\S\\b\\in.txt");
  fs.addFile("C:\\S\\a.txt");
  EXPECT_TRUE(fs.setAttributes("C:\\S\\b", true, true));
  EXPECT_EQ(fs.attributes("C:\\S\\b"), std::make_pair(true, true));
  EXPECT_EQ(fs.attributes("C:\\S\\a.txt"), std::make_pair(false, false));
  EXPECT_FALSE(fs.setAttributes("C:\\S\\none", true, false));
  std::vector<std::string> seen;
  EXPECT_TRUE(fs.walk("C:\\S", [&](const WalkEntry& e) {
    seen.push_back(e.path + (e.type == EntryType::Folder ? "\\" : ""));
    return true;
  }));
  EXPECT_EQ(seen, (std::vector<std::string>{"C:\\S\\z.txt", "C:\\S\\b\\", "C:\\S\\b\\in.txt", "C:\\S\\a.txt"}));
  seen.clear();
  EXPECT_TRUE(fs.walk("C:\\S", [&](const WalkEntry& e) {
    seen.push_back(e.path);
    return seen.size() < 2;
  }));
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_FALSE(fs.walk("C:\\none", [](const WalkEntry&) { return true; }));
}

TEST(MemoryFileSystem, ChosenOperationsFail) {
  MemoryFileSystem fs;
  fs.addFolder("C:\\S");
  fs.failOn(FsOp::CreateFolders, "C:\\S\\locked");
  fs.failOn(FsOp::Rename, "C:\\S\\busy.log", 1);
  fs.failOn(FsOp::Write, "C:\\S\\full");
  EXPECT_FALSE(fs.createFolders("C:\\S\\locked\\below"));
  EXPECT_TRUE(fs.createFolders("C:\\S\\free"));
  fs.addFile("C:\\S\\busy.log", "x");
  EXPECT_FALSE(fs.rename("C:\\S\\busy.log", "C:\\S\\old.log"));
  EXPECT_TRUE(fs.rename("C:\\S\\busy.log", "C:\\S\\old.log"));  // failed once only
  EXPECT_FALSE(fs.writeText("C:\\S\\full", "x"));
  EXPECT_EQ(fs.calls(FsOp::Rename), 2);
  fs.clearFailures();
  EXPECT_TRUE(fs.writeText("C:\\S\\full", "x"));
  fs.unmountDrive("C:");
  EXPECT_FALSE(fs.exists("C:\\S"));
  EXPECT_FALSE(fs.createFolders("C:\\S"));
}

}  // namespace
}  // namespace kq::test
