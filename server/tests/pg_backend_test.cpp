// What only the PostgreSQL back end has: schema migrations, the contract's
// lock shared by nodes (released when its holder dies), the change feed, the
// health check and moving a SQLite installation into the database.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "accounts.h"
#include "pg_admin.h"
#include "pg_feed.h"
#include "pg_lock.h"
#include "store.h"
#include "test_backends.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

constexpr std::int64_t kNow = 1700000000;

// waitFor polls until done() holds; false after the deadline (a wait for
// something that must come, never a measure of time).
template <typename F>
bool waitFor(F done, int seconds = 30) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::vector<std::string> pathsOfMap(const std::map<std::string, StoreEntry>& entries) {
  std::vector<std::string> out;
  for (auto& [p, e] : entries) out.push_back(p);
  return out;
}

// A database of the test's own on the test server, dropped at the end.
class FreshDatabase {
 public:
  explicit FreshDatabase(const std::string& url, const std::string& name) : admin_(url), name_(name) {
    admin_.exec("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    admin_.exec("CREATE DATABASE " + name_);
    auto at = url.find("/kq?");
    url_ = url.substr(0, at) + "/" + name_ + url.substr(at + 3);
  }
  ~FreshDatabase() {
    try {
      admin_.exec("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    } catch (...) {
    }
  }
  const std::string& url() const { return url_; }

 private:
  PgConnection admin_;
  std::string name_, url_;
};

class PgBackendTest : public ::testing::Test {
 public:
  void SetUp() override {
    url_ = test::testDatabaseUrl();
    if (url_.empty()) return;  // failed above
    dir_ = test::scratchFolder("kqsyncd-pg");
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string url_;
  fs::path dir_;
};

TEST_F(PgBackendTest, MigrationsBuildTheSchemaOnceAndANewerSchemaIsRefused) {
  FreshDatabase fresh(url_, "kq_migrations");
  PgConnection db(fresh.url());
  EXPECT_EQ(pgSchemaVersion(db), 0);
  EXPECT_EQ(migrateSchema(db), pgSchemaKnown());
  EXPECT_EQ(pgSchemaVersion(db), pgSchemaKnown());
  EXPECT_EQ(migrateSchema(db), 0) << "a current schema was migrated again";
  EXPECT_EQ(db.run("SELECT count(*) FROM schema_version").integer(0, 0), 1);
  EXPECT_TRUE(checkDatabase(fresh.url()).ok) << checkDatabase(fresh.url()).line;

  db.exec("UPDATE schema_version SET version = version + 1");
  try {
    migrateSchema(db);
    ADD_FAILURE() << "a newer schema was accepted";
  } catch (const IndexError& e) {
    EXPECT_EQ(std::string(e.what()), newerSchemaText(pgSchemaKnown() + 1));
  }
  auto health = checkDatabase(fresh.url());
  EXPECT_FALSE(health.ok);
  EXPECT_EQ(health.line, newerSchemaText(pgSchemaKnown() + 1));
  EXPECT_NE(health.line.find("newer than this kqsyncd knows"), std::string::npos);
}

TEST_F(PgBackendTest, NodesStartingTogetherMigrateOnce) {
  FreshDatabase fresh(url_, "kq_migrate_race");
  std::vector<int> applied(4, -1);
  std::vector<std::thread> nodes;
  for (int i = 0; i < 4; ++i) {
    nodes.emplace_back([&, i] {
      PgConnection db(fresh.url());
      applied[i] = migrateSchema(db);
    });
  }
  for (auto& t : nodes) t.join();
  int total = 0;
  for (int a : applied) total += a;
  EXPECT_EQ(total, pgSchemaKnown());
}

TEST_F(PgBackendTest, TheContractLockKeepsNodesApartAndCommitsBeforeItGoes) {
  std::string contract = test::freshContract(url_);
  bool heldDuringRelease = false;
  PgContractLock a(url_, contract, [&] {
    PgConnection probe(url_);
    heldDuringRelease = !probe.run("SELECT pg_try_advisory_lock($1, $2)",
                                   {std::to_string(kPgLockClass), contract}).flag(0, 0);
  });
  PgContractLock b(url_, contract);
  a.lock();
  EXPECT_FALSE(b.try_lock()) << "a second node took a contract's lock that the first holds";
  std::atomic<bool> bHolds{false};
  std::thread waiter([&] {
    b.lock();
    bHolds = true;
  });
  EXPECT_FALSE(bHolds);
  a.unlock();
  waiter.join();
  EXPECT_TRUE(bHolds);
  EXPECT_TRUE(heldDuringRelease) << "the lock went before the holder's changes were committed";
  EXPECT_FALSE(a.try_lock());
  b.unlock();
  EXPECT_TRUE(a.try_lock());
  a.unlock();
}

TEST_F(PgBackendTest, ALockHeldByANodeThatDiesIsReleased) {
  std::string contract = test::freshContract(url_);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t node = ::fork();
  ASSERT_GE(node, 0);
  if (node == 0) {
    PgContractLock held(url_, contract);
    held.lock();
    char byte = 1;
    [[maybe_unused]] auto n = ::write(ready[1], &byte, 1);
    ::pause();
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  PgContractLock other(url_, contract);
  EXPECT_FALSE(other.try_lock()) << "the lock was not held by the other node";
  ::kill(node, SIGKILL);
  ::waitpid(node, nullptr, 0);
  EXPECT_TRUE(waitFor([&] { return other.try_lock(); })) << "a dead node's lock was never released";
  other.unlock();
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST_F(PgBackendTest, ACommittedChangeIsAnnouncedToOtherNodesOnly) {
  std::string contract = test::freshContract(url_);
  std::string elsewhere = test::freshContract(url_);
  PgIndex index(url_, contract);
  auto changed = index.changesElsewhere();
  auto feed = PgChangeFeed::forUrl(url_);
  ASSERT_TRUE(waitFor([&] { return feed->listening(); }));
  changed();  // what was raised before the feed listened
  PgConnection listener(url_);
  listener.exec(std::string("LISTEN ") + kPgChangeChannel);

  index.transaction([&] { index.put(StoreEntry{"/x.txt", false, 1, kNow, "h", index.nextVersion(), false, 0}); });
  PgConnection(url_).run("SELECT pg_notify($1, $2)", {std::string(kPgChangeChannel), elsewhere + " another-node"});
  std::vector<std::string> payloads;
  ASSERT_TRUE(waitFor([&] {
    PQconsumeInput(listener.raw());
    while (PGnotify* n = PQnotifies(listener.raw())) {
      payloads.push_back(n->extra);
      PQfreemem(n);
    }
    return payloads.size() >= 2;
  }));
  EXPECT_EQ(payloads[0], contract + " " + pgNodeToken()) << "one notification per commit, with the node's token";
  // This node's own change does not ask its store for a scan; another node's does.
  auto other = PgChangeFeed::forUrl(url_)->subscribe(elsewhere);
  PgConnection(url_).run("SELECT pg_notify($1, $2)", {std::string(kPgChangeChannel), elsewhere + " another-node"});
  ASSERT_TRUE(waitFor([&] { return other->load(); }));
  EXPECT_FALSE(changed()) << "the node's own commit raised its own store's flag";
  PgConnection(url_).run("SELECT pg_notify($1, $2)", {std::string(kPgChangeChannel), contract + " another-node"});
  EXPECT_TRUE(waitFor([&] { return changed(); }));
}

TEST_F(PgBackendTest, AnotherNodesChangeMakesTheStoreScanItsOwnDoesNot) {
  std::string contract = test::freshContract(url_);
  std::string root = (dir_ / "store").string();
  writeStoreMarker(root);
  Store store(root, std::make_unique<PgIndex>(url_, contract), [](const std::string&) {},
              std::make_unique<Versions>((dir_ / "versions").string(), 30,
                                         std::make_unique<PgVersionList>(url_, contract)));
  ASSERT_TRUE(waitFor([&] { return PgChangeFeed::forUrl(url_)->listening(); }));
  auto scansAfterCycle = [&] {
    auto before = store.scansDone();
    EXPECT_TRUE(store.prepareCycle(kNow).has_value());
    return store.scansDone() - before;
  };
  scansAfterCycle();  // the first cycle scans
  EXPECT_EQ(scansAfterCycle(), 0) << "a quiet store was scanned";
  store.recordKnown("/x.txt", 1, kNow, "h");  // this node's own change, committed and announced
  PgConnection(url_).run("SELECT pg_notify($1, $2)", {std::string(kPgChangeChannel), contract + " another-node"});
  ASSERT_TRUE(waitFor([&] { return scansAfterCycle() == 1; })) << "another node's change did not make the store scan";
  EXPECT_EQ(scansAfterCycle(), 0);
}

TEST_F(PgBackendTest, TheHealthCheckNamesWhatIsWrong) {
  FreshDatabase fresh(url_, "kq_health");
  {
    PgConnection db(fresh.url());
    auto none = checkDatabase(fresh.url());
    EXPECT_FALSE(none.ok);
    EXPECT_NE(none.line.find("schema is version 0, not the current"), std::string::npos) << none.line;
  }
  std::string store = (dir_ / "store").string();
  AccountBook book((dir_ / "node").string(), fresh.url());
  book.load();
  book.add({"4321", "KEY4321", store});
  writeStoreMarker(store);
  book.save();
  auto ok = checkDatabase(fresh.url());
  EXPECT_TRUE(ok.ok) << ok.line;
  EXPECT_NE(ok.line.find("schema version " + std::to_string(pgSchemaKnown()) + ", 1 contract(s)"), std::string::npos)
      << ok.line;
  fs::remove(store + kStoreMarker);
  auto unmounted = checkDatabase(fresh.url());
  EXPECT_FALSE(unmounted.ok);
  EXPECT_EQ(unmounted.line, "the store " + store + " of contract 4321 is not reachable (" + storeProblem(store) + ")");
  auto away = checkDatabase("postgresql:///kq?host=" + (dir_ / "none").string() + "&user=kq");
  EXPECT_FALSE(away.ok);
  EXPECT_NE(away.line.find("cannot connect to the database"), std::string::npos) << away.line;
}

TEST_F(PgBackendTest, AccountsAddedOnTwoNodesAtOnceAreBothKept) {
  FreshDatabase fresh(url_, "kq_accounts");
  AccountBook one((dir_ / "a").string(), fresh.url()), two((dir_ / "b").string(), fresh.url());
  one.load();
  two.load();
  one.add({"1111", "KEYONE", (dir_ / "s1").string()});
  two.add({"2222", "KEYTWO", (dir_ / "s2").string()});
  one.save();
  two.save();
  AccountBook seen((dir_ / "c").string(), fresh.url());
  seen.load();
  ASSERT_EQ(seen.accounts().size(), 2u);
  EXPECT_TRUE(seen.find("1111") && seen.find("2222"));
  EXPECT_EQ(seen.versionsPath("1111"), (dir_ / "s1").string() + ".kqsyncd/versions");
  // The same contract added on two nodes: the second is refused, the first kept.
  one.add({"3333", "KEYA", (dir_ / "s3").string()});
  two.add({"3333", "KEYB", (dir_ / "s3b").string()});
  one.save();
  EXPECT_THROW(two.save(), AccountError);
  seen.load();
  EXPECT_EQ(seen.find("3333")->store, (dir_ / "s3").string());
  ASSERT_TRUE(seen.remove("2222"));
  seen.save();
  one.load();
  EXPECT_EQ(one.find("2222"), nullptr);
  EXPECT_EQ(one.accounts().size(), 2u);
}

TEST_F(PgBackendTest, MigrateMovesAnInstallationAndRefusesADatabaseThatHoldsContracts) {
  FreshDatabase fresh(url_, "kq_migrate");
  std::string data = (dir_ / "data").string(), store = (dir_ / "store").string();
  AccountBook book(data);
  book.add({"5678", "KEY5678", store});
  book.add({"678", "KEY678", (dir_ / "never").string(), true});  // never served: no index yet
  writeStoreMarker(store);
  book.save();
  fs::create_directories(data + "/index");
  {
    Store s(store, book.indexPath("5678"), [](const std::string&) {}, book.versionsPath("5678"));
    s.adoptMarker();
    test::writeFile(store + "/docs/a.txt", "first");
    test::writeFile(store + "/docs/b.txt", "kept as a version");
    s.scan(kNow);
    s.remove("/docs/b.txt", kNow + 10);
    s.recordKnown("/docs/a.txt", 5, kNow + 5, sha256Hex("first"));
    ASSERT_TRUE(s.rename("/docs", "/papers", kNow + 20));
  }
  SqliteIndex before(book.indexPath("5678"));

  auto moved = migrateIntoDatabase(data, fresh.url());
  ASSERT_EQ(moved.size(), 2u);
  EXPECT_EQ(moved[0].contract, "5678");
  EXPECT_EQ(moved[0].entries, before.entries().size());
  EXPECT_EQ(moved[0].moves, 1u);
  EXPECT_GE(moved[0].versions, 1u);
  EXPECT_EQ(moved[1].entries, 0u);

  PgIndex after(fresh.url(), "5678");
  EXPECT_EQ(after.currentVersion(), before.currentVersion());
  EXPECT_TRUE(after.markerSeen());
  auto was = before.entries(), is = after.entries();
  ASSERT_EQ(pathsOfMap(was), pathsOfMap(is));
  for (auto& [p, e] : was) {
    EXPECT_EQ(is[p].hash, e.hash) << p;
    EXPECT_EQ(is[p].version, e.version) << p;
    EXPECT_EQ(is[p].deleted, e.deleted) << p;
    EXPECT_EQ(is[p].inode, e.inode) << p;
  }
  EXPECT_EQ(after.knownCopies().size(), before.knownCopies().size());
  AccountBook cluster((dir_ / "node").string(), fresh.url());
  cluster.load();
  ASSERT_EQ(cluster.accounts().size(), 2u);
  auto versions = cluster.openVersions("5678", 30);
  auto kept = versions->list("");
  ASSERT_EQ(kept.size(), moved[0].versions);
  for (auto& v : kept) EXPECT_EQ(sha256Hex(test::readFile(versions->contentPath(v))), v.hash) << v.path;

  try {
    migrateIntoDatabase(data, fresh.url());
    ADD_FAILURE() << "a database holding contracts took a second installation";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("already holds contracts"), std::string::npos) << e.what();
  }
  PgConnection db(fresh.url());
  EXPECT_EQ(db.run("SELECT count(*) FROM accounts").integer(0, 0), 2) << "the refused migration changed the database";
}

struct Run {
  std::string out;
  int status;
};
Run kqsyncd(const std::string& arguments) {
  std::string command = std::string(KQSYNCD_PROGRAM) + " " + arguments + " 2>&1";
  FILE* out = ::popen(command.c_str(), "r");
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
  int status = ::pclose(out);
  return {text, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST_F(PgBackendTest, TheCommandLineServesEitherBackEndAndCheckAnswersInOneLine) {
  FreshDatabase fresh(url_, "kq_command_line");
  std::string db = "--db '" + fresh.url() + "'", node = "--data " + (dir_ / "node").string();
  std::string store = (dir_ / "shared" / "4242").string();
  fs::create_directories(dir_ / "node");
  auto noStore = kqsyncd(node + " " + db + " account add --contract 4242 --key K4242");
  EXPECT_EQ(noStore.status, 2);
  EXPECT_EQ(noStore.out.substr(0, noStore.out.find('\n')),
            "kqsyncd: with --db, account add needs --store: the store folder every node mounts at the same path");
  auto added = kqsyncd(node + " " + db + " account add --contract 4242 --key K4242 --store " + store);
  EXPECT_EQ(added.status, 0) << added.out;
  EXPECT_EQ(added.out, "added contract 4242, store " + store + ", port 24242\n");
  auto list = kqsyncd(node + " " + db + " account list");
  EXPECT_EQ(list.out, "4242\tport 24242\t" + store + "\n");
  // The environment names the database as well as --db does.
  ::setenv("KQSYNCD_DB", fresh.url().c_str(), 1);
  auto listed = kqsyncd("--data " + (dir_ / "other").string() + " account list");
  ::unsetenv("KQSYNCD_DB");
  EXPECT_EQ(listed.out, list.out);
  EXPECT_FALSE(fs::exists(dir_ / "node" / "accounts.json")) << "the accounts went to the node's folder";

  auto ok = kqsyncd(db + " check");
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.out, "ok: the database " + fresh.url() + " answers, schema version " + std::to_string(pgSchemaKnown()) +
                        ", 1 contract(s), every store folder reachable\n");
  fs::rename(store, store + ".away");
  auto away = kqsyncd(db + " check");
  EXPECT_EQ(away.status, 1);
  EXPECT_EQ(away.out, "kqsyncd: not ok: the store " + store + " of contract 4242 is not reachable (" +
                          storeProblem(store) + ")\n");
  fs::rename(store + ".away", store);
  auto noServer = kqsyncd("--db 'postgresql:///kq?host=" + (dir_ / "none").string() + "&user=kq' check");
  EXPECT_EQ(noServer.status, 1);
  EXPECT_EQ(noServer.out.rfind("kqsyncd: not ok: cannot connect to the database ", 0), 0u) << noServer.out;
  EXPECT_EQ(std::count(noServer.out.begin(), noServer.out.end(), '\n'), 1);
  auto bad = kqsyncd("--db mysql://somewhere check");
  EXPECT_EQ(bad.status, 2);

  test::writeFile(store + "/a.txt", "in the store");
  auto rebuilt = kqsyncd(db + " index rebuild --contract 4242");
  EXPECT_EQ(rebuilt.status, 0) << rebuilt.out;
  EXPECT_EQ(rebuilt.out, "rebuilt the index of contract 4242 from " + store + ": 1 entries\n");
  EXPECT_TRUE(PgIndex(fresh.url(), "4242").entry("/a.txt"));
}

}  // namespace
}  // namespace kqs
