// The index of a contract's store, the same contract on both back ends:
// entries and their subtrees, the version counter, tombstones, renames with
// their known copies and journal, the marker, transactions and batches.
#include "store_index.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "test_backends.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

using test::Backend;

StoreEntry fileEntry(const std::string& path, std::int64_t version, const std::string& hash = "h") {
  StoreEntry e{path, false, 10, 1700000000, hash, version, false, 0};
  e.mtimeNs = 1700000000123456789;
  e.ctimeNs = 1700000000987654321;
  e.inode = 4242;
  return e;
}

StoreEntry folderEntry(const std::string& path, std::int64_t version) {
  return StoreEntry{path, true, 0, 1700000000, "", version, false, 0};
}

std::vector<std::string> pathsOf(const std::map<std::string, StoreEntry>& entries) {
  std::vector<std::string> out;
  for (auto& [p, e] : entries) out.push_back(p);
  return out;
}

class IndexTest : public ::testing::TestWithParam<Backend> {
 public:
  void SetUp() override {
    dir_ = test::scratchFolder("kqsyncd-index");
    fs::create_directories(dir_);
    if (!backend_.open(GetParam(), dir_.string())) return;  // failed above
    index_ = backend_.index();
  }
  void TearDown() override {
    index_.reset();
    fs::remove_all(dir_);
  }
  // reopened is a second handle on the same index (another connection or file handle).
  std::unique_ptr<StoreIndex> reopened() { return backend_.index(); }

  fs::path dir_;
  test::TestBackend backend_;
  std::unique_ptr<StoreIndex> index_;
};

TEST_P(IndexTest, EntriesComeBackWholeAndASubtreeIsItsFolderAndWhatIsBelow) {
  // Names that sort between a folder and its children byte by byte ("/a b",
  // "/a.txt", "/a0" around "/a/"), and one outside ASCII.
  for (auto p : {"/a", "/a/b", "/a/b/c.txt", "/a b", "/a.txt", "/a0", "/ab", "/Жук.txt"}) {
    index_->put(std::string(p) == "/a" || std::string(p) == "/a/b" ? folderEntry(p, 1) : fileEntry(p, 2));
  }
  auto all = index_->entries();
  EXPECT_EQ(all.size(), 8u);
  auto e = index_->entry("/a/b/c.txt");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->size, 10);
  EXPECT_EQ(e->mtimeNs, 1700000000123456789);
  EXPECT_EQ(e->ctimeNs, 1700000000987654321);
  EXPECT_EQ(e->inode, 4242);
  EXPECT_FALSE(e->isDir);
  EXPECT_TRUE(index_->entry("/a")->isDir);
  EXPECT_TRUE(index_->entry("/Жук.txt"));
  EXPECT_FALSE(index_->entry("/missing"));
  EXPECT_EQ(pathsOf(index_->subtree("/a")), (std::vector<std::string>{"/a", "/a/b", "/a/b/c.txt"}));
  EXPECT_EQ(pathsOf(index_->subtree("/a/b")), (std::vector<std::string>{"/a/b", "/a/b/c.txt"}));
  // put replaces the entry at its path.
  auto changed = fileEntry("/a.txt", 7, "other");
  changed.recheck = true;
  index_->put(changed);
  EXPECT_EQ(index_->entry("/a.txt")->hash, "other");
  EXPECT_TRUE(index_->entry("/a.txt")->recheck);
  EXPECT_EQ(index_->entries().size(), 8u);
}

TEST_P(IndexTest, TheVersionCounterMovesWithEveryChangeAndATombstoneOnlyWhenSomethingWasLive) {
  EXPECT_EQ(index_->currentVersion(), 0);
  EXPECT_FALSE(index_->hasLiveEntries());
  EXPECT_EQ(index_->nextVersion(), 1);
  EXPECT_EQ(index_->nextVersion(), 2);
  index_->put(folderEntry("/d", 2));
  index_->put(fileEntry("/d/f", 2));
  EXPECT_TRUE(index_->hasLiveEntries());
  index_->tombstone("/d", 1700000500);
  EXPECT_EQ(index_->currentVersion(), 3);
  for (auto p : {"/d", "/d/f"}) {
    auto e = index_->entry(p);
    EXPECT_TRUE(e->deleted) << p;
    EXPECT_EQ(e->deletedAt, 1700000500) << p;
  }
  EXPECT_FALSE(index_->hasLiveEntries());
  index_->tombstone("/d", 1700000600);  // nothing live any more: no new version
  EXPECT_EQ(index_->currentVersion(), 3);
  EXPECT_EQ(index_->entry("/d")->deletedAt, 1700000500);
  EXPECT_EQ(reopened()->currentVersion(), 3);
}

TEST_P(IndexTest, AFolderRenameMovesItsEntriesAndKnownCopiesAndIsJournalled) {
  index_->put(folderEntry("/old", index_->nextVersion()));
  index_->put(fileEntry("/old/a.txt", index_->nextVersion(), "ha"));
  index_->put(fileEntry("/old/sub/b.txt", index_->nextVersion(), "hb"));
  index_->put(fileEntry("/older.txt", index_->nextVersion()));
  index_->recordKnown("/old/a.txt", {10, 1700000000, "ha"});
  index_->recordKnown("/old/a.txt", {11, 1700000001, "ha2"});
  // A copy known at the target with the same size and time gives way.
  index_->recordKnown("/new/a.txt", {10, 1700000000, "stale"});
  index_->recordKnown("/older.txt", {10, 1700000000, "hx"});
  std::int64_t before = index_->currentVersion();

  index_->rename("/old", "/new", true, 1700000900);

  EXPECT_TRUE(index_->entry("/old")->deleted);
  EXPECT_TRUE(index_->entry("/old/a.txt")->deleted);
  auto moved = index_->entry("/new/sub/b.txt");
  ASSERT_TRUE(moved);
  EXPECT_FALSE(moved->deleted);
  EXPECT_EQ(moved->hash, "hb");
  EXPECT_GT(moved->version, before);
  EXPECT_FALSE(index_->entry("/older.txt")->deleted) << "a name that only starts like the folder moved with it";
  auto known = index_->knownCopies();
  EXPECT_EQ(known.count("/old/a.txt"), 0u);
  ASSERT_EQ(known["/new/a.txt"].size(), 2u);
  for (auto& c : known["/new/a.txt"]) EXPECT_NE(c.hash, "stale");
  EXPECT_EQ(known["/older.txt"].size(), 1u);
  EXPECT_EQ(index_->knownCopiesIn("/new").size(), 1u);
  auto moves = index_->moves();
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].from, "/old");
  EXPECT_EQ(moves[0].to, "/new");
  EXPECT_EQ(moves[0].at, 1700000900);

  index_->rename("/older.txt", "/renamed.txt", false, 1700000950);
  EXPECT_EQ(index_->moves().size(), 1u) << "a file rename is not journalled";
  EXPECT_FALSE(index_->entry("/renamed.txt")->deleted);
}

TEST_P(IndexTest, TheMarkerFlagStaysOnce) {
  EXPECT_FALSE(index_->markerSeen());
  index_->setMarkerSeen();
  EXPECT_TRUE(index_->markerSeen());
  EXPECT_TRUE(reopened()->markerSeen());
}

TEST_P(IndexTest, AThrowUndoesItsTransactionAndAnInnerOneUndoesOnlyItself) {
  EXPECT_THROW(index_->transaction([&] {
    index_->put(fileEntry("/gone.txt", index_->nextVersion()));
    throw std::runtime_error("stop");
  }),
               std::runtime_error);
  EXPECT_FALSE(index_->entry("/gone.txt"));
  EXPECT_EQ(index_->currentVersion(), 0);

  index_->transaction([&] {
    index_->put(fileEntry("/kept.txt", 1));
    EXPECT_THROW(index_->transaction([&] {
      index_->put(fileEntry("/inner.txt", 1));
      throw std::runtime_error("inner");
    }),
                 std::runtime_error);
    index_->recordKnown("/kept.txt", {10, 1700000000, "h"});
  });
  EXPECT_TRUE(index_->entry("/kept.txt"));
  EXPECT_FALSE(index_->entry("/inner.txt"));
  EXPECT_EQ(reopened()->knownCopies().count("/kept.txt"), 1u);
}

TEST_P(IndexTest, ABatchIsSeenByOthersOnlyOnceCommittedAndADroppedOneIsLost) {
  auto other = reopened();
  index_->setBatching(true);
  index_->put(fileEntry("/one.txt", index_->nextVersion()));
  index_->recordKnown("/one.txt", {10, 1700000000, "h"});
  EXPECT_TRUE(index_->batchOpen());
  EXPECT_EQ(index_->batchSteps(), 3);
  EXPECT_FALSE(other->entry("/one.txt")) << "another handle saw changes that were not committed";
  auto commits = index_->commits();
  index_->commitBatch();
  EXPECT_FALSE(index_->batchOpen());
  EXPECT_EQ(index_->commits(), commits + 1);
  EXPECT_TRUE(other->entry("/one.txt"));

  index_->put(fileEntry("/two.txt", index_->nextVersion()));
  index_->transaction([&] { index_->put(fileEntry("/three.txt", 5)); });  // joins the batch
  EXPECT_TRUE(index_->batchOpen());
  index_->dropBatch();
  EXPECT_TRUE(index_->batchLost());
  EXPECT_FALSE(index_->entry("/two.txt"));
  EXPECT_FALSE(index_->entry("/three.txt"));
  index_->clearBatchLost();
  index_->setBatching(false);
  index_->put(fileEntry("/four.txt", 9));
  EXPECT_FALSE(index_->batchOpen());
  EXPECT_TRUE(other->entry("/four.txt"));
}

TEST_P(IndexTest, AnIndexThatCannotBeReachedSaysSo) {
  if (GetParam() == Backend::Sqlite) {
    EXPECT_THROW(SqliteIndex((dir_ / "no-such-folder" / "index.sqlite").string()), IndexError);
  } else {
    try {
      PgIndex index("postgresql:///kq?host=" + dir_.string() + "/no-server&user=kq", "1234");
      ADD_FAILURE() << "an index without a database server opened";
    } catch (const IndexError& e) {
      EXPECT_NE(std::string(e.what()).find("cannot connect to the database"), std::string::npos) << e.what();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, IndexTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         test::backendName);

}  // namespace
}  // namespace kqs
