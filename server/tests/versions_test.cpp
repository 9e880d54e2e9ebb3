// Previous versions: what keeps one, listing, restoring, expiry and the UTC text.
#include "versions.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "store.h"
#include "test_backends.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

constexpr std::int64_t kNow = 1700000000;  // 2023-11-14T22:13:20Z

using test::readFile;
// The versions' list in a SQLite file or in the PostgreSQL database, with the
// index of the same back end.
class VersionsTest : public ::testing::TestWithParam<test::Backend> {
 public:
  void SetUp() override {
    dir_ = test::scratchFolder("kqsyncd-versions");
    if (GetParam() == test::Backend::Postgres && test::testDatabaseUrl().empty()) return;  // failed above
    reopen();
  }
  void TearDown() override {
    store_.reset();
    fs::remove_all(dir_);
  }
  void reopen() {
    store_.reset();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    writeStoreMarker(root());
    backend_.open(GetParam(), dir_.string());  // a contract of its own each time
    store_ = std::make_unique<Store>(root(), backend_.index(), [](const std::string&) {},
                                     backend_.versions((dir_ / "versions").string()));
  }
  test::TestBackend backend_;
  std::string root() const { return (dir_ / "store").string(); }
  fs::path disk(const std::string& p) { return dir_ / "store" / p.substr(1); }
  AcceptResult put(const std::string& path, const std::string& data, FetchMode mode, std::int64_t mtime,
                   std::int64_t now = kNow) {
    auto file = store_->beginIncoming();
    EXPECT_TRUE(file->write(data));
    return store_->accept(path, *file, mode, mtime, now);
  }
  // kept lists path: content of every version.
  std::vector<std::string> kept(const std::string& under = "") {
    std::vector<std::string> out;
    for (auto& v : store_->versions().list(under)) {
      std::string content = readFile(store_->versions().contentPath(v));
      EXPECT_EQ(v.hash, sha256Hex(content)) << v.path;
      EXPECT_EQ(v.size, static_cast<std::int64_t>(content.size())) << v.path;
      out.push_back(v.path + ": " + content);
    }
    return out;
  }

  fs::path dir_;
  std::unique_ptr<Store> store_;
};

TEST_P(VersionsTest, OverwrittenAndDeletedFilesAreKept) {
  using Strings = std::vector<std::string>;
  struct Case {
    const char* name;
    std::function<void(VersionsTest&)> act;
    Strings versions;
    Strings conflictCopies;  // contents of the conflict copies left in the store
  } cases[] = {
      {"a client edit replaces the file",
       [](VersionsTest& t) { t.put("/a.txt", "client", FetchMode::ClientChanged, kNow - 10); }, {"/a.txt: old a"}, {}},
      {"a deletion", [](VersionsTest& t) { t.store_->remove("/a.txt", kNow); }, {"/a.txt: old a"}, {}},
      {"a folder deletion keeps every file below it",
       [](VersionsTest& t) { t.store_->remove("/f", kNow); }, {"/f/g/deep.txt: deep", "/f/in.txt: in"}, {}},
      {"the same content again replaces nothing",
       [](VersionsTest& t) { t.put("/a.txt", "old a", FetchMode::ClientChanged, kNow - 10); }, {}, {}},
      {"a conflict the client wins keeps the store's copy beside it",
       [](VersionsTest& t) { t.put("/a.txt", "client newer", FetchMode::Merge, kNow - 10); }, {}, {"old a"}},
      {"a conflict the store wins keeps the client's copy beside it",
       [](VersionsTest& t) { t.put("/a.txt", "client older", FetchMode::Merge, kNow - 5000); }, {}, {"client older"}},
      {"a rename onto a file keeps that file beside it",
       [](VersionsTest& t) { ASSERT_TRUE(t.store_->rename("/f/in.txt", "/a.txt", kNow)); }, {}, {"old a"}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    reopen();
    put("/a.txt", "old a", FetchMode::ClientChanged, kNow - 1000);
    put("/f/in.txt", "in", FetchMode::ClientChanged, kNow - 1000);
    put("/f/g/deep.txt", "deep", FetchMode::ClientChanged, kNow - 1000);
    c.act(*this);
    EXPECT_EQ(kept(), c.versions);
    Strings conflicts;
    for (auto& e : fs::recursive_directory_iterator(root())) {
      if (e.path().filename().string().find("(conflict ") != std::string::npos) conflicts.push_back(readFile(e.path()));
    }
    EXPECT_EQ(conflicts, c.conflictCopies);
  }
}

TEST_P(VersionsTest, ListIsByPathThenTimeAndRestoreTakesTheNewestAtOrBefore) {
  put("/b.txt", "b1", FetchMode::ClientChanged, kNow - 1000);
  put("/b.txt", "b2", FetchMode::ClientChanged, kNow - 900, kNow + 100);
  put("/b.txt", "b3", FetchMode::ClientChanged, kNow - 800, kNow + 200);
  put("/a/x.txt", "x1", FetchMode::ClientChanged, kNow - 1000);
  store_->remove("/a", kNow + 300);
  auto all = store_->versions().list("");
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(versionLine(all[0]), "2023-11-14T22:18:20Z\t2\t" + sha256Hex("x1") + "\t/a/x.txt");
  EXPECT_EQ(versionLine(all[1]), "2023-11-14T22:15:00Z\t2\t" + sha256Hex("b1") + "\t/b.txt");
  EXPECT_EQ(versionLine(all[2]), "2023-11-14T22:16:40Z\t2\t" + sha256Hex("b2") + "\t/b.txt");
  EXPECT_EQ(kept("/a"), std::vector<std::string>{"/a/x.txt: x1"});
  EXPECT_EQ(kept("/b.txt"), (std::vector<std::string>{"/b.txt: b1", "/b.txt: b2"}));
  EXPECT_TRUE(kept("/b").empty());  // a name that only begins like another is not below it

  struct Case {
    const char* path;
    std::int64_t at;
    const char* restored;  // nullptr: an error
  } cases[] = {
      {"/b.txt", kNow + 150, "b1"},        // superseded at +100: the newest at or before +150
      {"/b.txt", kNow + 200, "b2"},        // exactly at the time
      {"/b.txt", kNow + 99, nullptr},      // nothing that old
      {"/a/x.txt", kNow + 1000, "x1"},     // a deleted file comes back with its folder
      {"/missing.txt", kNow + 1000, nullptr},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.at));
    std::string before = fs::exists(disk(c.path)) ? readFile(disk(c.path)) : "(none)";
    auto count = store_->versions().list("").size();
    if (c.restored == nullptr) {
      EXPECT_THROW(restoreVersion(store_->versions(), root(), c.path, c.at, kNow + 500), std::runtime_error);
      continue;
    }
    auto r = restoreVersion(store_->versions(), root(), c.path, c.at, kNow + 500);
    EXPECT_FALSE(r.unchanged);
    EXPECT_EQ(readFile(disk(c.path)), c.restored);
    // What the store held is a version now.
    EXPECT_EQ(store_->versions().list("").size(), count + (before == "(none)" ? 0 : 1));
    if (before != "(none)") {
      EXPECT_EQ(store_->versions().latest(c.path, kNow + 500)->hash, sha256Hex(before));
    }
  }
  EXPECT_TRUE(restoreVersion(store_->versions(), root(), "/a/x.txt", kNow + 1000, kNow + 600).unchanged);
  EXPECT_TRUE(fs::is_empty(root() + kStoreTempFolder));
  // The next scan takes the restored files like any edit in the store.
  EXPECT_GE(store_->scan(kNow + 700), 2);
  EXPECT_FALSE(store_->index().entry("/a/x.txt")->deleted);
  // Nothing goes into a store that is not there.
  fs::remove(root() + kStoreMarker);
  EXPECT_THROW(restoreVersion(store_->versions(), root(), "/b.txt", kNow + 1000, kNow + 800), std::runtime_error);
}

TEST_P(VersionsTest, ExpiredVersionsAreRemoved) {
  put("/old.txt", "1", FetchMode::ClientChanged, kNow - 1000);
  store_->remove("/old.txt", kNow - 31 * 86400);
  put("/new.txt", "2", FetchMode::ClientChanged, kNow - 1000);
  store_->remove("/new.txt", kNow - 29 * 86400);
  auto old = store_->versions().list("/old.txt").at(0);
  EXPECT_EQ(store_->versions().prune(kNow), 1);
  EXPECT_EQ(kept(), std::vector<std::string>{"/new.txt: 2"});
  EXPECT_FALSE(fs::exists(store_->versions().contentPath(old)));
  auto shorter = backend_.versions((dir_ / "versions").string(), 10);
  EXPECT_EQ(shorter->prune(kNow), 1);
  EXPECT_TRUE(shorter->list("").empty());
  // A running store removes them at its first cycle and then once a day.
  put("/c.txt", "3", FetchMode::ClientChanged, kNow - 1000);
  store_->remove("/c.txt", kNow - 30 * 86400 + 10);  // expires 10 s after kNow
  ASSERT_TRUE(store_->prepareCycle(kNow));
  ASSERT_TRUE(store_->prepareCycle(kNow + 3600));
  EXPECT_EQ(kept(), std::vector<std::string>{"/c.txt: 3"});
  ASSERT_TRUE(store_->prepareCycle(kNow + 86400));
  EXPECT_TRUE(kept().empty());
}

TEST_P(VersionsTest, VersionsOnAnotherDiskAreCopies) {
  fs::path elsewhere = fs::path("/dev/shm") / ("kqsyncd-versions-" + std::to_string(::getpid()));
  struct stat here{}, there{};
  if (::stat("/dev/shm", &there) != 0 || ::stat(dir_.c_str(), &here) != 0 || here.st_dev == there.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  fs::remove_all(elsewhere);
  {
    store_.reset();
    Store store(root(), backend_.index(), [](const std::string&) {}, backend_.versions(elsewhere.string()));
    auto file = store.beginIncoming();
    ASSERT_TRUE(file->write("on the store's disk"));
    store.accept("/x.txt", *file, FetchMode::ClientChanged, kNow - 10, kNow);
    store.remove("/x.txt", kNow);
    auto versions = store.versions().list("");
    ASSERT_EQ(versions.size(), 1u);
    EXPECT_EQ(readFile(store.versions().contentPath(versions[0])), "on the store's disk");
    EXPECT_EQ(versions[0].hash, sha256Hex("on the store's disk"));
    EXPECT_EQ(::stat(store.versions().contentPath(versions[0]).c_str(), &there), 0);
    EXPECT_NE(there.st_dev, here.st_dev);
  }
  fs::remove_all(elsewhere);
}

INSTANTIATE_TEST_SUITE_P(Backends, VersionsTest,
                         ::testing::Values(test::Backend::Sqlite, test::Backend::Postgres), test::backendName);

TEST(UtcText, WrittenAndReadBack) {
  EXPECT_EQ(formatUtc(kNow), "2023-11-14T22:13:20Z");
  EXPECT_EQ(formatUtc(0), "1970-01-01T00:00:00Z");
  struct Case {
    const char* text;
    std::optional<std::int64_t> seconds;
  } cases[] = {
      {"2023-11-14T22:13:20Z", kNow},
      {"2026-12-10T14:03:05Z", 1796911385},
      {"2026-12-10 14:03:05", std::nullopt},
      {"2026-12-10T14:03:05", std::nullopt},
      {"2026-02-30T00:00:00Z", std::nullopt},
      {"2026-12-10T14:03:05Zjunk", std::nullopt},
      {"", std::nullopt},
  };
  for (auto& c : cases) EXPECT_EQ(parseUtc(c.text), c.seconds) << c.text;
}

}  // namespace
}  // namespace kqs
