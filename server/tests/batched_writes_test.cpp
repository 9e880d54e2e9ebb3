// Batched index writes and crashes. kqsyncd is killed (SIGKILL) at points of
// a step whose index changes were not committed yet; after the restart's scan
// the client's listing may cost a re-check (a fetch whose content matches),
// but never a lost file nor a conflict copy.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>

#include "store.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

constexpr std::int64_t kOld = 1700000000;  // the client's copy before the step
constexpr std::int64_t kNew = 1700000500;  // the client's copy the step is about
constexpr std::int64_t kNow = 1700001000;

class BatchedWritesTest : public ::testing::Test {
 public:
  void SetUp() override {
    dir_ = test::scratchFolder("kqsyncd-batched");
    writeStoreMarker((dir_ / "store").string());
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::unique_ptr<Store> open() {
    return std::make_unique<Store>((dir_ / "store").string(), (dir_ / "index.sqlite").string(),
                                   [this](const std::string& l) { log_.push_back(l); }, (dir_ / "versions").string());
  }
  fs::path disk(const std::string& p) const { return dir_ / "store" / p.substr(1); }
  static std::string hashOf(const std::string& data) {
    Sha256 sha;
    sha.update(data);
    return sha.hexDigest();
  }
  // fetch takes a client copy into the store as the session does: accept, then the copy is known.
  static void fetch(Store& s, const std::string& path, const std::string& data, FetchMode mode, std::int64_t mtime) {
    auto file = s.beginIncoming();
    ASSERT_TRUE(file->write(data));
    auto result = s.accept(path, *file, mode, mtime, kNow);
    s.recordKnown(path, static_cast<std::int64_t>(data.size()), mtime, result.entry.hash);
  }
  // inChild runs step in a server process with batched writes, then kills it.
  void inChild(const std::function<void(Store&)>& step) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      auto s = open();
      s->prepareCycle(kNow);
      s->batchWrites({});
      step(*s);
      ::kill(::getpid(), SIGKILL);
      ::_exit(0);  // not reached
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the server process did not die as planned";
  }

  fs::path dir_;
  std::vector<std::string> log_;
};

struct CrashCase {
  const char* name;
  std::function<void(BatchedWritesTest&, Store&)> before;  // committed before the crash
  std::function<void(BatchedWritesTest&, Store&)> step;    // in the batch when the server is killed
  bool commitFirst;                                        // the batch was committed before the kill
  std::map<std::string, std::string> client;               // the client's files (listed at kNew)
  std::map<std::string, std::string> storeAfter;           // the store's files after the restart and the listing
};

TEST_F(BatchedWritesTest, KilledServerLosesNoFileAndMakesNoConflict) {
  auto known = [](const std::string& path, const std::string& data, std::int64_t mtime) {
    return [=](BatchedWritesTest& t, Store& s) {
      test::writeFile(t.disk(path), data);
      s.scan(kNow);
      s.recordKnown(path, static_cast<std::int64_t>(data.size()), mtime, hashOf(data));
    };
  };
  auto nothing = [](BatchedWritesTest&, Store&) {};
  CrashCase cases[] = {
      {"a new file fetched, killed between its rename and the index commit", nothing,
       [](BatchedWritesTest&, Store& s) { fetch(s, "/new.txt", "client's", FetchMode::ClientChanged, kNew); }, false,
       {{"/new.txt", "client's"}}, {{"/new.txt", "client's"}}},
      {"a new file fetched, killed after the commit", nothing,
       [](BatchedWritesTest&, Store& s) { fetch(s, "/new.txt", "client's", FetchMode::ClientChanged, kNew); }, true,
       {{"/new.txt", "client's"}}, {{"/new.txt", "client's"}}},
      {"an edit fetched over a known copy, killed before the commit", known("/a.txt", "old", kOld),
       [](BatchedWritesTest&, Store& s) { fetch(s, "/a.txt", "edited on the client", FetchMode::ClientChanged, kNew); },
       false, {{"/a.txt", "edited on the client"}}, {{"/a.txt", "edited on the client"}}},
      {"an edit in a new folder, killed before the commit", nothing,
       [](BatchedWritesTest&, Store& s) { fetch(s, "/d/e/f.txt", "deep", FetchMode::ClientChanged, kNew); }, false,
       {{"/d/e/f.txt", "deep"}}, {{"/d/e/f.txt", "deep"}}},
      {"a push recorded late: killed before its record was committed", known("/a.txt", "store's", kOld),
       [](BatchedWritesTest&, Store& s) {
         s.recordPushed("/a.txt", 7, hashOf("store's"), kNew - 2, kNew + 1);
       },
       false, {{"/a.txt", "store's"}}, {{"/a.txt", "store's"}}},
      {"a deletion the client reported, killed before the commit", known("/a.txt", "gone", kOld),
       [](BatchedWritesTest&, Store& s) { s.remove("/a.txt", kNow); }, false, {}, {}},
      {"a rename the client reported, killed before the commit", known("/a.txt", "moved", kOld),
       [](BatchedWritesTest&, Store& s) { ASSERT_TRUE(s.rename("/a.txt", "/b.txt", kNow)); }, false,
       {{"/b.txt", "moved"}}, {{"/b.txt", "moved"}}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_);
    writeStoreMarker((dir_ / "store").string());
    {
      auto s = open();
      c.before(*this, *s);
    }
    inChild([&](Store& s) {
      c.step(*this, s);
      if (c.commitFirst) s.commitWrites();
    });
    // The restart: the store is opened and scanned, then the client lists its folder.
    auto s = open();
    ASSERT_TRUE(s->prepareCycle(kNow + 10).has_value());
    PlanInput in;
    s->fill(in);
    std::vector<ListingEntry> listing;
    for (auto& [path, data] : c.client) listing.push_back({path, false, static_cast<std::int64_t>(data.size()), kNew});
    for (auto& a : planListing(listing, in)) {
      SCOPED_TRACE(a.path);
      EXPECT_NE(a.kind, ActionKind::DeleteOnClient) << "the client's copy would be deleted";
      EXPECT_NE(a.kind, ActionKind::DeleteInStore) << "the store's copy would be deleted";
      if (a.kind != ActionKind::Fetch) continue;
      auto file = s->beginIncoming();  // the re-check: the client's copy is fetched and compared
      ASSERT_TRUE(file->write(c.client.at(a.path)));
      auto result = s->accept(a.path, *file, a.mode, a.mtime, kNow + 10);
      EXPECT_EQ(result.outcome, AcceptOutcome::Unchanged) << "a re-check that did more than compare";
    }
    std::map<std::string, std::string> files;
    for (auto& item : fs::recursive_directory_iterator(dir_ / "store")) {
      auto rel = "/" + fs::relative(item.path(), dir_ / "store").string();
      if (rel.rfind("/.kqsyncd", 0) == 0 || !item.is_regular_file()) continue;
      files[rel] = test::readFile(item.path());
    }
    EXPECT_EQ(files, c.storeAfter);
  }
}

// Batching commits many steps at once, before the cycle ends or when the
// batch is full, and a batch that SQLite refuses is logged and rescanned.
TEST_F(BatchedWritesTest, BatchCommitsWhenFullOrOldAndOnRequest) {
  auto s = open();
  s->prepareCycle(kNow);
  s->batchWrites({20, 1000});  // index changes: a fetched file makes a few
  auto before = s->index().commits();
  fetch(*s, "/one.txt", "1", FetchMode::ClientChanged, kNew);
  s->commitIfDue(0);
  EXPECT_TRUE(s->index().batchOpen()) << "a young batch with room left was committed";
  fetch(*s, "/two.txt", "2", FetchMode::ClientChanged, kNew);
  s->commitIfDue(999);
  EXPECT_TRUE(s->index().batchOpen());
  s->commitIfDue(1000);
  EXPECT_FALSE(s->index().batchOpen()) << "a batch as old as the limit was not committed";
  EXPECT_EQ(s->index().commits(), before + 1);
  for (int i = 0; i < 10; ++i) fetch(*s, "/f" + std::to_string(i), "x", FetchMode::ClientChanged, kNew);
  s->commitIfDue(1);
  EXPECT_FALSE(s->index().batchOpen()) << "a full batch was not committed";
  fetch(*s, "/last.txt", "l", FetchMode::ClientChanged, kNew);
  EXPECT_TRUE(s->commitWrites());
  EXPECT_EQ(s->index().commits(), before + 3);
  auto reopened = open();  // another handle sees every committed step
  for (auto p : {"/one.txt", "/two.txt", "/f0", "/f9", "/last.txt"}) EXPECT_TRUE(reopened->index().entry(p)) << p;
}

// A step that fails inside a batch undoes only its own changes.
TEST_F(BatchedWritesTest, FailedStepLeavesTheRestOfTheBatch) {
  auto s = open();
  s->prepareCycle(kNow);
  s->batchWrites({});
  fetch(*s, "/kept.txt", "k", FetchMode::ClientChanged, kNew);
  EXPECT_THROW(s->makeFolder("/.kqsyncd.tmp", kNow), IndexError);
  EXPECT_THROW(s->index().transaction([&] {
    s->index().recordKnown("/undone.txt", {1, kNew, "h"});
    throw IndexError("refused");
  }),
               IndexError);
  EXPECT_TRUE(s->commitWrites());
  auto reopened = open();
  EXPECT_TRUE(reopened->index().entry("/kept.txt"));
  EXPECT_TRUE(reopened->index().knownCopies().count("/undone.txt") == 0);
}

}  // namespace
}  // namespace kqs
