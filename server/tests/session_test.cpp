// Sessions against the scripted client: a real server on a loopback port, real
// store and sync folders.
#include <algorithm>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <regex>
#include <thread>

#include "scripted_client.h"
#include "sync_server.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

using test::readFile;
using test::writeFile;
// waitUntil polls a condition for up to ten seconds.
template <typename F>
bool waitUntil(F condition) {
  for (int i = 0; i < 200; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return condition();
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test::scratchFolder("kqsyncd-test");
    fs::create_directories(root_);
    book_ = std::make_unique<AccountBook>((root_ / "data").string());
    book_->add({"1234", "KEY1234abc", ""});
    book_->add({"5678", "KEY5678xyz", ""});
  }
  void TearDown() override {
    clients_.clear();
    if (HasFailure()) {
      std::lock_guard lock(linesMutex_);
      for (auto& l : lines_) std::fprintf(stderr, "%s\n", l.c_str());
    }
    if (server_) {
      server_->stop();
      thread_.join();
      server_.reset();
    }
    fs::remove_all(root_);
  }
  fs::path store(const std::string& contract = "1234") { return book_->find(contract)->store; }
  void startServer(int timeoutMs = 3000, SessionOptions session = {}) {
    ServerOptions options;
    options.session = session;
    options.listen = "127.0.0.1:0";
    options.timeoutMs = timeoutMs;
    options.initQuietMs = 100;
    options.session.cycleMs = 150;
    options.session.chunkBytes = 64 * 1024;
    server_ = std::make_unique<SyncServer>(*book_, options, log_);
    server_->start();
    port_ = server_->ports().at(0);
    thread_ = std::thread([this] { server_->run(); });
  }
  test::ScriptedClient& client(const std::string& name, const std::string& init = "KQFILESYNC11234KEY1234abc") {
    clients_.push_back(std::make_unique<test::ScriptedClient>(root_ / name, port_, init));
    return *clients_.back();
  }
  int loggedCount(const std::string& text) {
    std::lock_guard lock(linesMutex_);
    int n = 0;
    for (auto& l : lines_) n += l.find(text) != std::string::npos ? 1 : 0;
    return n;
  }
  // offers counts the RQPUT requests that named a server path (JSON form).
  static int offers(test::ScriptedClient& c, const std::string& jsonPath) {
    int n = 0;
    for (auto& r : c.requests()) n += r.compare(0, 5, "RQPUT") == 0 && r.substr(17) == "{\"filepath\":\"" + jsonPath + "\"}";
    return n;
  }
  bool logged(const std::string& text) {
    std::lock_guard lock(linesMutex_);
    for (auto& l : lines_) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }

  fs::path root_;
  std::unique_ptr<AccountBook> book_;
  std::mutex linesMutex_;
  std::vector<std::string> lines_;
  ServerLog log_{[this](const std::string& line) {
    std::lock_guard lock(linesMutex_);
    lines_.push_back(line);
  }};
  std::unique_ptr<SyncServer> server_;
  std::thread thread_;
  int port_ = 0;
  std::vector<std::unique_ptr<test::ScriptedClient>> clients_;
};

TEST_F(SessionTest, StoreReachesAnEmptySyncFolder) {
  std::string big(300000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  fs::create_directories(store());
  writeFile(store() / "docs" / "a.txt", "hello");
  writeFile(store() / "big.bin", big);
  writeFile(store() / "empty.txt", "");
  fs::create_directories(store() / "emptydir");
  writeFile(store() / "skip.tmp", "temporary");
  startServer();
  auto& c = client("one");
  c.start();
  ASSERT_TRUE(c.waitCycles(2));
  EXPECT_EQ(readFile(root_ / "one" / "docs" / "a.txt"), "hello");
  EXPECT_EQ(readFile(root_ / "one" / "big.bin"), big);
  EXPECT_TRUE(fs::exists(root_ / "one" / "empty.txt"));
  EXPECT_TRUE(fs::is_directory(root_ / "one" / "emptydir"));
  EXPECT_FALSE(fs::exists(root_ / "one" / "skip.tmp"));
  // Every request went out as one read: the header followed by its whole JSON body.
  for (auto& r : c.requests()) {
    if (r.compare(0, 5, "RQFDA") == 0) continue;
    ASSERT_GT(r.size(), 17u);
    EXPECT_EQ(r.back(), '}') << r.substr(0, 5);
  }
  bool sawPut = false;
  for (auto& r : c.requests()) sawPut = sawPut || r.substr(17) == "{\"filepath\":\"\\/docs\\/a.txt\"}";
  EXPECT_TRUE(sawPut);
  // A second cycle changes nothing: no further transfers.
  auto before = c.requests().size();
  ASSERT_TRUE(c.waitCycles(2));
  for (std::size_t i = before; i < c.requests().size(); ++i) {
    auto type = c.requests()[i].substr(0, 5);
    EXPECT_TRUE(type == "RQCHG" || type == "RQLST" || type == "RQFLS" || type == "RQLOG") << type;
  }
}

TEST_F(SessionTest, SyncFolderReachesAnEmptyStore) {
  writeFile(root_ / "one" / "caf\xc3\xa9.txt", "accent");
  writeFile(root_ / "one" / "sub" / "deep" / "n.txt", "nested");
  writeFile(root_ / "one" / "_log" / "Filesync.log", "2024/03/07 14:05:09 : Connected\r\n");
  writeFile(root_ / "one" / "_config" / "Filesync.ini", "[Basic]\r\n");
  writeFile(root_ / "one" / "~lock", "x");
  fs::create_directories(root_ / "one" / "emptydir");
  startServer();
  auto& c = client("one");
  c.start();
  ASSERT_TRUE(c.waitCycles(2));
  EXPECT_EQ(readFile(store() / "caf\xc3\xa9.txt"), "accent");
  EXPECT_EQ(readFile(store() / "sub" / "deep" / "n.txt"), "nested");
  EXPECT_TRUE(fs::is_directory(store() / "emptydir"));
  EXPECT_FALSE(fs::exists(store() / "_log"));
  EXPECT_FALSE(fs::exists(store() / "_config"));
  EXPECT_FALSE(fs::exists(store() / "~lock"));
  // After the first cycle the client's log is kept in the data folder.
  ASSERT_TRUE(waitUntil([&] { return fs::exists(book_->clientLogPath("1234")); }));
  EXPECT_EQ(readFile(book_->clientLogPath("1234")), "2024/03/07 14:05:09 : Connected\r\n");
}

TEST_F(SessionTest, EditDeletionAndRenameReportedByTheClient) {
  writeFile(store() / "a.txt", "one");
  writeFile(store() / "gone.txt", "bye");
  writeFile(store() / "old" / "x.txt", "x");
  startServer();
  auto& c = client("one");
  c.start();
  ASSERT_TRUE(c.waitCycles(2));
  writeFile(root_ / "one" / "a.txt", "two, longer");
  c.queue({"MODIFIED", "/a.txt", ""});
  fs::remove(root_ / "one" / "gone.txt");
  c.queue({"DELETED", "/gone.txt", ""});
  fs::rename(root_ / "one" / "old", root_ / "one" / "new");
  c.queue({"RENAMED", "/old/", "new"});
  ASSERT_TRUE(c.waitCycles(2));
  EXPECT_EQ(readFile(store() / "a.txt"), "two, longer");
  EXPECT_FALSE(fs::exists(store() / "gone.txt"));
  EXPECT_FALSE(fs::exists(store() / "old"));
  EXPECT_EQ(readFile(store() / "new" / "x.txt"), "x");
  // Nothing came back to the client.
  EXPECT_FALSE(fs::exists(root_ / "one" / "gone.txt"));
  EXPECT_FALSE(fs::exists(root_ / "one" / "old"));
  EXPECT_TRUE(logged("client reports RENAMED /old -> new"));
  EXPECT_TRUE(logged("store: renamed /old to /new"));
}

TEST_F(SessionTest, TwoClientsOfOneContractConverge) {
  writeFile(store() / "shared" / "s.txt", "shared");
  startServer();
  auto& a = client("a");
  auto& b = client("b");
  a.start();
  b.start();
  ASSERT_TRUE(a.waitCycles(2));
  ASSERT_TRUE(b.waitCycles(2));
  writeFile(root_ / "a" / "from-a.txt", "made in a");
  a.queue({"MODIFIED", "/from-a.txt", ""});
  ASSERT_TRUE(waitUntil([&] { return readFile(root_ / "b" / "from-a.txt") == "made in a"; }));
  fs::remove(root_ / "a" / "from-a.txt");
  a.queue({"DELETED", "/from-a.txt", ""});
  ASSERT_TRUE(waitUntil([&] { return !fs::exists(root_ / "b" / "from-a.txt"); }));
  // Rename and report in the pause after a cycle: a listing taken between the
  // two would see a removed folder and a new one instead of a rename.
  ASSERT_TRUE(a.waitCycles(1));
  fs::rename(root_ / "a" / "shared", root_ / "a" / "moved");
  a.queue({"RENAMED", "/shared/", "moved"});
  ASSERT_TRUE(waitUntil([&] { return fs::exists(root_ / "b" / "moved" / "s.txt"); }));
  EXPECT_FALSE(fs::exists(root_ / "b" / "shared"));
  bool sawMove = false;
  for (auto& r : b.requests()) {
    sawMove = sawMove || r.substr(17) == "{\"sourcefilepath\":\"\\/shared\\/\",\"destinationfilepath\":\"\\/moved\\/\"}";
  }
  EXPECT_TRUE(sawMove);
  ASSERT_TRUE(b.waitCycles(2));
  EXPECT_FALSE(fs::exists(root_ / "a" / "from-a.txt"));
  EXPECT_EQ(readFile(root_ / "a" / "moved" / "s.txt"), "shared");
}

TEST_F(SessionTest, RefusedFolderMoveBecomesDeletionsAndPushes) {
  writeFile(store() / "shared" / "s.txt", "shared");
  startServer();
  auto& a = client("a");
  auto& b = client("b");
  b.refuseMoves = true;
  a.start();
  b.start();
  ASSERT_TRUE(a.waitCycles(2));
  ASSERT_TRUE(b.waitCycles(2));
  // Rename and report in the pause after a cycle: a listing taken between the
  // two would see a removed folder and a new one instead of a rename.
  ASSERT_TRUE(a.waitCycles(1));
  fs::rename(root_ / "a" / "shared", root_ / "a" / "moved");
  a.queue({"RENAMED", "/shared/", "moved"});
  ASSERT_TRUE(waitUntil([&] { return readFile(root_ / "b" / "moved" / "s.txt") == "shared"; }));
  ASSERT_TRUE(waitUntil([&] { return !fs::exists(root_ / "b" / "shared"); }));
  EXPECT_TRUE(logged("client could not move /shared to /moved"));
}

TEST_F(SessionTest, ConflictKeepsBothVersions) {
  writeFile(store() / "c.txt", "base");
  startServer();
  auto& a = client("a");
  a.start();
  ASSERT_TRUE(a.waitCycles(2));
  a.silent = true;  // hold the client while both sides change the file
  ASSERT_TRUE(waitUntil([&] { return logged("connection closed") || true; }));
  writeFile(store() / "c.txt", "store edit");
  writeFile(root_ / "a" / "c.txt", "client edit, newer");
  fs::last_write_time(root_ / "a" / "c.txt", fs::last_write_time(store() / "c.txt") + std::chrono::seconds(5));
  a.silent = false;
  ASSERT_TRUE(a.waitCycles(3));
  std::vector<std::string> contents;
  for (auto& e : fs::directory_iterator(store())) {
    if (e.is_regular_file() && e.path().filename() != ".kqsyncd~store") contents.push_back(readFile(e.path()));
  }
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ(contents, (std::vector<std::string>{"client edit, newer", "store edit"}));
  EXPECT_EQ(readFile(store() / "c.txt"), "client edit, newer");
  EXPECT_TRUE(logged("conflict on /c.txt"));
  ASSERT_TRUE(a.waitCycles(2));
  int copies = 0;
  for (auto& e : fs::directory_iterator(root_ / "a")) copies += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(copies, 2);  // the conflict copy reached the client too
}

TEST_F(SessionTest, AdministratorEditsInTheStoreAreSynchronised) {
  startServer();
  auto& c = client("one");
  c.start();
  ASSERT_TRUE(c.waitCycles(1));
  writeFile(store() / "admin.txt", "from the administrator");
  ASSERT_TRUE(waitUntil([&] { return readFile(root_ / "one" / "admin.txt") == "from the administrator"; }));
  fs::remove(store() / "admin.txt");
  ASSERT_TRUE(waitUntil([&] { return !fs::exists(root_ / "one" / "admin.txt"); }));
}

TEST_F(SessionTest, StoreFolderMissingForAWhileDeletesNothingOnTheClient) {
  writeFile(store() / "docs" / "a.txt", "a");
  writeFile(store() / "b.txt", "b");
  startServer();
  auto& c = client("one");
  c.start();
  ASSERT_TRUE(c.waitCycles(2));
  ASSERT_EQ(readFile(root_ / "one" / "docs" / "a.txt"), "a");
  fs::rename(store(), root_ / "away");
  ASSERT_TRUE(c.waitCycles(3));
  fs::create_directories(store());  // an empty folder in its place (a mount point without its disk)
  ASSERT_TRUE(c.waitCycles(3));
  fs::remove(store());
  fs::rename(root_ / "away", store());
  ASSERT_TRUE(c.waitCycles(3));
  for (auto& r : c.requests()) EXPECT_NE(r.substr(0, 5), "RQDEL");
  EXPECT_EQ(readFile(root_ / "one" / "docs" / "a.txt"), "a");
  EXPECT_EQ(readFile(root_ / "one" / "b.txt"), "b");
  int missing = 0, empty = 0, back = 0;
  {
    std::lock_guard lock(linesMutex_);
    for (auto& l : lines_) {
      missing += l.find("is not available (missing)") != std::string::npos;
      empty += l.find("is not available (no marker file .kqsyncd~store)") != std::string::npos;
      back += l.find("is available again; synchronisation resumes") != std::string::npos;
    }
  }
  EXPECT_EQ(missing, 1);
  EXPECT_EQ(empty, 1);
  EXPECT_EQ(back, 1);
  EXPECT_FALSE(logged("picked up deletion"));
  // Synchronisation goes on afterwards.
  writeFile(store() / "later.txt", "later");
  ASSERT_TRUE(waitUntil([&] { return readFile(root_ / "one" / "later.txt") == "later"; }));
}

// run runs the kqsyncd command line and returns what it printed and its exit status.
std::pair<std::string, int> run(const std::string& arguments) {
  std::string command = std::string(KQSYNCD_PROGRAM) + " " + arguments + " 2>&1";
  FILE* out = ::popen(command.c_str(), "r");
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
  int status = ::pclose(out);
  return {text, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST_F(SessionTest, VersionsAreListedAndRestoredThroughTheCommandLine) {
  writeFile(store() / "notes" / "n.txt", "first");
  book_->save();  // for the command line
  startServer();
  auto& c = client("one");
  c.start();
  ASSERT_TRUE(c.waitCycles(2));
  writeFile(root_ / "one" / "notes" / "n.txt", "second, longer");
  c.queue({"MODIFIED", "/notes/n.txt", ""});
  ASSERT_TRUE(waitUntil([&] { return readFile(store() / "notes" / "n.txt") == "second, longer"; }));
  ASSERT_TRUE(c.waitCycles(1));
  auto edited = std::time(nullptr);  // the deletion comes in a later second than the edit
  ASSERT_TRUE(waitUntil([&] { return std::time(nullptr) > edited; }));
  fs::remove(root_ / "one" / "notes" / "n.txt");
  c.queue({"DELETED", "/notes/n.txt", ""});
  ASSERT_TRUE(waitUntil([&] { return !fs::exists(store() / "notes" / "n.txt"); }));

  std::string data = "--data " + (root_ / "data").string();
  auto [listed, status] = run(data + " versions list --contract 1234 /notes");
  EXPECT_EQ(status, 0) << listed;
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = listed.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(listed.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), 2u) << listed;
  std::string stamp = "\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}Z";
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(stamp + "\t5\t" + sha256Hex("first") + "\t/notes/n.txt")))
      << lines[0];
  EXPECT_TRUE(
      std::regex_match(lines[1], std::regex(stamp + "\t14\t" + sha256Hex("second, longer") + "\t/notes/n.txt")))
      << lines[1];
  EXPECT_LT(lines[0].substr(0, 20), lines[1].substr(0, 20));
  EXPECT_EQ(run(data + " versions list --contract 1234 /other").first, "");

  // The version of the first edit's moment is the first content; it reaches the client.
  auto restored = run(data + " versions restore --contract 1234 notes/n.txt --at " + lines[0].substr(0, 20));
  EXPECT_EQ(restored.second, 0) << restored.first;
  EXPECT_EQ(restored.first, "restored /notes/n.txt: the version of " + lines[0].substr(0, 20) + " (5 bytes)\n");
  ASSERT_TRUE(waitUntil([&] { return readFile(root_ / "one" / "notes" / "n.txt") == "first"; }));
  // Restoring the newest puts the second content back; the first becomes a version again.
  EXPECT_EQ(run(data + " versions restore --contract 1234 /notes/n.txt").second, 0);
  ASSERT_TRUE(waitUntil([&] { return readFile(root_ / "one" / "notes" / "n.txt") == "second, longer"; }));
  EXPECT_EQ(run(data + " versions list --contract 1234").first.size(), listed.size() + lines[0].size() + 1);

  struct Case {
    const char* arguments;
    const char* error;
  } cases[] = {
      {"versions restore --contract 1234 /nothing.txt", "kqsyncd: no version of /nothing.txt at or before "},
      {"versions restore --contract 1234 /notes/n.txt --at yesterday",
       "kqsyncd: --at needs a UTC time like 2026-12-10T14:03:05Z\n"},
      {"versions list --contract 9999", "kqsyncd: no account with contract 9999\n"},
      {"versions list", "kqsyncd: versions list needs --contract\n"},
      {"versions restore --contract 1234", "kqsyncd: versions restore needs the PATH of a file\n"},
      {"versions forget --contract 1234", "kqsyncd: versions needs list or restore\n"},
      {"versions list --contract 1234 --at 2026-12-10T14:03:05Z", "kqsyncd: unknown option --at\n"},
      {"serve --keep-versions 0", "kqsyncd: --keep-versions needs a number of days from 1 to 36500\n"},
      {"serve --keep-versions 7x", "kqsyncd: --keep-versions needs a number of days from 1 to 36500\n"},
  };
  for (auto& k : cases) {
    auto [text, code] = run(data + " " + k.arguments);
    // An unknown option is a command line that cannot be run (usage, exit 2).
    EXPECT_EQ(code, std::string(k.error).find("unknown option") != std::string::npos ? 2 : 1) << k.arguments;
    EXPECT_EQ(text.rfind(k.error, 0), 0u) << k.arguments << ": " << text;
  }
}

TEST_F(SessionTest, RejectedInitTextsCloseTheConnection) {
  writeFile(store() / "secret.txt", "s");
  startServer();
  struct Case { const char* init; } cases[] = {
      {"KQFILESYNC11234WRONGKEY"}, {"KQFILESYNC19999KEY1234abc"}, {"HELLO"}, {"KQFILESYNC15678KEY1234abc"}};
  int n = 0;
  for (auto& k : cases) {
    auto& c = client("rejected" + std::to_string(n++), k.init);
    c.start();
    EXPECT_TRUE(waitUntil([&] { return c.closedByServer(); })) << k.init;
    EXPECT_TRUE(c.requests().empty()) << k.init;
  }
  EXPECT_TRUE(logged("rejected: the init text"));
  EXPECT_FALSE(logged("WRONGKEY"));
}

TEST_F(SessionTest, ContractsDoNotSeeEachOther) {
  writeFile(store("1234") / "mine.txt", "1234");
  writeFile(store("5678") / "theirs.txt", "5678");
  startServer();
  auto& a = client("a");
  auto& b = client("b", "KQFILESYNC15678KEY5678xyz");
  a.start();
  b.start();
  ASSERT_TRUE(a.waitCycles(2));
  ASSERT_TRUE(b.waitCycles(2));
  EXPECT_TRUE(fs::exists(root_ / "a" / "mine.txt"));
  EXPECT_FALSE(fs::exists(root_ / "a" / "theirs.txt"));
  EXPECT_TRUE(fs::exists(root_ / "b" / "theirs.txt"));
  EXPECT_FALSE(fs::exists(root_ / "b" / "mine.txt"));
}

TEST_F(SessionTest, ClientThatStopsAnsweringIsDroppedWithoutTouchingTheStore) {
  writeFile(root_ / "one" / "never.txt", "n");
  startServer(1000);
  auto& c = client("one");
  c.silent = true;
  c.start();
  ASSERT_TRUE(waitUntil([&] { return c.closedByServer(); }));
  EXPECT_TRUE(logged("the client stopped answering"));
  EXPECT_FALSE(fs::exists(store() / "never.txt"));
  EXPECT_TRUE(fs::is_empty(store() / ".kqsyncd.tmp"));
}

// A file the client refuses (its exception list) and a name it cannot hold:
// every announced byte still goes out, the requests after it are read as
// requests, and the files after it arrive. Nothing is offered twice.
TEST_F(SessionTest, RefusedPushesNeverStall) {
  const std::uint64_t bigSize = 16u << 20;  // more than the socket buffers hold
  std::string big(bigSize, 'p');
  writeFile(store() / "a-big.psd", big);
  writeFile(store() / "a:b.txt", "colon");
  writeFile(store() / "CON", "device");
  writeFile(store() / "b-after.txt", "after");
  writeFile(store() / "z" / "deep.txt", "deep");
  startServer();
  auto& c = client("one");
  c.excluded = {".psd"};
  c.refusalPauseMs = 300;  // the server is still sending when the refusal arrives
  c.start();
  ASSERT_TRUE(c.waitCycles(4, 20000));
  EXPECT_FALSE(c.closedByServer());
  EXPECT_EQ(readFile(root_ / "one" / "b-after.txt"), "after");
  EXPECT_EQ(readFile(root_ / "one" / "z" / "deep.txt"), "deep");
  EXPECT_FALSE(fs::exists(root_ / "one" / "a-big.psd"));
  EXPECT_EQ(c.droppedBytes(), bigSize);  // every announced byte, no more
  EXPECT_EQ(offers(c, "\\/a-big.psd"), 1);
  EXPECT_EQ(offers(c, "\\/a:b.txt"), 0);
  EXPECT_EQ(offers(c, "\\/CON"), 0);
  EXPECT_EQ(loggedCount("failed item /a-big.psd: refused by the client (excluded there); not offered again on this "
                        "connection"), 1);
  EXPECT_EQ(loggedCount("failed item /a:b.txt: cannot be synchronised with this client: a drive letter or colon"), 1);
  EXPECT_EQ(loggedCount("failed item /CON: cannot be synchronised with this client: a device name"), 1);
  EXPECT_FALSE(logged("pushed /a-big.psd"));
  // The store keeps what the client refused.
  EXPECT_EQ(fs::file_size(store() / "a-big.psd"), bigSize);
  EXPECT_EQ(readFile(store() / "a:b.txt"), "colon");
}

// A push the client answered but did not keep (a folder it cannot write, or a
// small refused file, whose answer looks like any other): the next listing
// shows it did not take, and it is tried again later, less and less often.
TEST_F(SessionTest, PushesThatDoNotTakeBackOff) {
  writeFile(store() / "small.psd", "tiny");
  writeFile(store() / "fine.txt", "fine");
  SessionOptions options;
  options.firstRetrySeconds = 2;  // whole seconds: the first wait lasts more than 1 s
  options.maxRetrySeconds = 4;
  startServer(3000, options);
  auto& c = client("one");
  c.discarded = {".psd"};
  c.start();
  ASSERT_TRUE(waitUntil([&] { return logged("tried again in 4 s"); }));
  EXPECT_GE(c.cycles(), 5);                     // cycles went on meanwhile ...
  EXPECT_EQ(offers(c, "\\/small.psd"), 2);     // ... but the file was offered twice only
  EXPECT_EQ(loggedCount("push of /small.psd did not take on the client (missing or different in its listing); "
                        "failed item, tried again in 2 s"), 1);
  EXPECT_EQ(offers(c, "\\/fine.txt"), 1);
  EXPECT_FALSE(logged("push of /fine.txt did not take"));
  EXPECT_EQ(readFile(store() / "small.psd"), "tiny");
}

// The client lost the data of a push (a full disk) yet answered: its short
// copy is what the push left, not an edit, and never replaces the store's file.
TEST_F(SessionTest, ShortCopyLeftByAPushIsNotFetched) {
  std::string data(300000, 'd');
  writeFile(store() / "data.bin", data);
  writeFile(store() / "five.txt", "12345");
  SessionOptions options;
  options.firstRetrySeconds = 1;
  startServer(3000, options);
  auto& c = client("one");
  c.writeLimit = 0;
  c.start();
  ASSERT_TRUE(c.waitCycles(3));
  EXPECT_EQ(fs::file_size(root_ / "one" / "data.bin"), 0u);
  EXPECT_EQ(readFile(store() / "data.bin"), data);
  EXPECT_EQ(readFile(store() / "five.txt"), "12345");
  EXPECT_FALSE(logged("fetched /data.bin"));
  EXPECT_FALSE(logged("fetched /five.txt"));
  EXPECT_TRUE(logged("push of /data.bin did not take on the client"));
  // Once the disk has room again, the next try brings the file.
  c.writeLimit = UINT64_MAX;
  ASSERT_TRUE(waitUntil([&] {  // both in the same cycle, one after the other
    return readFile(root_ / "one" / "data.bin") == data && readFile(root_ / "one" / "five.txt") == "12345";
  }));
}

// The client died in the middle of a download; after its restart it reports
// the partial file as changed. That copy is what the cut-off push left: the
// store keeps its file and sends it again.
TEST_F(SessionTest, PartialFileOfACutOffPushIsNotFetchedAfterAReconnection) {
  std::string big(3000000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 13);
  writeFile(store() / "big.bin", big);
  startServer();
  auto& first = client("one");
  first.cutAfter = 1000000;
  first.start();
  ASSERT_TRUE(waitUntil([&] { return first.closedByServer() || logged("connection closed"); }));
  first.stop();
  auto partial = fs::file_size(root_ / "one" / "big.bin");
  ASSERT_GE(partial, 1000000u);
  ASSERT_LT(partial, big.size());
  auto& again = client("one");
  again.queue({"MODIFIED", "/big.bin", ""});
  again.start();
  ASSERT_TRUE(again.waitCycles(2));
  EXPECT_EQ(readFile(store() / "big.bin"), big);
  EXPECT_EQ(readFile(root_ / "one" / "big.bin"), big);
  EXPECT_TRUE(logged("skipped /big.bin: shorter than the unfinished push to the client; not taken as a client edit"));
  EXPECT_FALSE(logged("fetched /big.bin"));
  EXPECT_FALSE(logged("conflict on /big.bin"));
}

// RQCHG carries what is still to push in this cycle: one request before the
// pushes (at least), figures as JSON strings, whole MiB rounded up.
TEST_F(SessionTest, ChangeRequestsCarryWhatIsLeftToPush) {
  writeFile(store() / "two-mib.bin", std::string(2u << 20, 'm'));
  writeFile(store() / "a.txt", "a");
  writeFile(store() / "b.txt", "b");
  startServer();
  auto& c = client("one");
  c.start();
  ASSERT_TRUE(c.waitCycles(2));
  std::vector<std::string> figures;
  for (auto& r : c.requests()) {
    if (r.compare(0, 5, "RQCHG") != 0) continue;
    auto at = r.find("\"filesleft\"");
    ASSERT_NE(at, std::string::npos) << r;
    figures.push_back(r.substr(at));
  }
  ASSERT_FALSE(figures.empty());
  EXPECT_EQ(figures.front(), "\"filesleft\":\"0\",\"mbytesleft\":\"0\"}");  // the drain: nothing planned yet
  EXPECT_NE(std::find(figures.begin(), figures.end(), "\"filesleft\":\"3\",\"mbytesleft\":\"3\"}"), figures.end());
  EXPECT_EQ(figures.back(), "\"filesleft\":\"0\",\"mbytesleft\":\"0\"}");
}

// A change the client reports in answer to the figures before a push is
// applied at once; the plan made before it leaves that path alone.
TEST_F(SessionTest, ChangeReportedBetweenPushesIsAppliedOnce) {
  writeFile(store() / "edit.txt", "one");
  startServer();
  auto& c = client("one");
  c.start();
  ASSERT_TRUE(c.waitCycles(2));
  ASSERT_EQ(readFile(root_ / "one" / "edit.txt"), "one");
  ASSERT_TRUE(c.waitCycles(1));
  writeFile(store() / "a-push.txt", "pushed first");
  writeFile(root_ / "one" / "edit.txt", "edited, longer");
  c.queueAfterListing({"MODIFIED", "/edit.txt", ""});
  ASSERT_TRUE(c.waitCycles(2));
  EXPECT_EQ(readFile(store() / "edit.txt"), "edited, longer");
  EXPECT_EQ(readFile(root_ / "one" / "a-push.txt"), "pushed first");
  EXPECT_EQ(loggedCount("client reports MODIFIED /edit.txt"), 1);
  EXPECT_EQ(loggedCount("fetched /edit.txt"), 1);
  // The report came with the figures of the push, not in a drain.
  bool sawFigures = false;
  for (auto& r : c.requests()) sawFigures = sawFigures || r.find("\"filesleft\":\"1\",\"mbytesleft\":\"1\"}") != std::string::npos;
  EXPECT_TRUE(sawFigures);
}

// Data beyond an announced size (a client that reads a growing file to its
// end) is found by the framing of the next answer, not by waiting for silence:
// the fetch is dropped, the log keeps its late lines, and the session goes on.
TEST_F(SessionTest, DataBeyondTheAnnouncedSizeIsFoundByFraming) {
  writeFile(root_ / "one" / "grow.txt", "abc");
  writeFile(root_ / "one" / "ok.txt", "fine");
  writeFile(root_ / "one" / "_log" / "Filesync.log", "line 1\r\n");
  startServer();
  auto& c = client("one");
  // Late bytes that hold what looks like a header of another type, too.
  c.overrunAfter("/grow.txt", std::string("MORE ANFIL\0\0\0\x01", 14) + std::string(100000, 'm'));
  c.overrunAfter("log", "line 2\r\nline 3\r\n");
  c.start();
  ASSERT_TRUE(c.waitCycles(3));
  EXPECT_FALSE(c.closedByServer());
  EXPECT_EQ(readFile(store() / "ok.txt"), "fine");
  EXPECT_FALSE(fs::exists(store() / "grow.txt"));
  EXPECT_TRUE(logged("fetch of /grow.txt dropped: the file changed while it was sent"));
  ASSERT_TRUE(waitUntil([&] { return fs::exists(book_->clientLogPath("1234")); }));
  EXPECT_EQ(readFile(book_->clientLogPath("1234")), "line 1\r\nline 2\r\nline 3\r\n");
  // Once the file stops growing it is taken.
  c.overrunAfter("/grow.txt", "");
  ASSERT_TRUE(waitUntil([&] { return readFile(store() / "grow.txt") == "abc"; }));
}

// An idle client is asked only for its changes: no listing, no scan, until
// the store or the client changes something (each then listed once more).
TEST_F(SessionTest, IdleCyclesAskOnlyForChanges) {
  writeFile(store() / "a.txt", "a");
  startServer();
  auto& c = client("one");
  c.start();
  ASSERT_TRUE(c.waitCycles(3));
  ASSERT_EQ(readFile(root_ / "one" / "a.txt"), "a");
  auto count = [&](const std::string& type) {
    auto types = c.packetTypes();
    return std::count(types.begin(), types.end(), type);
  };
  auto listings = count("RQLST");
  auto changes = count("RQCHG");
  ASSERT_TRUE(c.waitCycles(4));
  EXPECT_EQ(count("RQLST"), listings) << "idle cycles listed the sync folder";
  EXPECT_GE(count("RQCHG"), changes + 4);

  struct Case {
    const char* name;
    std::function<void()> change;
    fs::path arrives;  // where the change must show
    std::string content;
  } cases[] = {
      {"a file written in the store while idle", [&] { writeFile(store() / "b.txt", "b"); }, root_ / "one" / "b.txt",
       "b"},
      {"a change the client reports",
       [&] {
         writeFile(root_ / "one" / "c.txt", "c");
         c.queue({"MODIFIED", "/c.txt", ""});
       },
       store() / "c.txt", "c"},
  };
  for (auto& k : cases) {
    SCOPED_TRACE(k.name);
    k.change();
    ASSERT_TRUE(waitUntil([&] { return readFile(k.arrives) == k.content; }));
    ASSERT_TRUE(c.waitCycles(3));  // settles: the listings that confirm it are done
    listings = count("RQLST");
    ASSERT_TRUE(c.waitCycles(3));
    EXPECT_EQ(count("RQLST"), listings) << "still listing after the change settled";
  }
}

// Many change reports: each is acted on as it comes, over several cycles, and
// the sync folder is listed only once they are drained; a listing in between
// would fetch the files whose reports are still to come, and the reports
// would fetch them again.
TEST_F(SessionTest, ReportsComingOverSeveralCyclesAreFetchedOnce) {
  SessionOptions few;
  few.maxChanges = 5;
  startServer(3000, few);
  auto& c = client("one");
  c.start();
  ASSERT_TRUE(c.waitCycles(3));
  const int n = 23;
  for (int i = 0; i < n; ++i) writeFile(root_ / "one" / ("f" + std::to_string(i) + ".txt"), std::to_string(i));
  for (int i = 0; i < n; ++i) c.queue({"MODIFIED", "/f" + std::to_string(i) + ".txt", ""});
  ASSERT_TRUE(waitUntil([&] { return fs::exists(store() / ("f" + std::to_string(n - 1) + ".txt")); }));
  ASSERT_TRUE(c.waitCycles(3));
  for (int i = 0; i < n; ++i) EXPECT_EQ(readFile(store() / ("f" + std::to_string(i) + ".txt")), std::to_string(i));
  auto types = c.packetTypes();
  EXPECT_EQ(std::count(types.begin(), types.end(), "RQFIL"), n) << "a file was fetched twice";
  EXPECT_FALSE(logged("same content as the store"));
}

// A listing with nothing but the client's own folders (the sync folder went
// away and the client's log write made it again) deletes nothing.
TEST_F(SessionTest, ListingOfOnlyTheClientsOwnFoldersDeletesNothing) {
  writeFile(store() / "a.txt", "a");
  writeFile(store() / "d" / "b.txt", "b");
  SessionOptions everyCycle;  // no watcher reports here: the safety listing sees the folder gone
  everyCycle.listingSafetyMs = 0;
  startServer(3000, everyCycle);
  auto& c = client("one");
  c.start();
  ASSERT_TRUE(c.waitCycles(3));
  ASSERT_EQ(readFile(root_ / "one" / "d" / "b.txt"), "b");
  fs::create_directories(root_ / "moved");
  fs::rename(root_ / "one" / "a.txt", root_ / "moved" / "a.txt");
  fs::rename(root_ / "one" / "d", root_ / "moved" / "d");
  writeFile(root_ / "one" / "_log" / "Filesync.log", "log\r\n");
  ASSERT_TRUE(c.waitCycles(3));
  EXPECT_EQ(readFile(store() / "a.txt"), "a");
  EXPECT_EQ(readFile(store() / "d" / "b.txt"), "b");
  EXPECT_FALSE(logged("gone from the client's listing"));
  EXPECT_TRUE(logged("listing holds nothing but the client's own folders; taken as no listing this cycle"));
}

}  // namespace
}  // namespace kqs
