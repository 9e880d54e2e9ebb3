// The store's safety nets: the marker file, scans that stop instead of
// deleting, the identity of files on disk, deep folders and the index format
// of earlier releases.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "store.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

constexpr std::int64_t kNow = 1700000000;

using test::readFile;
using test::writeFile;
class StoreSafetyTest : public ::testing::Test {
 public:
  void SetUp() override {
    dir_ = test::scratchFolder("kqsyncd-safety");
    fs::create_directories(dir_);
  }
  void TearDown() override {
    store_.reset();
    fs::remove_all(dir_);
  }
  void open() {
    store_.reset();
    store_ = std::make_unique<Store>(root(), (dir_ / "index.sqlite").string(),
                                     [this](const std::string& l) { log_.push_back(l); }, (dir_ / "versions").string());
  }
  std::string root() const { return (dir_ / "store").string(); }
  fs::path disk(const std::string& p) { return dir_ / "store" / p.substr(1); }
  int logged(const std::string& text) {
    int n = 0;
    for (auto& l : log_) n += l.find(text) != std::string::npos ? 1 : 0;
    return n;
  }
  void put(const std::string& path, const std::string& data) {
    auto file = store_->beginIncoming();
    ASSERT_TRUE(file->write(data));
    store_->accept(path, *file, FetchMode::ClientChanged, kNow - 100, kNow);
  }
  int liveEntries() {
    int n = 0;
    for (auto& [p, e] : store_->index().entries()) n += e.deleted ? 0 : 1;
    return n;
  }

  fs::path dir_;
  std::unique_ptr<Store> store_;
  std::vector<std::string> log_;
};

TEST_F(StoreSafetyTest, MarkerIsAdoptedOnlyWhereTheStoreIsEvidentlyRight) {
  struct Case {
    const char* name;
    std::function<void(StoreSafetyTest&)> arrange;  // runs with the store open
    bool markerAfter;
    const char* problem;  // logged by the first cycle; "" when it runs
  } cases[] = {
      {"a new store folder is created", [](StoreSafetyTest&) {}, true, ""},
      {"an existing store with files and a fresh index",
       [](StoreSafetyTest& t) { writeFile(t.disk("/a.txt"), "a"); }, true, ""},
      {"an empty folder of a store that held files (a disk not mounted)",
       [](StoreSafetyTest& t) {
         writeFile(t.disk("/a.txt"), "a");
         ASSERT_TRUE(t.store_->scan(kNow));
         fs::remove_all(t.root());
         fs::create_directories(t.root());
       },
       false, "no marker file .kqsyncd~store"},
      {"a missing folder of a store that held files",
       [](StoreSafetyTest& t) {
         writeFile(t.disk("/a.txt"), "a");
         ASSERT_TRUE(t.store_->scan(kNow));
         fs::remove_all(t.root());
       },
       false, "missing"},
      {"a store whose marker was seen once and then lost",
       [](StoreSafetyTest& t) {
         writeStoreMarker(t.root());
         t.store_->adoptMarker();
         fs::remove(t.root() + kStoreMarker);
         writeFile(t.disk("/a.txt"), "a");
       },
       false, "no marker file .kqsyncd~store"},
      {"a file where the store folder should be",
       [](StoreSafetyTest& t) {
         writeFile(t.disk("/a.txt"), "a");
         ASSERT_TRUE(t.store_->scan(kNow));
         fs::remove_all(t.root());
         writeFile(t.root(), "not a folder");
       },
       false, "not a folder"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    store_.reset();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    log_.clear();
    if (std::string(c.name) != "a new store folder is created") fs::create_directories(root());
    open();
    c.arrange(*this);
    store_->adoptMarker();
    EXPECT_EQ(fs::exists(root() + kStoreMarker), c.markerAfter);
    auto ran = store_->prepareCycle(kNow);
    EXPECT_EQ(ran.has_value(), std::string(c.problem).empty());
    if (!ran) {
      EXPECT_EQ(logged("store " + root() + " is not available (" + c.problem +
                       "); this contract is not synchronised until it is"),
                1);
      auto known = store_->index().entry("/a.txt");
      if (known) {
        EXPECT_FALSE(known->deleted);  // nothing was tombstoned
      }
    }
  }
}

TEST_F(StoreSafetyTest, StoreMissingForAWhileDeletesNothingAndIsLoggedOnce) {
  fs::create_directories(root());
  open();
  store_->adoptMarker();
  writeFile(disk("/docs/a.txt"), "a");
  writeFile(disk("/b.txt"), "b");
  ASSERT_TRUE(store_->prepareCycle(kNow));
  ASSERT_EQ(liveEntries(), 3);
  fs::rename(root(), dir_ / "away");
  for (int cycle = 0; cycle < 3; ++cycle) EXPECT_FALSE(store_->prepareCycle(kNow + cycle));
  EXPECT_EQ(logged("is not available (missing)"), 1);
  EXPECT_EQ(liveEntries(), 3);
  // Back, but only as an empty folder (the mount point without its disk): still skipped.
  fs::create_directories(root());
  EXPECT_FALSE(store_->prepareCycle(kNow + 5));
  EXPECT_EQ(logged("is not available (no marker file .kqsyncd~store)"), 1);
  fs::remove(root());
  fs::rename(dir_ / "away", root());
  EXPECT_EQ(store_->prepareCycle(kNow + 10), 0);
  EXPECT_EQ(store_->prepareCycle(kNow + 11), 0);
  EXPECT_EQ(logged("store " + root() + " is available again; synchronisation resumes"), 1);
  EXPECT_EQ(liveEntries(), 3);
  EXPECT_EQ(logged("picked up deletion"), 0);
}

// makeDeepFolder nests folders with long names below parent until the path is
// longer than the system allows for one call; returns the names, top first.
std::vector<std::string> makeDeepFolder(const fs::path& parent) {
  std::vector<std::string> names;
  int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY);
  std::size_t length = parent.string().size();
  while (length <= PATH_MAX) {
    std::string name(200, static_cast<char>('a' + names.size() % 26));
    EXPECT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
    int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
    names.push_back(name);
    length += name.size() + 1;
  }
  ::close(fd);
  return names;
}

void removeDeepFolder(const fs::path& parent, const std::vector<std::string>& names) {
  std::vector<int> fds{::open(parent.c_str(), O_RDONLY | O_DIRECTORY)};
  for (std::size_t i = 0; i + 1 < names.size(); ++i) fds.push_back(::openat(fds.back(), names[i].c_str(), O_RDONLY));
  for (std::size_t i = names.size(); i-- > 0;) {
    EXPECT_EQ(::unlinkat(fds[i], names[i].c_str(), AT_REMOVEDIR), 0);
    ::close(fds[i]);
  }
}

TEST_F(StoreSafetyTest, ScanThatCannotReadAFolderRecordsNothing) {
  fs::create_directories(root());
  open();
  store_->adoptMarker();
  writeFile(disk("/keep.txt"), "k");
  writeFile(disk("/gone.txt"), "g");
  ASSERT_TRUE(store_->prepareCycle(kNow));
  fs::remove(disk("/gone.txt"));
  writeFile(disk("/new.txt"), "n");
  auto names = makeDeepFolder(root());
  EXPECT_THROW(store_->scan(kNow + 1), ScanError);
  EXPECT_FALSE(store_->prepareCycle(kNow + 2));
  EXPECT_FALSE(store_->prepareCycle(kNow + 3));
  EXPECT_EQ(logged("is not available (scan stopped: cannot read /" + names[0]), 1);
  auto e = store_->index().entries();
  EXPECT_FALSE(e.at("/gone.txt").deleted);  // the deletion waits for a whole scan
  EXPECT_EQ(e.count("/new.txt"), 0u);
  removeDeepFolder(root(), names);
  ASSERT_TRUE(store_->prepareCycle(kNow + 4));
  EXPECT_TRUE(store_->index().entries().at("/gone.txt").deleted);
  EXPECT_EQ(logged("is available again"), 1);
}

TEST_F(StoreSafetyTest, ScanSeesChangesThatKeepSizeAndSecond) {
  fs::create_directories(root());
  open();
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> edit;
  } cases[] = {
      {"same size, the old time set again",
       [](const fs::path& p) {
         struct stat st{};
         ::stat(p.c_str(), &st);
         writeFile(p, "AAAA");
         struct timespec times[2] = {st.st_atim, st.st_mtim};
         ::utimensat(AT_FDCWD, p.c_str(), times, 0);
       }},
      {"replaced by another file of the same size and time",
       [](const fs::path& p) {
         struct stat st{};
         ::stat(p.c_str(), &st);
         fs::path other = p.string() + ".new";
         writeFile(other, "BBBB");
         struct timespec times[2] = {st.st_atim, st.st_mtim};
         ::utimensat(AT_FDCWD, other.c_str(), times, 0);
         fs::rename(other, p);
       }},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(disk("/f.txt"), "aaaa");
    store_->scan(kNow);
    auto before = store_->index().entry("/f.txt").value();
    c.edit(disk("/f.txt"));
    EXPECT_EQ(store_->scan(kNow), 1);
    auto after = store_->index().entry("/f.txt").value();
    EXPECT_EQ(after.hash, sha256Hex(readFile(disk("/f.txt"))));
    EXPECT_GT(after.version, before.version);
  }
}

TEST_F(StoreSafetyTest, FileChangedWithinTheScansSecondIsHashedAgain) {
  fs::create_directories(root());
  open();
  writeFile(disk("/f.txt"), "data");
  store_->scan(kNow);
  auto e = store_->index().entry("/f.txt").value();
  EXPECT_TRUE(e.recheck);  // written in the second of the scan
  // A stale hash with the file's exact identity: only a file marked for a
  // second look is hashed again.
  for (bool recheck : {false, true}) {
    SCOPED_TRACE(recheck);
    StoreEntry stale = e;
    stale.hash = "stale";
    stale.recheck = recheck;
    store_->index().put(stale);
    store_->scan(kNow);
    EXPECT_EQ(store_->index().entry("/f.txt").value().hash, recheck ? sha256Hex("data") : "stale");
  }
}

TEST_F(StoreSafetyTest, DeepPathsGetEveryFolderOnce) {
  fs::create_directories(root());
  open();
  std::string path;
  for (int i = 0; i < 150; ++i) path += "/d" + std::to_string(i);
  put(path + "/file.txt", "deep");
  EXPECT_EQ(readFile(disk(path + "/file.txt")), "deep");
  auto entries = store_->index().entries();
  EXPECT_EQ(entries.size(), 151u);
  for (auto& [p, e] : entries) EXPECT_TRUE(e.isDir || p == path + "/file.txt") << p;
  // A folder made on disk but not yet in the index gets its entry; the ones above keep theirs.
  auto top = entries.at("/d0").version;
  fs::create_directories(disk(path + "/x/y"));
  put(path + "/x/y/z.txt", "z");
  entries = store_->index().entries();
  EXPECT_TRUE(entries.at(path + "/x").isDir);
  EXPECT_TRUE(entries.at(path + "/x/y").isDir);
  EXPECT_EQ(entries.at("/d0").version, top);
  // A file where a folder must go: refused, nothing changes.
  writeFile(disk("/blocker"), "b");
  auto file = store_->beginIncoming();
  ASSERT_TRUE(file->write("x"));
  EXPECT_THROW(store_->accept("/blocker/inner.txt", *file, FetchMode::ClientChanged, kNow, kNow), IndexError);
  EXPECT_EQ(readFile(disk("/blocker")), "b");
  EXPECT_EQ(store_->index().entries().count("/blocker/inner.txt"), 0u);
}

TEST_F(StoreSafetyTest, IndexOfAnEarlierReleaseIsMigrated) {
  fs::create_directories(root());
  writeFile(disk("/old.txt"), "bbbbb");
  struct stat st{};
  ASSERT_EQ(::stat(disk("/old.txt").c_str(), &st), 0);
  {  // the index format before file identities were kept, knowing other content of the same size and second
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ / "index.sqlite").c_str(), &db), SQLITE_OK);
    std::string sql =
        "CREATE TABLE entries(path TEXT PRIMARY KEY, is_dir INTEGER NOT NULL, size INTEGER NOT NULL,"
        " mtime INTEGER NOT NULL, hash TEXT NOT NULL, version INTEGER NOT NULL, deleted INTEGER NOT NULL,"
        " deleted_at INTEGER NOT NULL);"
        "CREATE TABLE meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL);"
        "INSERT INTO meta VALUES('version', 7);"
        "INSERT INTO entries VALUES('/old.txt', 0, 5, " + std::to_string(st.st_mtim.tv_sec) + ", '" +
        sha256Hex("aaaaa") + "', 7, 0, 0);";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  open();
  auto old = store_->index().entry("/old.txt").value();
  EXPECT_EQ(old.version, 7);
  EXPECT_EQ(old.inode, 0);
  EXPECT_EQ(store_->scan(kNow), 1);  // hashed again: the old index could not tell
  auto now = store_->index().entry("/old.txt").value();
  EXPECT_EQ(now.hash, sha256Hex("bbbbb"));
  EXPECT_EQ(now.inode, static_cast<std::int64_t>(st.st_ino));
  EXPECT_EQ(now.version, 8);
  open();  // opening again changes nothing
  EXPECT_EQ(store_->index().entry("/old.txt").value().hash, sha256Hex("bbbbb"));
}

}  // namespace
}  // namespace kqs
