// The same cases run against the build's real FileSystem: PosixFileSystem
// natively, Win32FileSystem in the Windows executable under Wine.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "support/native_fs.h"

namespace kq {
namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  std::vector<WalkEntry> walkAll(const std::string& folder) {
    std::vector<WalkEntry> entries;
    EXPECT_TRUE(fs.walk(folder, [&](const WalkEntry& e) {
      entries.push_back(e);
      return true;
    }));
    return entries;
  }
  void write(const std::string& relative, const std::string& content) {
    ASSERT_TRUE(fs.writeText(disk.path(relative), content)) << relative;
  }

  test::NativeFs disk;
  FileSystem& fs = disk.fs();
};

std::int64_t nowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TEST_F(FileSystemTest, CreatesFoldersWithTheirParents) {
  ASSERT_TRUE(fs.createFolders(disk.path("a\\b\\c")));
  EXPECT_TRUE(fs.isFolder(disk.path("a")));
  EXPECT_TRUE(fs.isFolder(disk.path("a\\b")));
  EXPECT_TRUE(fs.isFolder(disk.path("a\\b\\c")));
  EXPECT_TRUE(fs.createFolders(disk.path("a\\b"))) << "an existing folder is fine";
  write("a\\file", "x");
  EXPECT_FALSE(fs.createFolders(disk.path("a\\file"))) << "a file stands there";
  EXPECT_FALSE(fs.createFolders(disk.path("a\\file\\sub")));
}

TEST_F(FileSystemTest, StatusGivesTypeSizeAndModificationTime) {
  auto before = nowSeconds();
  write("f.bin", std::string(1234, '\0'));
  ASSERT_TRUE(fs.createFolders(disk.path("dir")));
  auto after = nowSeconds();

  auto file = fs.status(disk.path("f.bin"));
  EXPECT_EQ(file.type, EntryType::File);
  EXPECT_EQ(file.size, 1234u);
  EXPECT_GE(file.modified, before - 2);
  EXPECT_LE(file.modified, after + 2);
  EXPECT_TRUE(fs.isFile(disk.path("f.bin")));

  auto folder = fs.status(disk.path("dir"));
  EXPECT_EQ(folder.type, EntryType::Folder);
  EXPECT_EQ(folder.size, 0u);
  EXPECT_GE(folder.modified, before - 2);
}

TEST_F(FileSystemTest, MissingPathsFailCleanly) {
  auto missing = disk.path("nothing\\here.txt");
  EXPECT_FALSE(fs.exists(missing));
  EXPECT_EQ(fs.status(missing).type, EntryType::None);
  EXPECT_EQ(fs.openRead(missing), nullptr);
  EXPECT_EQ(fs.readText(missing), std::nullopt);
  EXPECT_EQ(fs.openAppend(missing), nullptr) << "its folder is missing";
  EXPECT_EQ(fs.openWrite(missing), nullptr);
  EXPECT_FALSE(fs.remove(missing));
  EXPECT_TRUE(fs.removeAll(missing)) << "nothing is left";
  EXPECT_FALSE(fs.rename(missing, disk.path("other.txt")));
  EXPECT_FALSE(fs.setAttributes(missing, true, false));
  EXPECT_EQ(fs.attributes(missing), std::make_pair(false, false));
  EXPECT_FALSE(fs.walk(disk.path("nothing"), [](const WalkEntry&) { return true; }));
}

TEST_F(FileSystemTest, NamesWithCharactersWindowsRefusesCannotBeCreated) {
  for (const char* name : {"a?b.txt", "a*b.txt", "a<b", "a|b", "a\"b"}) {
    EXPECT_FALSE(fs.writeText(disk.path(name), "x")) << name;
  }
  EXPECT_TRUE(walkAll(disk.root()).empty());
}

TEST_F(FileSystemTest, RenameReplacesAnExistingFile) {
  write("a.txt", "new content");
  write("b.txt", "old");
  ASSERT_TRUE(fs.rename(disk.path("a.txt"), disk.path("b.txt")));
  EXPECT_FALSE(fs.exists(disk.path("a.txt")));
  EXPECT_EQ(fs.readText(disk.path("b.txt")), "new content");
}

TEST_F(FileSystemTest, RenameMovesFoldersButNeverOntoSomethingThere) {
  write("f.txt", "f");
  ASSERT_TRUE(fs.createFolders(disk.path("src\\inner")));
  write("src\\inner\\x.txt", "x");
  ASSERT_TRUE(fs.createFolders(disk.path("other")));

  EXPECT_FALSE(fs.rename(disk.path("src"), disk.path("other"))) << "an existing folder";
  EXPECT_FALSE(fs.rename(disk.path("src"), disk.path("f.txt"))) << "an existing file";
  EXPECT_FALSE(fs.rename(disk.path("f.txt"), disk.path("other"))) << "a file onto a folder";
  ASSERT_TRUE(fs.rename(disk.path("src"), disk.path("other\\moved")));
  EXPECT_FALSE(fs.exists(disk.path("src")));
  EXPECT_EQ(fs.readText(disk.path("other\\moved\\inner\\x.txt")), "x");
}

TEST_F(FileSystemTest, RemoveNeedsAnEmptyFolderRemoveAllTakesEverything) {
  ASSERT_TRUE(fs.createFolders(disk.path("full\\sub")));
  write("full\\sub\\a.txt", "a");
  write("full\\b.txt", "b");
  ASSERT_TRUE(fs.setAttributes(disk.path("full\\b.txt"), true, true));

  EXPECT_FALSE(fs.remove(disk.path("full")));
  EXPECT_TRUE(fs.isFolder(disk.path("full")));
  EXPECT_TRUE(fs.removeAll(disk.path("full")));
  EXPECT_FALSE(fs.exists(disk.path("full")));

  write("single.txt", "s");
  EXPECT_TRUE(fs.remove(disk.path("single.txt")));
  EXPECT_FALSE(fs.exists(disk.path("single.txt")));
  ASSERT_TRUE(fs.createFolders(disk.path("empty")));
  EXPECT_TRUE(fs.remove(disk.path("empty")));
  EXPECT_FALSE(fs.exists(disk.path("empty")));
  write("lone.txt", "l");
  EXPECT_TRUE(fs.removeAll(disk.path("lone.txt")));
  EXPECT_FALSE(fs.exists(disk.path("lone.txt")));
}

TEST_F(FileSystemTest, NamesWithBytesAbove0x7FRoundTrip) {
  const std::string names[] = {"caf\xE9.txt", "\x80uro", "\xC4rger \xFF\xDF.dat"};
  ASSERT_TRUE(fs.createFolders(disk.path("d\xFC")));
  for (auto& name : names) write("d\xFC\\" + name, name);

  std::set<std::string> listed;
  for (auto& e : walkAll(disk.path("d\xFC"))) listed.insert(e.path);
  std::set<std::string> expected;
  for (auto& name : names) {
    expected.insert(disk.path("d\xFC\\" + name));
    EXPECT_EQ(fs.readText(disk.path("d\xFC\\" + name)), name);
    EXPECT_EQ(fs.status(disk.path("d\xFC\\" + name)).size, name.size());
  }
  EXPECT_EQ(listed, expected);
}

TEST_F(FileSystemTest, RunsOfSeparatorsCountAsOne) {
  ASSERT_TRUE(fs.createFolders(disk.path("Sync\\/docs")));
  EXPECT_TRUE(fs.isFolder(disk.path("Sync\\docs")));
  ASSERT_TRUE(fs.writeText(disk.path("Sync\\/docs\\/a.txt"), "doubled"));
  EXPECT_EQ(fs.readText(disk.path("Sync\\docs\\a.txt")), "doubled");
  EXPECT_EQ(fs.readText(disk.root() + "/Sync//docs/a.txt"), "doubled");
  EXPECT_TRUE(fs.isFile(disk.path("Sync\\\\docs\\a.txt")));
}

TEST_F(FileSystemTest, AppendStreamsAddToTheEnd) {
  auto path = disk.path("log.txt");
  for (const char* piece : {"first\r\n", "second\r\n"}) {
    auto out = fs.openAppend(path);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(out->write(piece, std::char_traits<char>::length(piece)));
    EXPECT_TRUE(out->close());
    EXPECT_FALSE(out->write("x", 1)) << "writing after close fails";
  }
  EXPECT_TRUE(fs.appendText(path, "third"));
  EXPECT_EQ(fs.readText(path), "first\r\nsecond\r\nthird");
  EXPECT_TRUE(fs.writeText(path, "new"));
  EXPECT_EQ(fs.readText(path), "new") << "openWrite truncates";
}

TEST_F(FileSystemTest, StreamsCarryBinaryContentInPieces) {
  std::string content;
  for (int i = 0; i < 300000; ++i) content.push_back(static_cast<char>(i * 7));
  auto out = fs.openWrite(disk.path("blob"));
  ASSERT_NE(out, nullptr);
  for (std::size_t at = 0; at < content.size(); at += 65536) {
    ASSERT_TRUE(out->write(content.data() + at, std::min<std::size_t>(65536, content.size() - at)));
  }
  ASSERT_TRUE(out->close());
  auto in = fs.openRead(disk.path("blob"));
  ASSERT_NE(in, nullptr);
  std::string back;
  char buf[10000];
  for (std::int64_t n; (n = in->read(buf, sizeof buf)) > 0;) back.append(buf, static_cast<std::size_t>(n));
  EXPECT_EQ(in->read(buf, sizeof buf), 0);
  EXPECT_EQ(back, content);
}

TEST_F(FileSystemTest, FoldersAreNotFileStreams) {
  ASSERT_TRUE(fs.createFolders(disk.path("dir")));
  EXPECT_EQ(fs.openRead(disk.path("dir")), nullptr);
  EXPECT_EQ(fs.openWrite(disk.path("dir")), nullptr);
  EXPECT_EQ(fs.openAppend(disk.path("dir")), nullptr);
}

TEST_F(FileSystemTest, WalkVisitsFoldersBeforeTheirContentInEnumerationOrder) {
  ASSERT_TRUE(fs.createFolders(disk.path("a\\sub")));
  ASSERT_TRUE(fs.createFolders(disk.path("empty")));
  write("a\\x.txt", "x");
  write("a\\sub\\y.txt", "y");
  write("b.txt", "b");
  write("c.txt", "c");

  auto entries = walkAll(disk.root());
  std::map<std::string, EntryType> types;
  std::map<std::string, std::vector<std::string>> childrenInOrder;
  for (auto& e : entries) {
    auto cut = e.path.rfind('\\');
    auto parent = e.path.substr(0, cut);
    EXPECT_TRUE(parent == disk.root() || types.count(parent)) << e.path << " came before its folder";
    EXPECT_TRUE(parent == disk.root() || types[parent] == EntryType::Folder);
    types[e.path] = e.type;
    childrenInOrder[parent].push_back(e.path.substr(cut + 1));
  }
  std::map<std::string, EntryType> expected = {
      {disk.path("a"), EntryType::Folder},         {disk.path("a\\sub"), EntryType::Folder},
      {disk.path("a\\x.txt"), EntryType::File},    {disk.path("a\\sub\\y.txt"), EntryType::File},
      {disk.path("empty"), EntryType::Folder},     {disk.path("b.txt"), EntryType::File},
      {disk.path("c.txt"), EntryType::File}};
  EXPECT_EQ(types, expected);
  EXPECT_EQ(entries.size(), expected.size());

  // Within a folder the entries come as the operating system enumerates them.
  std::vector<std::string> native;
  for (auto& d : std::filesystem::directory_iterator(disk.nativeRoot() / "a")) {
    native.push_back(d.path().filename().string());
  }
  EXPECT_EQ(childrenInOrder[disk.path("a")], native);
}

TEST_F(FileSystemTest, WalkBuildsPathsFromTheFolderTextAsGiven) {
  ASSERT_TRUE(fs.createFolders(disk.path("docs")));
  write("docs\\r.pdf", "r");
  auto entries = walkAll(disk.root() + "\\/docs");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, disk.root() + "\\/docs\\r.pdf");
}

TEST_F(FileSystemTest, WalkStopsWhenTheVisitorSaysSo) {
  for (const char* name : {"1", "2", "3"}) write(name, name);
  int visits = 0;
  EXPECT_TRUE(fs.walk(disk.root(), [&](const WalkEntry&) { return ++visits < 2; }));
  EXPECT_EQ(visits, 2);
  EXPECT_FALSE(fs.walk(disk.path("1"), [](const WalkEntry&) { return true; })) << "a file is not a folder";
}

TEST_F(FileSystemTest, AttributesReadBackWhatWasSet) {
  write("f.txt", "f");
  ASSERT_TRUE(fs.createFolders(disk.path("_config")));
  EXPECT_EQ(fs.attributes(disk.path("f.txt")), std::make_pair(false, false));
  const std::pair<bool, bool> settings[] = {{true, false}, {true, true}, {false, true}, {false, false}};
  for (auto path : {disk.path("f.txt"), disk.path("_config")}) {
    for (auto [hidden, system] : settings) {
      ASSERT_TRUE(fs.setAttributes(path, hidden, system));
      EXPECT_EQ(fs.attributes(path), std::make_pair(hidden, system)) << path << hidden << system;
    }
  }
  ASSERT_TRUE(fs.setAttributes(disk.path("f.txt"), true, false));
  ASSERT_TRUE(fs.rename(disk.path("f.txt"), disk.path("g.txt")));
  EXPECT_EQ(fs.attributes(disk.path("g.txt")), std::make_pair(true, false)) << "they travel with the file";
  EXPECT_EQ(fs.readText(disk.path("g.txt")), "f") << "a hidden file reads as any other";
}

TEST_F(FileSystemTest, HiddenSystemFilesCanBeRewrittenAndKeepTheirAttributes) {
  ASSERT_TRUE(fs.createFolders(disk.path("_config")));
  write("_config\\Filesync.ini", "old content");
  ASSERT_TRUE(fs.setAttributes(disk.path("_config\\Filesync.ini"), true, true));
  EXPECT_TRUE(fs.writeText(disk.path("_config\\Filesync.ini"), "new"));
  EXPECT_TRUE(fs.appendText(disk.path("_config\\Filesync.ini"), "+more"));
  EXPECT_EQ(fs.readText(disk.path("_config\\Filesync.ini")), "new+more");
  EXPECT_EQ(fs.attributes(disk.path("_config\\Filesync.ini")), std::make_pair(true, true));
}

}  // namespace
}  // namespace kq
