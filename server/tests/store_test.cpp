#include "store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "accounts.h"
#include "key_hash.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

constexpr std::int64_t kNow = 1700000000;

using test::readFile;
using test::writeFile;
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::scratchFolder("kqsyncd-store");
    fs::create_directories(dir_ / "store");
    open();
  }
  void TearDown() override {
    store_.reset();
    fs::remove_all(dir_);
  }
  void open() {
    store_.reset();
    store_ = std::make_unique<Store>((dir_ / "store").string(), (dir_ / "index.sqlite").string(),
                                     [this](const std::string& l) { log_.push_back(l); }, (dir_ / "versions").string());
  }
  AcceptResult put(const std::string& path, const std::string& data, FetchMode mode, std::int64_t mtime) {
    auto file = store_->beginIncoming();
    EXPECT_TRUE(file->write(data));
    return store_->accept(path, *file, mode, mtime, kNow);
  }
  std::map<std::string, StoreEntry> entries() { return store_->index().entries(); }
  fs::path disk(const std::string& p) { return dir_ / "store" / p.substr(1); }
  bool tempEmpty() { return fs::is_empty(dir_ / "store" / ".kqsyncd.tmp"); }

  fs::path dir_;
  std::unique_ptr<Store> store_;
  std::vector<std::string> log_;
};

TEST_F(StoreTest, AcceptedFilesLandWholeWithTheirFoldersIndexed) {
  auto r = put("/a/b/c.txt", "content", FetchMode::ClientChanged, kNow - 60);
  EXPECT_EQ(r.outcome, AcceptOutcome::Updated);
  EXPECT_EQ(readFile(disk("/a/b/c.txt")), "content");
  auto e = entries();
  EXPECT_TRUE(e.at("/a").isDir);
  EXPECT_TRUE(e.at("/a/b").isDir);
  EXPECT_EQ(e.at("/a/b/c.txt").size, 7);
  EXPECT_EQ(e.at("/a/b/c.txt").mtime, kNow - 60);  // the client's time is kept
  EXPECT_EQ(e.at("/a/b/c.txt").hash, sha256Hex("content"));
  EXPECT_TRUE(tempEmpty());
  EXPECT_EQ(put("/a/b/c.txt", "content", FetchMode::Merge, kNow).outcome, AcceptOutcome::Unchanged);
}

TEST_F(StoreTest, DroppedTransferLeavesNothingBehind) {
  {
    auto file = store_->beginIncoming();
    ASSERT_TRUE(file->write("half of a fi"));
  }  // the connection dropped: the file is never accepted
  EXPECT_TRUE(tempEmpty());
  EXPECT_TRUE(entries().empty());
  // A temporary file left by a crash is removed when the store opens, and never indexed.
  writeFile(dir_ / "store" / ".kqsyncd.tmp" / "in-1-1", "partial");
  open();
  EXPECT_TRUE(tempEmpty());
  store_->scan(kNow);
  EXPECT_TRUE(entries().empty());
}

TEST_F(StoreTest, ReportedCopyOfDeletedContentDoesNotReviveIt) {
  put("/d.txt", "pushed", FetchMode::ClientChanged, kNow - 100);
  fs::remove(disk("/d.txt"));
  store_->scan(kNow);
  ASSERT_TRUE(entries().at("/d.txt").deleted);
  // A change report (no client time) bringing the deleted content back is an echo.
  auto echo = put("/d.txt", "pushed", FetchMode::ClientChanged, 0);
  EXPECT_EQ(echo.outcome, AcceptOutcome::DeletionStands);
  EXPECT_TRUE(entries().at("/d.txt").deleted);
  EXPECT_FALSE(fs::exists(disk("/d.txt")));
  EXPECT_TRUE(tempEmpty());
  // New content, or a listed copy written after the deletion, comes back.
  EXPECT_EQ(put("/d.txt", "edited", FetchMode::ClientChanged, 0).outcome, AcceptOutcome::Updated);
  fs::remove(disk("/d.txt"));
  store_->scan(kNow + 1);
  EXPECT_EQ(put("/d.txt", "edited", FetchMode::ClientChanged, kNow + 5).outcome, AcceptOutcome::Updated);
  EXPECT_EQ(readFile(disk("/d.txt")), "edited");
}

TEST_F(StoreTest, ConflictsKeepBothVersions) {
  put("/c.txt", "store", FetchMode::ClientChanged, kNow - 100);
  auto won = put("/c.txt", "client newer", FetchMode::Merge, kNow - 10);
  EXPECT_EQ(won.outcome, AcceptOutcome::ConflictClientWon);
  EXPECT_EQ(readFile(disk("/c.txt")), "client newer");
  EXPECT_EQ(readFile(disk(won.conflictPath)), "store");
  EXPECT_NE(won.conflictPath.find("/c (conflict "), std::string::npos);
  EXPECT_EQ(won.conflictPath.substr(won.conflictPath.size() - 5), ").txt");

  auto kept = put("/c.txt", "client older", FetchMode::Merge, kNow - 500);
  EXPECT_EQ(kept.outcome, AcceptOutcome::ConflictStoreKept);
  EXPECT_EQ(readFile(disk("/c.txt")), "client newer");
  EXPECT_EQ(readFile(disk(kept.conflictPath)), "client older");
  EXPECT_NE(kept.conflictPath, won.conflictPath);  // a second conflict in the same second gets its own name
  EXPECT_EQ(entries().at(kept.conflictPath).hash, sha256Hex("client older"));
}

// A client copy fetched after the store's file was written, but before a
// scan saw that write, never replaces it: both are kept.
TEST_F(StoreTest, AStoreWriteNotYetScannedIsNeverReplacedByAFetchedCopy) {
  struct Case {
    const char* name;
    bool indexed;          // the store file was scanned once before the write
    const char* written;   // what the administrator wrote since
    FetchMode mode;
  } cases[] = {
      {"an edit of a scanned file, the client's copy of its version changed", true, "admin edit, longer", FetchMode::ClientChanged},
      {"an edit of the same size", true, "admin edit 78", FetchMode::ClientChanged},
      {"an edit of a scanned file, both changed", true, "admin edit, longer", FetchMode::Merge},
      {"a new file the index does not hold yet", false, "created in the store", FetchMode::ClientChanged},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = "/case" + std::to_string(++n) + ".txt";
    if (c.indexed) {
      writeFile(disk(path), "original 0123");
      store_->scan(kNow - 100);
    }
    writeFile(disk(path), c.written);
    auto r = put(path, "the user's copy", c.mode, kNow + 100);
    EXPECT_EQ(r.outcome, AcceptOutcome::ConflictStoreKept);
    EXPECT_EQ(readFile(disk(path)), c.written);
    ASSERT_FALSE(r.conflictPath.empty());
    EXPECT_EQ(readFile(disk(r.conflictPath)), "the user's copy");
    store_->scan(kNow + 200);
    EXPECT_EQ(entries().at(path).hash, sha256Hex(c.written));
  }
  // A file as the last scan saw it is replaced as before.
  writeFile(disk("/plain.txt"), "original");
  store_->scan(kNow - 100);
  EXPECT_EQ(put("/plain.txt", "the user's edit", FetchMode::ClientChanged, kNow).outcome, AcceptOutcome::Updated);
  EXPECT_EQ(readFile(disk("/plain.txt")), "the user's edit");
}

TEST_F(StoreTest, ScanPicksUpAdministratorChanges) {
  writeFile(disk("/new.txt"), "n");
  fs::create_directories(disk("/folder"));
  EXPECT_EQ(store_->scan(kNow), 2);
  auto first = entries();
  EXPECT_FALSE(first.at("/new.txt").deleted);
  EXPECT_TRUE(first.at("/folder").isDir);
  EXPECT_EQ(store_->scan(kNow), 0);  // nothing changed

  writeFile(disk("/new.txt"), "changed");
  EXPECT_EQ(store_->scan(kNow), 1);
  EXPECT_GT(entries().at("/new.txt").version, first.at("/new.txt").version);

  fs::remove(disk("/new.txt"));
  EXPECT_EQ(store_->scan(kNow + 5), 1);
  EXPECT_TRUE(entries().at("/new.txt").deleted);
  EXPECT_EQ(entries().at("/new.txt").deletedAt, kNow + 5);
}

TEST_F(StoreTest, FolderRenameIsOneOperationAndJournalled) {
  put("/old/x.txt", "x", FetchMode::ClientChanged, kNow - 60);
  put("/old/sub/y.txt", "y", FetchMode::ClientChanged, kNow - 60);
  store_->recordKnown("/old/x.txt", 1, kNow - 30, sha256Hex("x"));
  ASSERT_TRUE(store_->rename("/old", "/new", kNow));
  EXPECT_EQ(readFile(disk("/new/sub/y.txt")), "y");
  EXPECT_FALSE(fs::exists(disk("/old")));
  auto e = entries();
  for (auto p : {"/old", "/old/x.txt", "/old/sub", "/old/sub/y.txt"}) EXPECT_TRUE(e.at(p).deleted) << p;
  for (auto p : {"/new", "/new/x.txt", "/new/sub", "/new/sub/y.txt"}) EXPECT_FALSE(e.at(p).deleted) << p;
  auto moves = store_->index().moves();
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].from, "/old");
  EXPECT_EQ(moves[0].to, "/new");
  EXPECT_EQ(store_->index().knownCopies().count("/new/x.txt"), 1u);
  EXPECT_FALSE(store_->rename("/missing", "/elsewhere", kNow));
}

TEST_F(StoreTest, RenameOntoAnExistingItemKeepsIt) {
  put("/a.txt", "a", FetchMode::ClientChanged, kNow - 60);
  put("/b.txt", "b", FetchMode::ClientChanged, kNow - 60);
  ASSERT_TRUE(store_->rename("/a.txt", "/b.txt", kNow));
  EXPECT_EQ(readFile(disk("/b.txt")), "a");
  int kept = 0;
  for (auto& f : fs::directory_iterator(dir_ / "store")) kept += f.is_regular_file() && readFile(f.path()) == "b" ? 1 : 0;
  EXPECT_EQ(kept, 1);
}

TEST_F(StoreTest, IndexSurvivesRestart) {
  put("/keep.txt", "k", FetchMode::ClientChanged, kNow - 60);
  store_->remove("/keep.txt", kNow);
  open();
  EXPECT_TRUE(entries().at("/keep.txt").deleted);
  EXPECT_FALSE(fs::exists(disk("/keep.txt")));
}

TEST(Accounts, AddValidatesAndPersists) {
  auto dir = fs::temp_directory_path() / ("kqsyncd-accounts-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  AccountBook book(dir.string());
  struct Case { const char* contract; const char* key; bool ok; } cases[] = {
      {"1234", "KEY", true}, {"12a4", "KEY", false}, {"", "KEY", false}, {"12345", "KEY", false},
      {"4321", "", false}, {"4321", "has blank", false}, {"1234", "OTHER", false},  // duplicate
      {"77", "KEY", false},  // short without --allow-short-contract
  };
  for (auto& c : cases) {
    bool ok = true;
    try {
      book.add({c.contract, c.key, ""});
    } catch (const AccountError&) {
      ok = false;
    }
    EXPECT_EQ(ok, c.ok) << c.contract << " " << c.key;
  }
  book.add({"7", "K7", (dir / "custom").string(), true});
  book.save();
  AccountBook again(dir.string());
  again.load();
  ASSERT_EQ(again.accounts().size(), 2u);
  EXPECT_EQ(again.find("1234")->store, (dir / "stores" / "1234").string());
  EXPECT_EQ(again.find("7")->store, (dir / "custom").string());
  EXPECT_TRUE(keyMatches("K7", again.find("7")->keyHash));
  EXPECT_FALSE(keyMatches("K8", again.find("7")->keyHash));
  EXPECT_TRUE(again.remove("7"));
  EXPECT_FALSE(again.remove("7"));
  EXPECT_EQ((fs::status(dir / "accounts.json").permissions() & fs::perms::others_read), fs::perms::none);
  fs::remove_all(dir);
}

TEST(Accounts, InitTextNamesProtocolContractAndKey) {
  Account a{"1234", hashKey("KEY"), "/s"}, b{"234", hashKey("KEY"), "/t"}, c{"99", hashKey("LONGKEY123"), "/u"};
  std::vector<const Account*> all{&a, &b, &c};
  struct Case { const char* text; const Account* account; const char* protocol; } cases[] = {
      {"KQFILESYNC11234KEY", &a, "1"},  // the longest contract + key wins over 234 + KEY
      {"KQFILESYNC2.01234KEY", &a, "2.0"},
      {"KQFILESYNC199LONGKEY123", &c, "1"},
      {"KQFILESYNC11234KEX", nullptr, ""},
      {"kqfilesync11234KEY", nullptr, ""},
      {"KEY", nullptr, ""},
  };
  for (auto& k : cases) {
    auto m = matchInitText(k.text, all);
    if (k.account == nullptr) {
      EXPECT_FALSE(m) << k.text;
    } else {
      ASSERT_TRUE(m) << k.text;
      EXPECT_EQ(m->account, k.account) << k.text;
      EXPECT_EQ(m->protocol, k.protocol) << k.text;
    }
  }
  EXPECT_EQ(portFor("1234").value_or(0), 21234);
  EXPECT_EQ(portFor("0001").value_or(0), 20001);
  EXPECT_FALSE(portFor("12345"));
}

}  // namespace
}  // namespace kqs
