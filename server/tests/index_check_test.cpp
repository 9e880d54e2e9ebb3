#include "index_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "accounts.h"
#include "server_log.h"
#include "store.h"
#include "sync_server.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

constexpr std::int64_t kNow = 1700000000;

class IndexCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::scratchFolder("kqsyncd-index-check");
    for (int i = 0; i < 300; ++i) {
      test::writeFile(store() + "/folder-with-a-long-name-" + std::to_string(i % 7) + "/file-" + std::to_string(i),
                      "content " + std::to_string(i));
    }
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string store() const { return (dir_ / "store").string(); }
  std::string index() const { return (dir_ / "index.sqlite").string(); }
  std::string versions() const { return (dir_ / "versions").string(); }
  // fillIndex scans the store into the index and closes it.
  void fillIndex() {
    Store s(store(), index(), [](const std::string&) {}, versions());
    s.scan(kNow);
  }
  // overwrite puts bytes at offset of the index file, as a failing disk would.
  void overwrite(std::uintmax_t offset, const std::string& bytes) {
    std::fstream f(index(), std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(offset));
    f << bytes;
  }
  fs::path dir_;
};

TEST_F(IndexCheckTest, AMissingOrWholeIndexIsSound) {
  EXPECT_TRUE(checkIndex(index()).sound);  // none yet: it is made at the next start
  fillIndex();
  auto health = checkIndex(index());
  EXPECT_TRUE(health.sound) << health.problem;
  EXPECT_EQ(health.problem, "");
}

struct DamageCase {
  const char* what;
  std::uintmax_t offset;
  std::size_t length;
  const char* problem;  // nullptr: the malformed image with SQLite's words on its first bad page
};

TEST_F(IndexCheckTest, ADamagedIndexIsReportedInSQLitesWords) {
  const DamageCase cases[] = {
      {"header", 0, 100, "file is not a database"},
      {"pages after the first", 4096, 16384, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(index());
    fillIndex();
    ASSERT_GT(fs::file_size(index()), c.offset + c.length);
    overwrite(c.offset, std::string(c.length, '\xA5'));
    auto health = checkIndex(index());
    EXPECT_FALSE(health.sound);
    if (c.problem != nullptr) EXPECT_EQ(health.problem, c.problem);
    else EXPECT_TRUE(health.problem.rfind("database disk image is malformed: Page ", 0) == 0) << health.problem;
  }
}

TEST_F(IndexCheckTest, RebuildMakesASoundIndexOfTheStoreAndKeepsTheDamagedOne) {
  fillIndex();
  overwrite(4096, std::string(16384, '\xA5'));
  test::writeFile(index() + "-wal", "a journal of the damaged index");
  auto result = rebuildIndex(store(), index(), versions(), kNow);
  EXPECT_EQ(result.keptAs, index() + ".damaged-2023-11-14T22:13:20Z");
  EXPECT_EQ(result.entries, 307u);  // 300 files in 7 folders
  EXPECT_FALSE(fs::exists(index() + "-wal"));  // the damaged index's journal went with it
  EXPECT_TRUE(checkIndex(index()).sound);
  EXPECT_FALSE(checkIndex(result.keptAs).sound);
  EXPECT_EQ(test::readFile(result.keptAs + "-wal"), "a journal of the damaged index");
  EXPECT_FALSE(fs::exists(index() + ".rebuild"));
  Store rebuilt(store(), index(), [](const std::string&) {}, versions());
  EXPECT_EQ(rebuilt.index().entries().size(), 307u);
  EXPECT_EQ(rebuilt.scan(kNow + 1), 0);  // nothing left for the next scan to pick up
}

TEST_F(IndexCheckTest, RebuildOfAMissingStoreChangesNothing) {
  fillIndex();
  fs::remove_all(store());
  EXPECT_THROW(rebuildIndex(store(), index(), versions(), kNow), std::runtime_error);
  EXPECT_TRUE(checkIndex(index()).sound);
  EXPECT_FALSE(fs::exists(index() + ".rebuild"));
}

// A server with two contracts, one of them with a damaged index: it starts,
// listens for both and says which file keeps the one from being served.
TEST(SyncServerIndex, ADamagedIndexStopsOnlyItsContract) {
  auto dir = test::scratchFolder("kqsyncd-server-index");
  AccountBook book(dir.string());
  book.add({"4001", "KEY4001", (dir / "s1").string(), false});
  book.add({"4002", "KEY4002", (dir / "s2").string(), false});
  fs::create_directories(dir / "s1");
  fs::create_directories(dir / "s2");
  test::writeFile(book.indexPath("4001"), std::string(8192, '\xA5'));
  std::vector<std::string> lines;
  ServerLog log([&](const std::string& line) { lines.push_back(line); });
  ServerOptions options;
  options.listen = "127.0.0.1:0";
  {
    SyncServer server(book, options, log);
    EXPECT_NO_THROW(server.start());
    EXPECT_EQ(server.ports().size(), 1u);
  }
  EXPECT_TRUE(checkIndex(book.indexPath("4002")).sound);
  EXPECT_FALSE(checkIndex(book.indexPath("4001")).sound);
  std::string expected = "not serving contract 4001: its index " + book.indexPath("4001") +
                         " is damaged (file is not a database); the other contracts are served; rebuild it with: "
                         "kqsyncd index rebuild --contract 4001";
  int said = 0;
  for (auto& line : lines) said += line.find(expected) != std::string::npos;
  EXPECT_EQ(said, 1);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kqs
