// What only the POSIX file system does: drive mapping and UTF-8 names on disk.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <fstream>

#include "platform/posix/file_system_posix.h"
#include "platform/posix/local_path.h"
#include "support/native_fs.h"
#include "support/scoped_code_page.h"

namespace kq {
namespace {

namespace fsys = std::filesystem;

std::string readNative(const fsys::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string xattr(const fsys::path& p) {
  char buf[64];
  auto n = getxattr(p.c_str(), "user.DOSATTRIB", buf, sizeof buf);
  return n < 0 ? "<none>" : std::string(buf, static_cast<std::size_t>(n));
}

TEST(LocalPath, ConvertsBetweenLocalAndNativeText) {
  struct Case {
    std::string local;
    std::optional<std::string> native;
  };
  const Case cases[] = {
      {"Z:\\home\\me\\Sync", "/home/me/Sync"},
      {"z:/home//me\\/Sync\\", "/home/me/Sync"},
      {"Z:\\", "/"},
      {"Z:", "/"},
      {"Z:\\caf\xE9.txt", "/caf\xC3\xA9.txt"},
      {"Z:\\a\\.\\b\\..\\c", "/a/c"},
      {"Z:\\..\\..\\etc", "/etc"},
      {"C:\\Sync", std::nullopt},      // not mapped
      {"\\home\\me", std::nullopt},    // no drive letter
      {"home\\me", std::nullopt},
      {"Z:home", std::nullopt},        // drive-relative
      {"", std::nullopt},
      {"Z:\\a:b", std::nullopt},       // a colon inside a name
      {"Z:\\a?", std::nullopt},
      {"1:\\a", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(localToNativePath(c.local), c.native) << c.local;

  EXPECT_EQ(nativeToLocalPath("/home/me/Sync"), "Z:\\home\\me\\Sync");
  EXPECT_EQ(nativeToLocalPath("/home//me/Sync/"), "Z:\\home\\me\\Sync");
  EXPECT_EQ(nativeToLocalPath("/"), "Z:\\");
  EXPECT_EQ(nativeToLocalPath("/srv/caf\xC3\xA9/\xE2\x82\xAC"), "Z:\\srv\\caf\xE9\\\x80");
  EXPECT_EQ(nativeToLocalPath("/srv/\xE4\xB8\xAD"), "Z:\\srv\\?") << "not in the code page";
  EXPECT_EQ(nativeToLocalPath("rel/x"), nativeToLocalPath(fsys::current_path().string() + "/rel/x"));
}

TEST(LocalPath, MappedDrivesWinByLongestFolder) {
  DriveMap drives;
  drives.map('c', "/tmp/x/");
  drives.map('D', "/tmp/x/deep");
  EXPECT_EQ(drives.toNative("C:\\a"), "/tmp/x/a");
  EXPECT_EQ(drives.toNative("c:\\"), "/tmp/x");
  EXPECT_EQ(drives.toNative("C:\\..\\..\\etc\\passwd"), "/tmp/x/etc/passwd") << "never above the drive";
  EXPECT_EQ(drives.toNative("d:\\f"), "/tmp/x/deep/f");
  EXPECT_EQ(drives.toLocal("/tmp/x/a/b"), "C:\\a\\b");
  EXPECT_EQ(drives.toLocal("/tmp/x/deep/f"), "D:\\f");
  EXPECT_EQ(drives.toLocal("/tmp/x"), "C:\\");
  EXPECT_EQ(drives.toLocal("/tmp/xy"), "Z:\\tmp\\xy");
}

// In code page 932 the trail byte of a double-byte character can be the byte
// of "\\" (or "|"): a path splits into names on whole characters only.
TEST(LocalPath, DoubleByteCharactersEndingInABackslashByteStayWhole) {
  test::ScopedCodePage page(932);
  struct Case {
    std::string local, native;
  };
  const Case cases[] = {
      {"Z:\\\x83\x5C\x83\x74\x83\x67.txt", "/\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88.txt"},  // ソフト.txt
      {"Z:\\\x95\x5C\\\x94\x5C", "/\xE8\xA1\xA8/\xE8\x83\xBD"},                                  // 表\能
      {"Z:\\a\x83\x5C\\b", "/a\xE3\x82\xBD/b"},                                                       // aソ\b
      {"Z:\\\x83\x5C\x83\x5C", "/\xE3\x82\xBD\xE3\x82\xBD"},                                        // ソソ
      {"Z:\\\x83\x7C", "/\xE3\x83\x9D"},                                                                // ポ: a trail byte "|"
  };
  for (const auto& c : cases) {
    EXPECT_EQ(localToNativePath(c.local), c.native) << c.native;
    EXPECT_EQ(nativeToLocalPath(c.native), c.local) << c.native;
  }
  EXPECT_EQ(localToNativePath("Z:\\a|b"), std::nullopt) << "a real \"|\" is still refused";
}

class PosixFileSystemTest : public ::testing::Test {
 protected:
  test::NativeFs disk;
  FileSystem& fs = disk.fs();
};

TEST_F(PosixFileSystemTest, DriveLettersAreCaseInsensitiveAndZIsTheRoot) {
  ASSERT_TRUE(fs.writeText(disk.path("a.txt"), "via C:"));
  auto lower = disk.root();
  lower[0] = 'c';
  EXPECT_EQ(fs.readText(lower + "\\a.txt"), "via C:");
  auto viaZ = nativeToLocalPath((disk.nativeRoot() / "a.txt").string());
  EXPECT_EQ(viaZ.substr(0, 3), "Z:\\");
  EXPECT_EQ(fs.readText(viaZ), "via C:");
  viaZ[0] = 'z';
  EXPECT_EQ(fs.readText(viaZ), "via C:");
}

TEST_F(PosixFileSystemTest, PathsWithoutADriveFailCleanly) {
  for (const char* path : {"a.txt", "\\a.txt", "C:a.txt", "Q:\\a.txt", ""}) {
    EXPECT_FALSE(fs.writeText(path, "x")) << path;
    EXPECT_FALSE(fs.exists(path)) << path;
    EXPECT_FALSE(fs.createFolders(path)) << path;
    EXPECT_FALSE(fs.removeAll(path)) << path;
    EXPECT_FALSE(fs.walk(path, [](const WalkEntry&) { return true; })) << path;
  }
}

TEST_F(PosixFileSystemTest, NamesAreStoredAsUtf8) {
  ASSERT_TRUE(fs.createFolders(disk.path("\xC4rger")));
  ASSERT_TRUE(fs.writeText(disk.path("\xC4rger\\caf\xE9 \x80.txt"), "x"));
  EXPECT_EQ(readNative(disk.nativeRoot() / "\xC3\x84rger" / "caf\xC3\xA9 \xE2\x82\xAC.txt"), "x");

  std::vector<std::string> listed;
  ASSERT_TRUE(fs.walk(disk.root(), [&](const WalkEntry& e) {
    EXPECT_EQ(e.refusal, "");
    listed.push_back(e.path);
    return true;
  }));
  EXPECT_NE(std::find(listed.begin(), listed.end(), disk.path("\xC4rger\\caf\xE9 \x80.txt")), listed.end());
}

// Names that cannot be local text, or that Windows cannot hold, are walked as
// refused entries with the reason; they are never turned into another path.
TEST_F(PosixFileSystemTest, NamesThatCannotBeSynchronisedAreWalkedAsRefused) {
  struct Case {
    const char* native;
    std::string shown;
    std::string refusal;
  } cases[] = {
      {"\xE4\xB8\xAD.txt", "\\u4e2d.txt", "characters outside the code page 1252"},
      {"\xF0\x9F\x98\x80", "\\ud83d\\ude00", "characters outside the code page 1252"},
      {"back\\slash.txt", "back\\u005cslash.txt", "a backslash in a name"},  // not read as a separator
      {"a:b", "a:b", "a drive letter or colon"},
      {"dot.", "dot.", "a name ending in a dot or blank"},
      {"NUL.txt", "NUL.txt", "a device name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.native);
    fsys::create_directories(disk.nativeRoot() / "one");
    std::ofstream(disk.nativeRoot() / "one" / c.native) << "x";
    std::vector<WalkEntry> walked;
    ASSERT_TRUE(fs.walk(disk.path("one"), [&](const WalkEntry& e) {
      walked.push_back(e);
      return true;
    }));
    ASSERT_EQ(walked.size(), 1u);
    EXPECT_EQ(walked[0].path, disk.path("one") + "\\" + c.shown);
    EXPECT_EQ(walked[0].refusal, c.refusal);
    EXPECT_EQ(walked[0].type, EntryType::Other);
    fsys::remove_all(disk.nativeRoot() / "one");
  }
}

TEST_F(PosixFileSystemTest, AttributesAreKeptAsWineDoes) {
  ASSERT_TRUE(fs.writeText(disk.path("f"), "f"));
  ASSERT_TRUE(fs.setAttributes(disk.path("f"), true, false));
  EXPECT_EQ(xattr(disk.nativeRoot() / "f"), "0x2");
  ASSERT_TRUE(fs.setAttributes(disk.path("f"), true, true));
  EXPECT_EQ(xattr(disk.nativeRoot() / "f"), "0x6");
  ASSERT_TRUE(fs.setAttributes(disk.path("f"), false, false));
  EXPECT_EQ(xattr(disk.nativeRoot() / "f"), "<none>");

  // Wine's own value, with bits the port does not report (archive, read-only).
  auto native = (disk.nativeRoot() / "f").string();
  ASSERT_EQ(setxattr(native.c_str(), "user.DOSATTRIB", "0x25", 4, 0), 0);
  EXPECT_EQ(fs.attributes(disk.path("f")), std::make_pair(false, true));
}

TEST_F(PosixFileSystemTest, AttributesWithoutExtendedAttributesLiveInMemory) {
  PosixFileSystem plain(PosixFileSystem::Options{.useXattrs = false});
  plain.mapDrive('C', disk.nativeRoot().parent_path().string());
  ASSERT_TRUE(fs.writeText(disk.path("f"), "f"));
  ASSERT_TRUE(plain.setAttributes(disk.path("f"), true, true));
  EXPECT_EQ(xattr(disk.nativeRoot() / "f"), "<none>");
  EXPECT_EQ(plain.attributes(disk.path("f")), std::make_pair(true, true));
  ASSERT_TRUE(plain.rename(disk.path("f"), disk.path("g")));
  EXPECT_EQ(plain.attributes(disk.path("g")), std::make_pair(true, true));
  ASSERT_TRUE(plain.remove(disk.path("g")));
  ASSERT_TRUE(fs.writeText(disk.path("g"), "new file, perhaps the same inode"));
  EXPECT_EQ(plain.attributes(disk.path("g")), std::make_pair(false, false));
}

// Below the guarded folder (NativeFs guards its root) no operation follows,
// replaces, moves or removes a link, at the end of a path or on the way.
TEST_F(PosixFileSystemTest, LinksBelowTheGuardedFolderAreNeverFollowed) {
  const fsys::path outside = disk.nativeRoot().parent_path() / "outside";
  fsys::create_directories(outside / "sub");
  std::ofstream(outside / "secret.txt") << "secret";
  fsys::create_directory_symlink(outside, disk.nativeRoot() / "dir");
  fsys::create_symlink(outside / "secret.txt", disk.nativeRoot() / "file");
  fsys::create_symlink(outside / "nothing", disk.nativeRoot() / "dangling");
  ASSERT_TRUE(fs.writeText(disk.path("plain.txt"), "plain"));
  const std::string through = disk.path("dir\\secret.txt");
  for (const char* name : {"dir", "file", "dangling", "dir\\secret.txt", "dir\\sub\\x"}) {
    SCOPED_TRACE(name);
    const std::string p = disk.path(name);
    EXPECT_EQ(fs.status(p).type, EntryType::Link);
    EXPECT_EQ(fs.openRead(p), nullptr);
    EXPECT_EQ(fs.openWrite(p), nullptr);
    EXPECT_EQ(fs.openAppend(p), nullptr);
    EXPECT_FALSE(fs.remove(p));
    EXPECT_FALSE(fs.removeAll(p));
    EXPECT_FALSE(fs.rename(p, disk.path("moved")));
    EXPECT_FALSE(fs.rename(disk.path("plain.txt"), p)) << "a link is never replaced";
    EXPECT_FALSE(fs.setAttributes(p, true, false));
    EXPECT_FALSE(fs.walk(p, [](const WalkEntry&) { return true; }));
  }
  EXPECT_FALSE(fs.createFolders(disk.path("dir\\new")));
  EXPECT_FALSE(fs.createFolders(disk.path("dir")));
  EXPECT_EQ(fs.status(through + ".new").type, EntryType::Link) << "a path through a link";
  EXPECT_EQ(fs.readText(disk.path("plain.txt")), "plain");
  EXPECT_FALSE(fsys::exists(outside / "new"));
  EXPECT_FALSE(fsys::exists(disk.nativeRoot() / "moved"));
  EXPECT_EQ(readNative(outside / "secret.txt"), "secret");
  EXPECT_TRUE(fsys::is_symlink(disk.nativeRoot() / "dir") && fsys::is_symlink(disk.nativeRoot() / "file"));

  std::map<std::string, EntryType> walked;
  ASSERT_TRUE(fs.walk(disk.root(), [&](const WalkEntry& e) {
    walked[e.path] = e.type;
    return true;
  }));
  const std::map<std::string, EntryType> expected = {{disk.path("dir"), EntryType::Link},
                                                     {disk.path("file"), EntryType::Link},
                                                     {disk.path("dangling"), EntryType::Link},
                                                     {disk.path("plain.txt"), EntryType::File}};
  EXPECT_EQ(walked, expected);

  // A folder holding a link is removed without the link (and so stays).
  ASSERT_TRUE(fs.createFolders(disk.path("holder")));
  fsys::create_directory_symlink(outside, disk.nativeRoot() / "holder" / "inner");
  EXPECT_FALSE(fs.removeAll(disk.path("holder")));
  EXPECT_TRUE(fsys::is_symlink(disk.nativeRoot() / "holder" / "inner"));
  EXPECT_TRUE(fsys::exists(outside / "secret.txt"));
}

// A folder swapped for a link while it is being walked is not entered: the
// walk opens each folder relative to the one above it, never by its path text.
TEST_F(PosixFileSystemTest, AFolderSwappedForALinkDuringAWalkIsNotEntered) {
  const fsys::path outside = disk.nativeRoot().parent_path() / "outside";
  fsys::create_directories(outside);
  std::ofstream(outside / "secret.txt") << "secret";
  ASSERT_TRUE(fs.createFolders(disk.path("sub")));
  ASSERT_TRUE(fs.writeText(disk.path("sub\\mine.txt"), "mine"));
  std::vector<std::string> walked;
  bool completed = fs.walk(disk.root(), [&](const WalkEntry& e) {
    walked.push_back(e.path);
    if (e.path == disk.path("sub")) {  // visited before its content: swap it now
      fsys::rename(disk.nativeRoot() / "sub", disk.nativeRoot() / "sub.old");
      fsys::create_directory_symlink(outside, disk.nativeRoot() / "sub");
    }
    return true;
  });
  EXPECT_FALSE(completed) << "the folder could not be entered";
  EXPECT_EQ(walked, (std::vector<std::string>{disk.path("sub")}));
}

// Outside the guarded folder the system resolves paths: a configuration file
// kept as a link elsewhere is read, and the guarded folder may itself be a link.
TEST_F(PosixFileSystemTest, LinksOutsideTheGuardedFolderAreFollowed) {
  const fsys::path base = disk.nativeRoot().parent_path();
  std::ofstream(base / "real.cfg") << "cfg";
  fsys::create_symlink(base / "real.cfg", base / "filesync.cfg");
  fsys::create_directory_symlink(disk.nativeRoot(), base / "alias");
  ASSERT_TRUE(fs.writeText(disk.path("a.txt"), "a"));
  EXPECT_EQ(fs.readText("C:\\filesync.cfg"), "cfg");
  EXPECT_TRUE(fs.isFile("C:\\filesync.cfg"));
  fs.guardFolder("C:\\alias");
  EXPECT_EQ(fs.readText("C:\\alias\\a.txt"), "a");
  EXPECT_TRUE(fs.isFolder("C:\\alias"));
  fs.guardFolder("");
  fsys::create_symlink(disk.nativeRoot() / "a.txt", disk.nativeRoot() / "b.txt");
  EXPECT_EQ(fs.readText(disk.path("b.txt")), "a") << "nothing guarded: followed as before";
}

// FIFOs (and sockets and devices) are never opened: a FIFO without a writer
// would block an open for reading for ever.
TEST_F(PosixFileSystemTest, SpecialFilesAreNeverOpened) {
  ASSERT_EQ(::mkfifo((disk.nativeRoot() / "pipe").c_str(), 0600), 0);
  const std::string pipe = disk.path("pipe");
  EXPECT_EQ(fs.status(pipe).type, EntryType::Other);
  EXPECT_EQ(fs.openRead(pipe), nullptr);
  EXPECT_EQ(fs.openWrite(pipe), nullptr);
  EXPECT_EQ(fs.openAppend(pipe), nullptr);
  EXPECT_EQ(fs.readText("Z:\\dev\\zero"), std::nullopt) << "a device, outside the guarded folder too";
  std::vector<EntryType> types;
  ASSERT_TRUE(fs.walk(disk.root(), [&](const WalkEntry& e) {
    types.push_back(e.type);
    return true;
  }));
  EXPECT_EQ(types, std::vector<EntryType>{EntryType::Other});
}

}  // namespace
}  // namespace kq
#endif
