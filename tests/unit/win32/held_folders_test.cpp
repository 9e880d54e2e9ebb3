#ifdef _WIN32
// The Windows file system holds the folders on the way to a name open without
// FILE_SHARE_DELETE while it works on that name: none of them can be renamed,
// removed or put aside for a link or a junction in between, and the file
// system's own work below them is not hindered.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>

#include "platform/win32/ansi_text.h"
#include "platform/win32/file_system_win32.h"
#include "support/native_fs.h"

namespace kq {
namespace {

class HeldFoldersTest : public ::testing::Test {
 protected:
  HeldFoldersTest() {
    fs.guardFolder(disk.root());
    EXPECT_TRUE(fs.createFolders(disk.path("a\\b")));
    EXPECT_TRUE(fs.writeText(disk.path("a\\b\\f.txt"), "f"));
  }
  std::wstring wide(const std::string& relative) const { return ansiToWide(disk.path(relative)); }

  test::NativeFs disk;
  Win32FileSystem fs;
};

TEST_F(HeldFoldersTest, NoFolderOnTheWayCanBeMovedOrRemovedWhileHeld) {
  HeldFolders held;
  ASSERT_TRUE(held.hold(ansiToWide(disk.root()), wide("a\\b\\f.txt")));
  EXPECT_EQ(held.count(), 3u);  // the guarded folder, a and b; not the file itself
  const struct {
    const char* from;
    const char* to;
  } swaps[] = {{"a", "a-aside"}, {"a\\b", "b-aside"}, {"a\\b", "a\\b-aside"}};
  for (const auto& s : swaps) {
    SetLastError(0);
    EXPECT_FALSE(MoveFileExW(wide(s.from).c_str(), wide(s.to).c_str(), 0)) << s.from;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << s.from;
  }
  EXPECT_FALSE(RemoveDirectoryW(wide("a\\b").c_str()));
  // The name itself stays free: the work on it goes on.
  EXPECT_TRUE(fs.rename(disk.path("a\\b\\f.txt"), disk.path("a\\b\\g.txt")));
  EXPECT_EQ(fs.readText(disk.path("a\\b\\g.txt")).value_or("<none>"), "f");
  held.release();
  EXPECT_TRUE(MoveFileExW(wide("a").c_str(), wide("a-aside").c_str(), 0));
}

TEST_F(HeldFoldersTest, HoldingStopsAtTheFirstMissingName) {
  HeldFolders held;
  EXPECT_TRUE(held.hold(ansiToWide(disk.root()), wide("a\\missing\\deeper\\f.txt")));
  EXPECT_EQ(held.count(), 2u);
  HeldFolders onAFile;
  EXPECT_FALSE(onAFile.hold(ansiToWide(disk.root()), wide("a\\b\\f.txt\\x"))) << "a file on the way";
}

// Whether a path lies below the guarded folder does not depend on which of
// the two takes the "\\?\" form: a long path below a short guarded folder is guarded.
TEST(BelowFolder, ComparedAsTextWithoutCaseAndWithoutTheLongForm) {
  const std::wstring longTail(300, L'n');
  const struct {
    std::wstring path;
    std::wstring folder;
    bool below;
  } cases[] = {
      {L"C:\\Sync\\a", L"C:\\Sync", true},
      {L"c:\\sync\\A", L"C:\\Sync\\", true},
      {L"C:\\Sync", L"C:\\Sync", false},
      {L"C:\\Syncing\\a", L"C:\\Sync", false},
      {L"\\\\?\\C:\\Sync\\" + longTail, L"C:\\Sync", true},
      {L"C:\\Sync\\a", L"\\\\?\\C:\\Sync", true},
      {L"\\\\?\\UNC\\server\\share\\a", L"\\\\server\\share", true},
      {L"\\\\?\\C:\\Other\\" + longTail, L"C:\\Sync", false},
      {L"C:\\Sync\\a", L"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isBelowFolder(c.path, c.folder), c.below) << c.path.substr(0, 40);
}

// The file system's own work below held folders is not hindered by its holds.
TEST_F(HeldFoldersTest, EveryOperationStillWorksInTheGuardedFolder) {
  ASSERT_TRUE(fs.createFolders(disk.path("a\\b\\c\\d")));
  ASSERT_TRUE(fs.writeText(disk.path("a\\b\\c\\d\\x.txt"), "x"));
  ASSERT_TRUE(fs.appendText(disk.path("a\\b\\c\\d\\x.txt"), "y"));
  EXPECT_EQ(fs.readText(disk.path("a\\b\\c\\d\\x.txt")).value_or("<none>"), "xy");
  EXPECT_TRUE(fs.setAttributes(disk.path("a\\b\\c\\d\\x.txt"), true, false));
  EXPECT_EQ(fs.attributes(disk.path("a\\b\\c\\d\\x.txt")), std::make_pair(true, false));
  EXPECT_TRUE(fs.rename(disk.path("a\\b\\c"), disk.path("a\\c")));
  std::set<std::string> seen;
  EXPECT_TRUE(fs.walk(disk.path("a"), [&](const WalkEntry& e) {
    seen.insert(e.path.substr(disk.root().size()));
    return true;
  }));
  EXPECT_EQ(seen, (std::set<std::string>{"\\a\\b", "\\a\\b\\f.txt", "\\a\\c", "\\a\\c\\d", "\\a\\c\\d\\x.txt"}));
  EXPECT_TRUE(fs.remove(disk.path("a\\b\\f.txt")));
  EXPECT_TRUE(fs.removeAll(disk.path("a\\c")));
  EXPECT_FALSE(fs.exists(disk.path("a\\c")));
  EXPECT_TRUE(fs.remove(disk.path("a\\b")));
}

// Where the platform makes symbolic links (Windows with the right; Wine 8's
// CreateSymbolicLinkW answers TRUE and makes nothing), a folder link on the way
// stops every operation and a file link is never opened.
TEST_F(HeldFoldersTest, ALinkOnTheWayIsNeverFollowed) {
  ASSERT_TRUE(fs.createFolders(disk.path("outside")));
  ASSERT_TRUE(fs.writeText(disk.path("outside\\o.txt"), "outside"));
  const bool dir = CreateSymbolicLinkW(wide("a\\link").c_str(), wide("outside").c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
  if (!dir || GetFileAttributesW(wide("a\\link").c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "no symbolic link made here (CreateSymbolicLinkW " << dir << ", error " << GetLastError() << ")";
  HeldFolders held;
  EXPECT_FALSE(held.hold(ansiToWide(disk.root()), wide("a\\link\\o.txt")));
  EXPECT_EQ(fs.status(disk.path("a\\link\\o.txt")).type, EntryType::Link);
  EXPECT_FALSE(fs.readText(disk.path("a\\link\\o.txt")).has_value());
  EXPECT_FALSE(fs.writeText(disk.path("a\\link\\new.txt"), "x"));
  EXPECT_FALSE(fs.createFolders(disk.path("a\\link\\sub")));
  EXPECT_FALSE(fs.removeAll(disk.path("a\\link")));
  EXPECT_FALSE(fs.exists(disk.path("outside\\new.txt")));
  EXPECT_TRUE(fs.isFile(disk.path("outside\\o.txt")));
}

// Under Wine the profile's Desktop of a new prefix is a Linux link to the home
// folder, which Wine shows as a reparse point: the one link a Windows test can
// meet there. Below a guarded profile folder it is never followed.
TEST(HeldFoldersWine, TheProfilesLinkedDesktopIsNeverFollowed) {
  wchar_t buffer[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"USERPROFILE", buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) GTEST_SKIP() << "no USERPROFILE";
  const std::wstring profile = buffer, desktop = profile + L"\\Desktop";
  DWORD attrs = GetFileAttributesW(desktop.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_REPARSE_POINT))
    GTEST_SKIP() << "the profile's Desktop is no link here";
  Win32FileSystem fs;
  const std::string local = wideToAnsi(profile);
  fs.guardFolder(local);
  const std::string probe = local + "\\Desktop\\kq-link-probe.txt";
  HeldFolders held;
  EXPECT_FALSE(held.hold(profile, desktop + L"\\kq-link-probe.txt"));
  EXPECT_EQ(fs.status(local + "\\Desktop").type, EntryType::Link);
  EXPECT_EQ(fs.status(probe).type, EntryType::Link);
  EXPECT_FALSE(fs.writeText(probe, "never"));
  EXPECT_FALSE(fs.createFolders(local + "\\Desktop\\kq-link-probe"));
  EXPECT_FALSE(fs.removeAll(local + "\\Desktop"));
  EXPECT_FALSE(fs.walk(local + "\\Desktop", [](const WalkEntry&) { return true; }));
  const bool leaked = GetFileAttributesW((desktop + L"\\kq-link-probe.txt").c_str()) != INVALID_FILE_ATTRIBUTES;
  DeleteFileW((desktop + L"\\kq-link-probe.txt").c_str());
  RemoveDirectoryW((desktop + L"\\kq-link-probe").c_str());
  EXPECT_FALSE(leaked) << "written through the link";
  EXPECT_NE(GetFileAttributesW(desktop.c_str()), INVALID_FILE_ATTRIBUTES) << "the link itself is kept";
}

}  // namespace
}  // namespace kq
#endif
