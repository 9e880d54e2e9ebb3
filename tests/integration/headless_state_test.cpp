// The headless client's messages and published state, without sockets.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <tuple>

#include "support/recorders.h"
#include "ui/headless/client_notices.h"
#include "ui/headless/headless_views.h"
#include "ui/headless/folder_lock.h"
#include "ui/headless/state_location.h"
#include "ui/headless/status_publisher.h"
#include "engine/transfer_meter.h"

namespace kq {
namespace {

class NoticesTest : public ::testing::Test {
 protected:
  test::RecordingLog log;
  std::vector<std::string> shown;
  int gaveUp = 0;
  ClientNotices notices{log, {"sync.example.com", "21234", "1234"},
                        [this](const std::string& text) { shown.push_back(text); },
                        [this](int code) { gaveUp = code; }};
};

TEST_F(NoticesTest, AnUnreachableServerIsToldOnceUntilAConnectionWorked) {
  notices.serverError(10061);
  notices.serverError(10061);
  notices.serverError(10060);
  EXPECT_EQ(shown, (std::vector<std::string>{"cannot reach sync.example.com:21234: connection refused (10061); is "
                                             "contract 1234 right? the server derives the port 21234"}));
  notices.serverConnected();
  notices.serverRead();
  notices.serverDisconnected();
  notices.serverError(11001);
  EXPECT_EQ(shown.back(), "cannot reach sync.example.com:21234: host not found (11001)");
  EXPECT_EQ(shown.size(), 4u) << "connected and disconnected in between";
  EXPECT_EQ(log.texts(), shown);
  EXPECT_EQ(gaveUp, 0);
}

// The engine counts the refusals (its status record); the notices stop the
// client at the third in a row, once, with the hint for a derived port.
TEST_F(NoticesTest, TheThirdRefusalInARowOfTheEnginesStatusIsARejection) {
  const std::string rejected = "the server rejected contract 1234 / API key";
  const std::string hint = "; is contract 1234 right? the server derives the port 21234";
  struct Case {
    const char* name;
    std::string port;
    std::vector<int> refusals;  // refusalsInARow of each published record
    int gaveUp;
    std::string told;
  };
  const Case cases[] = {
      {"two refusals", "21234", {1, 1, 2, 2}, 0, ""},
      {"three refusals", "21234", {1, 2, 3}, ClientNotices::kExitRejected, rejected + hint},
      {"told once", "21234", {3, 3, 4}, ClientNotices::kExitRejected, rejected + hint},
      {"an answer in between starts the count again", "21234", {1, 2, 0, 1, 2}, 0, ""},
      {"a port of its own has no hint", "8080", {1, 2, 3}, ClientNotices::kExitRejected, rejected},
  };
  for (const auto& c : cases) {
    test::RecordingLog stepLog;
    std::vector<std::string> lines;
    int code = 0, calls = 0;
    ClientNotices n{stepLog, {"h", c.port, "1234"}, [&](const std::string& t) { lines.push_back(t); },
                    [&](int got) { code = got, ++calls; }, ClientNotices::Verbosity::Quiet};
    for (int r : c.refusals) {
      EngineStatus status;
      status.refusalsInARow = r;
      n.statusChanged(status);
    }
    EXPECT_EQ(code, c.gaveUp) << c.name;
    EXPECT_EQ(calls, c.gaveUp ? 1 : 0) << c.name;
    EXPECT_EQ(lines, c.told.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.told}) << c.name;
    EXPECT_EQ(stepLog.texts(), lines) << c.name;
  }
}

TEST_F(NoticesTest, ClosesOfTheLinkAloneAreNoRejection) {
  for (int i = 0; i < 5; ++i) {
    notices.serverConnected();
    notices.serverDisconnected();
  }
  EXPECT_EQ(gaveUp, 0);
  EXPECT_TRUE(shown.empty());
}

TEST_F(NoticesTest, AMissingWatcherIsToldOnceUntilItWasConnected) {
  notices.watcherUnavailable();
  notices.watcherUnavailable();
  notices.watcherConnected();
  notices.watcherUnavailable();
  const std::string warning =
      "zrservice is not running (127.0.0.1:11111): changes in the sync folder are only found by the server's listings";
  EXPECT_EQ(shown, (std::vector<std::string>{warning, "zrservice is running again (127.0.0.1:11111)", warning}));
}

TEST(WatcherNoticesTest, TheUsersAddressIsNamedAndAForeignWatcherIsToldOnceUntilItsOwnAnswered) {
  test::RecordingLog log;
  std::vector<std::string> shown;
  ClientNotices::Target target{"h", "21234", "1234", "/home/me/Sync", "/run/user/1000/kqfilesync/zrservice.sock"};
  ClientNotices notices{log, target, [&](const std::string& text) { shown.push_back(text); }, [](int) {}};
  notices.watcherForeign(61001);
  notices.watcherForeign(61001);
  notices.watcherUnavailable();
  notices.watcherConnected();
  notices.watcherForeign(std::nullopt);
  EXPECT_EQ(shown, (std::vector<std::string>{
                       "refused the watcher at /run/user/1000/kqfilesync/zrservice.sock: it runs as another user "
                       "(uid 61001)",
                       "zrservice is not running (/run/user/1000/kqfilesync/zrservice.sock): changes in the sync "
                       "folder are only found by the server's listings",
                       "zrservice is running again (/run/user/1000/kqfilesync/zrservice.sock)",
                       "refused the watcher at /run/user/1000/kqfilesync/zrservice.sock: it runs as another user "
                       "(its owner is unknown)",
                   }));
  EXPECT_EQ(log.texts(), shown);
}

TEST_F(NoticesTest, AWorkingConnectionIsToldWhenItStartsAndWhenItEndsWithTheReason) {
  notices.serverConnected();
  notices.serverRead();
  notices.serverRead();
  notices.serverDisconnected();
  notices.serverConnected();
  notices.serverRead();
  notices.serverError(10054);
  notices.serverError(10061);
  EXPECT_EQ(shown, (std::vector<std::string>{
                       "connected to sync.example.com:21234",
                       "disconnected from sync.example.com:21234: the server closed the connection",
                       "connected to sync.example.com:21234",
                       "disconnected from sync.example.com:21234: connection reset (10054)",
                       "cannot reach sync.example.com:21234: connection refused (10061); is contract 1234 right? "
                       "the server derives the port 21234",
                   }));
  EXPECT_EQ(log.texts(), shown);
}

TEST(ContractHintTest, OnlyAPortDerivedFromTheContractGetsTheHint) {
  EXPECT_EQ(contractHint("1234", "21234"), "is contract 1234 right? the server derives the port 21234");
  EXPECT_EQ(contractHint("0042", "20042"), "is contract 0042 right? the server derives the port 20042");
  EXPECT_EQ(contractHint("1234", "8080"), "");
  EXPECT_EQ(contractHint("", "2"), "");
}

TEST(StatusNoticesTest, EachChangeOfStateIsOneLineAtTheChosenVerbosity) {
  EngineStatus away;
  away.syncFolderPresent = false;
  EngineStatus back;
  back.failedItems = {{"/a:b.txt", "a drive letter or colon"}};
  back.cycleEndedAt = 100;
  EngineStatus later = back;
  later.failedItems.push_back({"/what?.txt", "a character Windows refuses"});
  later.cycleEndedAt = 101;
  struct Case {
    ClientNotices::Verbosity verbosity;
    std::vector<std::string> lines;
  };
  const std::vector<std::string> normal = {
      "sync folder not found: /home/me/Sync", "sync folder found again: /home/me/Sync",
      "not synchronised: /a:b.txt (a drive letter or colon)",
      "not synchronised: /what?.txt (a character Windows refuses)"};
  const Case cases[] = {
      {ClientNotices::Verbosity::Quiet, {}},
      {ClientNotices::Verbosity::Normal, normal},
      {ClientNotices::Verbosity::Verbose,
       {normal[0], normal[1], normal[2], "cycle completed", normal[3], "cycle completed"}},
  };
  for (const auto& c : cases) {
    test::RecordingLog log;
    std::vector<std::string> shown;
    ClientNotices n{log, {"h", "21234", "1234", "/home/me/Sync"},
                    [&](const std::string& text) { shown.push_back(text); }, [](int) {}, c.verbosity};
    for (const EngineStatus& s : {away, away, back, back, later, later}) n.statusChanged(s);
    EXPECT_EQ(shown, c.lines) << static_cast<int>(c.verbosity);
    EXPECT_TRUE(log.texts().empty()) << "the engine logged these itself";
    n.stopping("the sync folder /x is used by another kqfilesync (process 1)");
    EXPECT_EQ(shown.back(), "the sync folder /x is used by another kqfilesync (process 1)");
  }
}

TEST(StateLocationTest, EachSyncFolderHasItsOwnFilesInTheStateFolder) {
  const char* saved = std::getenv("XDG_STATE_HOME");
  std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("XDG_STATE_HOME", "/var/tmp/st", 1);
  EXPECT_EQ(stateFiles("/etc/kq", "/home/me/Sync").status, "/var/tmp/st/kqfilesync/home-me-Sync.status.json");
  EXPECT_EQ(stateFiles("/etc/kq", "/home/me/my-sync").lock, "/var/tmp/st/kqfilesync/home-me-my\\x2dsync.lock");
  ::setenv("XDG_STATE_HOME", "relative", 1);  // ignored
  ::setenv("HOME", "/home/me", 1);
  EXPECT_EQ(stateFolder("/etc/kq"), "/home/me/.local/state/kqfilesync");
  ::unsetenv("XDG_STATE_HOME");
  ::unsetenv("HOME");
  EXPECT_EQ(stateFolder("/etc/kq"), "/etc/kq");
  EXPECT_NE(stateName("/a/b"), stateName("/a-b"));
  if (saved) ::setenv("XDG_STATE_HOME", saved, 1);
  if (!savedHome.empty()) ::setenv("HOME", savedHome.c_str(), 1);
}

TEST(FolderLockTest, TheLockFollowsTheFolderAwayAndBack) {
  const std::string base = ::testing::TempDir() + "kq-lock-" + std::to_string(::getpid());
  const std::string folder = base + "/Sync";
  ASSERT_EQ(std::system(("rm -rf '" + base + "' && mkdir -p '" + base + "'").c_str()), 0);
  FolderLock lock(folder);
  EXPECT_EQ(lock.follow(), FolderLock::State::Missing);
  EXPECT_FALSE(lock.held());
  ASSERT_EQ(std::system(("mkdir '" + folder + "'").c_str()), 0);
  EXPECT_EQ(lock.follow(), FolderLock::State::Held);
  EXPECT_TRUE(FolderLock::isHeld(folder));
  FolderLock second(folder);
  EXPECT_EQ(second.follow(), FolderLock::State::Refused);
  EXPECT_EQ(second.problem().rfind("the sync folder " + folder + " is used by another kqfilesync (process " +
                                       std::to_string(::getpid()) + ": ", 0),
            0u)
      << second.problem();
  // Moved away: the lock goes with the folder; a new folder in its place is locked anew.
  ASSERT_EQ(std::system(("mv '" + folder + "' '" + base + "/away' && mkdir '" + folder + "'").c_str()), 0);
  EXPECT_EQ(lock.follow(), FolderLock::State::Held);
  EXPECT_TRUE(FolderLock::isHeld(folder));
  ASSERT_EQ(std::system(("rm -rf '" + folder + "'").c_str()), 0);
  EXPECT_EQ(lock.follow(), FolderLock::State::Missing);
  EXPECT_FALSE(lock.held());
  EXPECT_FALSE(FolderLock::isHeld(base + "/away"));
  std::system(("rm -rf '" + base + "'").c_str());
}

TEST(StatePublisherTest, TheStateAndItsFileFollowTheEnginesRecord) {
  const std::string folder = ::testing::TempDir() + "kq-state-" + std::to_string(::getpid());
  ASSERT_EQ(std::system(("mkdir -p '" + folder + "/_log'").c_str()), 0);
  std::int64_t now = 100;
  const std::string path = folder + "/state.json";
  StatePublisher publisher({}, path, [&] { return now; });
  publisher.setFolderLocked(true);
  EngineStatus e;
  e.connected = true;
  e.watcherLinkUp = true;
  e.activity = "Receiving file data...";
  e.queuedModifications = 3;
  e.queuedDeletions = 1;
  e.cycleEndedAt = 200;
  e.failedItems = {{"\\/a\\b.txt", "it holds a backslash"}, {"\\/c:d.txt", "it holds a colon"}};
  e.receiving = TransferProgress{"big.iso", 10, 100, 5};
  e.lastError = "Error in FilesyncSocketRead(): boom";
  publisher.publish(e);
  const ClientState& s = publisher.state();
  EXPECT_TRUE(s.connected);
  EXPECT_TRUE(s.watcherConnected);
  EXPECT_EQ(s.activity, "Receiving file data...");
  EXPECT_EQ((std::pair{s.queuedModifications, s.queuedDeletions}), (std::pair{3, 1}));
  EXPECT_EQ(s.lastCycleEnd, 200);
  EXPECT_EQ(s.failedItems, 2);
  EXPECT_EQ(s.failed, e.failedItems);
  EXPECT_EQ(s.transfer, e.receiving);
  EXPECT_EQ(s.updated, 100);
  EXPECT_TRUE(s.syncFolderLocked);
  std::ifstream written(path);
  std::string text((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, stateJson(s));

  now = 300;  // an unchanged record writes nothing
  publisher.publish(e);
  EXPECT_EQ(publisher.state().updated, 100);
  e.activity = "Listening...";
  e.connected = false;
  publisher.publish(e);
  EXPECT_EQ(publisher.state().activity, "");
  EXPECT_FALSE(publisher.state().connected);
  EXPECT_EQ(publisher.state().updated, 300);
  publisher.stopped();
  EXPECT_FALSE(publisher.state().transfer);
  EXPECT_FALSE(publisher.state().syncFolderLocked);
  std::system(("rm -rf '" + folder + "'").c_str());
}

TEST(StateFileTest, TheStateReadsBackAndShowsAsText) {
  ClientState s;
  s.pid = 42;
  s.connected = true;
  s.server = "h:21234";
  s.contract = "1234";
  s.syncFolder = "/home/me/Sync";
  s.lastCycleEnd = 1700000000;
  s.queuedModifications = 2;
  s.failedItems = 1;
  s.failed = {{"\\/a\\b.txt", "it holds a backslash"}};
  s.lastError = "Socket Error # 10061";
  s.sending = TransferProgress{"up.bin", 1024, 2048, 0};
  s.transfer = TransferProgress{"/big.iso", 3 * 1048576, 10 * 1048576, 512 * 1024};
  auto back = stateFromJson(stateJson(s));
  ASSERT_TRUE(back);
  EXPECT_EQ(stateJson(*back), stateJson(s));
  EXPECT_FALSE(stateFromJson("{\"pid\": 1}"));
  EXPECT_FALSE(stateFromJson("not json"));
  EXPECT_EQ(transferText(*s.transfer), "/big.iso 3.0 MB / 10.0 MB at 512.0 KB/s");
  std::string text = statusText(s, true);
  EXPECT_NE(text.find("Client:          running (process 42)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Server:          h:21234 (connected)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Now:             /big.iso 3.0 MB / 10.0 MB at 512.0 KB/s\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Failed items:    1\n                 \\/a\\b.txt: it holds a backslash\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Sending:         up.bin 1.0 KB / 2.0 KB\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Last error:      Socket Error # 10061\n"), std::string::npos) << text;
  EXPECT_NE(statusText(s, false).find("Client:          not running\n"), std::string::npos);
  EXPECT_NE(text.find("Folder lock:     not held\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Refused:"), std::string::npos) << text;
  EXPECT_NE(statusJson(s, true).find("\"refusals_in_a_row\": 0"), std::string::npos);
  for (auto [count, line] : {std::pair{1, "Refused:         1 time in a row: "}, {3, "Refused:         3 times in a row: "}}) {
    ClientState refused = s;
    refused.refusalsInARow = count;
    EXPECT_NE(statusText(refused, false).find(std::string(line) + "the server closed the connection at the contract "
                                              "and API key\nContract:"), std::string::npos) << statusText(refused, false);
    EXPECT_EQ(stateFromJson(stateJson(refused))->refusalsInARow, count);
  }
  s.syncFolderPresent = false;
  EXPECT_NE(statusText(s, true).find("Folder lock:     not held (the sync folder is missing)\n"), std::string::npos);
  s.syncFolderPresent = true;
  EXPECT_EQ(failedText(s), "\\/a\\b.txt: it holds a backslash\n");
  EXPECT_EQ(failedListJson(s), "[\n  {\n    \"path\": \"\\\\/a\\\\b.txt\",\n    \"reason\": \"it holds a backslash\"\n  }\n]\n");
  // A state file of an older client, without the later fields, still reads.
  std::string old = stateJson(s);
  old = old.substr(0, old.find(",\n  \"watcher_connected\"")) + "\n}\n";
  auto older = stateFromJson(old);
  ASSERT_TRUE(older) << old;
  EXPECT_TRUE(older->failed.empty());
}

TEST(TransferMeterTest, TheRateComesFromTheBytesBetweenSamplesAndStartsAfreshPerFile) {
  TransferMeter meter;
  struct Sample {
    const char* file;
    std::int64_t done, ms;
    double rate;
  };
  const Sample samples[] = {
      {"a.iso", 1000, 0, 0},            // the first sample has no rate yet
      {"a.iso", 3000, 1000, 2000},      // 2000 bytes in one second
      {"a.iso", 7000, 2000, 3000},      // 4000 bytes/s, averaged with the last rate
      {"a.iso", 7000, 2000, 3000},      // no time passed: the rate stands
      {"b.iso", 500, 2500, 0},          // another file
      {"b.iso", 1500, 3000, 2000},
      {"b.iso", 100, 4000, 0},          // fewer bytes: a new transfer of the same name
  };
  for (const auto& s : samples) {
    TransferProgress p = meter.sample(s.file, s.done, 10000, s.ms);
    EXPECT_EQ((std::tuple{p.file, p.bytesDone, p.bytesTotal}), (std::tuple{std::string(s.file), s.done, 10000}));
    EXPECT_DOUBLE_EQ(p.bytesPerSecond, s.rate) << s.file << " " << s.ms;
  }
}

TEST(TerminalStatusViewTest, TheProgressFollowsTheActivity) {
  TerminalStatusView view(nullptr);
  view.setPanel(0, "sync.example.com");
  view.setPanel(1, "Receiving file data...");
  view.setPanel(4, "Files left: 2");
  view.setConnectCaption("Disconnect");
  view.setProgress(transferText({"docs/big.iso", 1572864, 4194304, 358400}));
  EXPECT_EQ(view.line(), "sync.example.com | Receiving file data... | docs/big.iso 1.5 MB / 4.0 MB at 350.0 KB/s | "
                         "Files left: 2");
  view.setProgress("");
  EXPECT_EQ(view.line(), "sync.example.com | Receiving file data... | Files left: 2");
  EXPECT_EQ(transferText({"a", 10, 2048, 0}), "a 10 B / 2.0 KB");
}

TEST(TerminalStatusViewTest, ALineIsCutToTheColumnsOfItsTerminal) {
  const std::string e = "\xE2\x80\xA6";  // the ellipsis
  const struct {
    std::string text;
    int columns;
    std::string shown;
  } cases[] = {
      {"abcdef", 6, "abcdef"},
      {"abcdefg", 6, "abcde" + e},
      {"ab\xC3\xA9" "def", 5, "ab\xC3\xA9" "d" + e},        // é is one column
      {"\xE6\x97\xA5\xE6\x9C\xAC.txt", 5, "\xE6\x97\xA5\xE6\x9C\xAC" + e},  // 日 and 本 take two each
      {"\xE6\x97\xA5\xE6\x9C\xAC.txt", 4, "\xE6\x97\xA5" + e},
      {"\xE6\x97\xA5\xE6\x9C\xAC", 4, "\xE6\x97\xA5\xE6\x9C\xAC"},
      {"", 3, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(fitColumns(c.text, c.columns), c.shown) << c.text << " " << c.columns;
}

TEST(TerminalStatusViewTest, EachChangeRewritesOneLineInPlaceWithinTheWidth) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  {
    TerminalStatusView view(out, [] { return 20; });
    view.setPanel(0, "sync.example.com");
    view.setPanel(1, "Listening...");
    view.setPanel(1, "Listening...");  // no change: not drawn again
    view.setProgress("Z:\\s\\a.txt");
  }
  std::fclose(out);
  std::string written(buffer, size);
  std::free(buffer);
  EXPECT_EQ(written, "\rsync.example.com\x1b[K\rsync.example.com |\xE2\x80\xA6\x1b[K");  // the same cut line once
}

}  // namespace
}  // namespace kq
