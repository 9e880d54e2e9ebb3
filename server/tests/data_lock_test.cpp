// A data folder made by an earlier kqsyncd, under umask 022, left the keys,
// indexes, versions and client logs readable by other users: the server
// tightens them when it takes the folder, says so in one line, and never
// follows a link while doing it.
#include "data_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace kqs {
namespace {

namespace fs = std::filesystem;

unsigned modeOf(const fs::path& p) {
  struct stat st{};
  EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
  return st.st_mode & 07777;
}

class OldDataFolder : public ::testing::Test {
 protected:
  OldDataFolder() {
    char pattern[] = "/tmp/kqsyncd-data-XXXXXX";
    root_ = ::mkdtemp(pattern);
    data_ = root_ / "data";
    mode_t old = ::umask(022);
    for (const char* folder : {"index", "logs/1234", "versions/1234/files", "store"}) fs::create_directories(data_ / folder);
    for (const char* file : {"accounts.json", "index/1234.sqlite", "index/1234.sqlite-wal", "logs/1234/Filesync.log",
                             "versions/1234/files/1"})
      std::ofstream(data_ / file) << "x";
    fs::create_directories(root_ / "elsewhere");
    std::ofstream(root_ / "elsewhere" / "public.txt") << "public";
    fs::create_symlink(root_ / "elsewhere", data_ / "versions" / "1234" / "link");
    ::umask(old);
  }
  ~OldDataFolder() override { fs::remove_all(root_); }
  fs::path root_, data_;
};

TEST_F(OldDataFolder, ModesAreTightenedOnceWithOneLine) {
  ASSERT_EQ(modeOf(data_ / "index" / "1234.sqlite"), 0644u);
  {
    DataLock lock(data_.string());
    const std::string note = lock.tightenedNote();
    EXPECT_EQ(note.rfind("the data folder " + data_.string() + " held 12 item(s) open to other users, now its "
                         "owner's only (0700 folders, 0600 files): ., accounts.json, index, ", 0), 0u) << note;
    EXPECT_NE(note.find(" and 7 more"), std::string::npos) << note;
  }
  for (const char* folder : {"", "index", "logs", "logs/1234", "versions", "versions/1234", "versions/1234/files"})
    EXPECT_EQ(modeOf(data_ / folder), 0700u) << folder;
  for (const char* file : {"accounts.json", "index/1234.sqlite", "index/1234.sqlite-wal", "logs/1234/Filesync.log",
                           "versions/1234/files/1"})
    EXPECT_EQ(modeOf(data_ / file), 0600u) << file;
  // Outside the named places the folder's own mode does the work; a link's target is never touched.
  EXPECT_EQ(modeOf(data_ / "store"), 0755u);
  EXPECT_EQ(modeOf(root_ / "elsewhere"), 0755u);
  EXPECT_EQ(modeOf(root_ / "elsewhere" / "public.txt"), 0644u);

  DataLock again(data_.string());
  EXPECT_EQ(again.tightenedNote(), "");
}

// A store set outside the data folder is not covered by the data folder's
// mode: the server closes the store folder itself, which closes what is below.
TEST_F(OldDataFolder, AStoreOutsideTheDataFolderIsClosedToOtherUsers) {
  const fs::path outside = root_ / "outside-store";
  mode_t old = ::umask(022);
  fs::create_directories(outside / "docs");
  std::ofstream(outside / "docs" / "a.txt") << "a";
  fs::create_directories(root_ / "linked-target");
  fs::create_symlink(root_ / "linked-target", root_ / "linked-store");
  ::umask(old);
  struct Case {
    fs::path store;
    std::string note;   // "" when nothing is to change
    fs::path checked;   // the folder whose mode is then checked
    unsigned mode;
  } cases[] = {
      {outside, "the store folder " + outside.string() +
                    " of contract 1234 was open to other users, now its owner's only (0700)",
       outside, 0700u},
      {outside, "", outside, 0700u},  // the second start has nothing to say
      {data_ / "store", "", data_ / "store", 0755u},  // inside: the data folder's mode covers it
      {root_ / "linked-store", "the store folder " + (root_ / "linked-store").string() +
                                   " of contract 1234 was open to other users, now its owner's only (0700)",
       root_ / "linked-target", 0700u},  // the folder the administrator named, reached as the system reaches it
      {root_ / "missing", "", root_, modeOf(root_)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tightenStoreFolder(c.store.string(), "1234", data_.string()), c.note) << c.store;
    EXPECT_EQ(modeOf(c.checked), c.mode) << c.store;
  }
  // What lies below keeps its modes: nobody else can reach it any more.
  EXPECT_EQ(modeOf(outside / "docs" / "a.txt"), 0644u);
}

TEST(NewDataFolder, NothingToTightenInAFolderKqsyncdMadeItself) {
  char pattern[] = "/tmp/kqsyncd-data-XXXXXX";
  fs::path root = ::mkdtemp(pattern);
  mode_t old = ::umask(077);
  {
    DataLock lock((root / "data").string());
    EXPECT_EQ(lock.tightenedNote(), "");
  }
  ::umask(old);
  fs::remove_all(root);
}

}  // namespace
}  // namespace kqs
