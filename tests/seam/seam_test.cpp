// The real client engine against the real server session, one byte stream
// between them under each delivery policy: whole sends, one byte per read, and
// every cut of a request header (file data cut at the same offset). Every
// case ends with the store folder and the sync folder holding the same tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <regex>

#include "protocol/packet.h"
#include "seam_harness.h"
#include "sha256.h"

namespace fs = std::filesystem;

namespace kq::seam {
namespace {

std::vector<Delivery> deliveries() {
  std::vector<Delivery> out{Delivery::whole(), Delivery::bytewise()};
  for (std::size_t at = 1; at <= kHeaderSize; ++at) out.push_back(Delivery::splitAt(at));
  return out;
}

// bodies lists the bodies of the packets of one type and direction.
std::vector<std::string> bodies(const Seam& s, bool fromServer, const std::string& type) {
  std::vector<std::string> out;
  for (auto& p : s.transcript())
    if (p.fromServer == fromServer && p.type == type) out.push_back(p.body);
  return out;
}
std::vector<std::string> sent(const Seam& s, const std::string& type) { return bodies(s, true, type); }
std::vector<std::string> answered(const Seam& s, const std::string& type) { return bodies(s, false, type); }

bool holds(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// listedPaths are the paths of a listing's entries, in its order.
std::vector<std::string> listedPaths(const std::string& listing) {
  static const std::regex path("\"filepath\":\"([^\"]*)\"");
  std::vector<std::string> out;
  for (auto it = std::sregex_iterator(listing.begin(), listing.end(), path); it != std::sregex_iterator(); ++it)
    out.push_back((*it)[1]);
  return out;
}

std::string patterned(std::size_t size, int seed) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 31 + seed * 7) % 251);
  return out;
}

// quietCycle is true when a cycle moved nothing: only RQCHG, RQLST and RQFLS
// went out, and every change report was empty.
::testing::AssertionResult quietCycle(Seam& s) {
  s.clearTranscript();
  if (!s.cycle()) return ::testing::AssertionFailure() << "the cycle failed: " << s.server.lastError();
  for (auto& p : s.transcript()) {
    if (p.fromServer && p.type != "RQCHG" && p.type != "RQLST" && p.type != "RQFLS")
      return ::testing::AssertionFailure() << "the server sent " << p.type << " " << p.body;
    if (!p.fromServer && p.type == "ANCHG" && p.body.find("\"changetype\":\"\"") == std::string::npos)
      return ::testing::AssertionFailure() << "the client reported " << p.body;
  }
  return ::testing::AssertionSuccess();
}

class SeamTest : public ::testing::TestWithParam<Delivery> {
 protected:
  // TearDown shows both logs of a failed case.
  void TearDown() override {
    if (HasFailure() && owned_ != nullptr) {
      for (auto& l : owned_->server.logLines()) std::fprintf(stderr, "server: %s\n", l.c_str());
      for (auto& l : owned_->client.log.lines)
        if (l.show) std::fprintf(stderr, "client: %s\n", l.text.c_str());
    }
  }
  // seam starts a fresh client and server under the case's delivery (the
  // previous one of the case, if any, ends first).
  Seam& seam(Echo echo = Echo::AfterEachRead) {
    owned_.reset();
    owned_ = std::make_unique<Seam>(GetParam(), echo);
    return *owned_;
  }
  // expectClean: no read event of the client failed.
  void expectClean(const Seam& s) { EXPECT_FALSE(s.clientLogged("Error: FilesyncSocketRead()")); }

  std::unique_ptr<Seam> owned_;
};

// RQLST (the first listing of an empty folder), RQPUT + RQFDA of files,
// RQPUT of folders, RQFLS.
TEST_P(SeamTest, StoreFilesAndFoldersReachAnEmptySyncFolder) {
  Seam& s = seam();
  const std::string big = patterned(10000, 1);
  s.storeWrite("docs/a.txt", "hello");
  s.storeWrite("empty.txt", "");
  s.storeWrite("big.bin", big);
  fs::create_directories(s.server.storeFolder() / "emptydir");
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  // The first listing holds only the client's own settings folder.
  EXPECT_EQ(listedPaths(answered(s, "ANLST").front()),
            (std::vector<std::string>{"/_config", "/_config/KnownFiles.dat"}));
  EXPECT_TRUE(holds(sent(s, "RQPUT"), R"({"filepath":"\/docs\/a.txt"})"));
  EXPECT_TRUE(holds(sent(s, "RQPUT"), R"({"filepath":"\/emptydir\/"})"));
  EXPECT_TRUE(holds(sent(s, "RQPUT"), R"({"filepath":"\/big.bin"})"));
  EXPECT_TRUE(holds(sent(s, "RQFDA"), "10000"));
  EXPECT_TRUE(holds(sent(s, "RQFDA"), "0"));
  EXPECT_EQ(sent(s, "RQFDA").size(), answered(s, "ANFDA").size());
  EXPECT_TRUE(s.clientLogged("File " + s.local("docs/a.txt") + " received successfully"));
  EXPECT_TRUE(s.server.logged("pushed /big.bin (10000 bytes)"));
  EXPECT_TRUE(quietCycle(s));
  EXPECT_EQ(s.packetTypes(), (std::vector<std::string>{"RQCHG", "ANCHG", "RQLST", "ANLST", "RQFLS"}));
  const std::string date = s.transcript()[0].body.substr(9, 10);
  EXPECT_EQ(s.transcript()[1].body, "{\"date\":\"" + date + "\",\"time\":\"\",\"changes\":[{\"filepath\":\"\",\"date\":\"" +
                                        date + "\",\"time\":\"\",\"mdate\":\"\",\"mtime\":\"\",\"size\":\"0\",\"changetype\":\"\"}]}");
  EXPECT_EQ(s.transcript()[2].body, R"({"filepath":""})");
  // RQFLS closed every cycle: the client is idle and took its first sync as done.
  EXPECT_EQ(s.client.status.panels[1], "Listening...");
  EXPECT_TRUE(s.client.engine.protocol().initialSyncDone);
  EXPECT_FALSE(s.client.engine.tracker().serverBusy);
  expectClean(s);
  s.expectTreesAgree();
}

// RQLST of a sync folder that holds files the store has not seen, then RQFIL.
TEST_P(SeamTest, FirstListingBringsTheSyncFolderToAnEmptyStore) {
  Seam& s = seam();
  const std::string big = patterned(9000, 2);
  s.diskWrite("notes.txt", "notes");
  s.diskWrite("sub/deep/big.bin", big);
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  EXPECT_TRUE(holds(sent(s, "RQFIL"), R"({"filepath":"\/notes.txt"})"));
  EXPECT_TRUE(holds(sent(s, "RQFIL"), R"({"filepath":"\/sub\/deep\/big.bin"})"));
  EXPECT_TRUE(holds(answered(s, "ANFIL"), "9000"));
  EXPECT_TRUE(s.server.logged("fetched /sub/deep/big.bin (9000 bytes) into the store"));
  EXPECT_TRUE(quietCycle(s));
  expectClean(s);
  s.expectTreesAgree();
}

// RQCHG: an edit, a new file, a deletion and a folder rename made by the user
// and reported by the watcher reach the store with the next cycle.
TEST_P(SeamTest, ReportedChangesReachTheStore) {
  Seam& s = seam();
  s.storeWrite("a.txt", "one");
  s.storeWrite("gone.txt", "bye");
  s.storeWrite("old/x.txt", "x");
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  s.userWrite("a.txt", "two, longer");
  s.userWrite("new.txt", "fresh");
  s.userRemove("gone.txt");
  s.userRename("old", "renamed");
  s.clearTranscript();
  ASSERT_TRUE(s.cycle()) << s.server.lastError();
  // One change per RQCHG, renames first, then modifications, then deletions,
  // each with the server's date of its request; an empty report ends the drain.
  auto change = [](const std::string& path, const std::string& more, const std::string& size, const char* type) {
    return [=](const std::string& d) {
      return "{\"date\":\"" + d + "\",\"time\":\"\",\"changes\":[{\"filepath\":\"" + path + "\"," + more +
             "\"date\":\"" + d + "\",\"time\":\"\",\"mdate\":\"\",\"mtime\":\"\",\"size\":\"" + size +
             "\",\"changetype\":\"" + type + "\"}]}";
    };
  };
  std::vector<std::function<std::string(const std::string&)>> expected{
      change("/old/", "\"newname\":\"renamed\",", "", "RENAMED"), change("/a.txt", "", "11", "MODIFIED"),
      change("/new.txt", "", "5", "MODIFIED"), change("/gone.txt", "", "-1", "DELETED"), change("", "", "0", "")};
  std::vector<std::string> reports, wanted;
  std::string date;
  for (auto& p : s.transcript()) {
    if (p.fromServer && p.type == "RQCHG") date = p.body.substr(9, 10);  // {"date":"yyyy-mm-dd"
    if (!p.fromServer && p.type == "ANCHG" && reports.size() < expected.size()) {
      wanted.push_back(expected[reports.size()](date));
      reports.push_back(p.body);
    }
  }
  EXPECT_EQ(reports, wanted);
  EXPECT_TRUE(s.server.logged("client reports MODIFIED /a.txt"));
  EXPECT_TRUE(s.server.logged("client reports MODIFIED /new.txt"));
  EXPECT_TRUE(s.server.logged("client reports DELETED /gone.txt"));
  EXPECT_TRUE(s.server.logged("client reports RENAMED /old -> renamed"));
  EXPECT_TRUE(holds(sent(s, "RQFIL"), R"({"filepath":"\/a.txt"})"));
  EXPECT_TRUE(holds(sent(s, "RQFIL"), R"({"filepath":"\/new.txt"})"));
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  EXPECT_TRUE(quietCycle(s));
  EXPECT_FALSE(fs::exists(s.server.storeFolder() / "old"));
  expectClean(s);
  s.expectTreesAgree();
}

// RQDEL under the default deletion policy: the client moves the file (and a
// folder with its content) to its trash, and the watcher's report of that
// removal is no deletion of the user's.
void serverDeletionIsNotReportedBack(Seam& s) {
  s.storeWrite("keep.txt", "keep");
  s.storeWrite("gone.txt", "bye");
  s.storeWrite("dir/inner.txt", "inner");
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  // The client's copies were stamped before the store deletion: its clock is
  // a little behind the server's (see ClientClockAheadOfTheServer... below).
  s.restampSyncFiles(-5);
  s.storeRemove("gone.txt");
  s.storeRemove("dir");
  s.clearTranscript();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  EXPECT_TRUE(holds(sent(s, "RQDEL"), R"({"filepath":"\/gone.txt"})"));
  EXPECT_TRUE(holds(sent(s, "RQDEL"), R"({"filepath":"\/dir\/"})"));
  EXPECT_EQ(sent(s, "RQDEL").size(), answered(s, "ANDEL").size());
  EXPECT_TRUE(fs::exists(s.syncFolder() / "_trash" / "gone.txt"));
  EXPECT_TRUE(fs::exists(s.syncFolder() / "_trash" / "dir" / "inner.txt"));
  EXPECT_TRUE(holds(s.watcherMessages(), "2" + s.local("gone.txt")));
  EXPECT_TRUE(quietCycle(s));
  EXPECT_FALSE(s.server.logged("client reports DELETED"));
  EXPECT_TRUE(s.client.engine.tracker().deleteQueue.empty());
  EXPECT_FALSE(s.clientLogged("Error: FilesyncSocketRead()"));
  s.expectTreesAgree();
}

TEST_P(SeamTest, ServerDeletionGoesToTheTrashAndIsNotReportedBack) {
  serverDeletionIsNotReportedBack(seam(Echo::AfterEachRead));
}

// zrservice may hold a removal a while before it reports it (1.5 s), so that
// the report of a removal the server ordered arrives after the cycle ended
// and the client's CheckChanges timer ran: it is still no deletion of the
// user's, and nothing is sent back.
TEST_P(SeamTest, LateEchoOfAServerDeletionIsNotAUserDeletion) {
  serverDeletionIsNotReportedBack(seam(Echo::AfterCycle));
}

// Another client puts the deleted file back into the store before the late
// report arrives: the file put back stays in the store and reaches the client.
TEST_P(SeamTest, LateEchoOfAServerDeletionKeepsAFilePutBack) {
  Seam& s = seam(Echo::AfterCycle);
  s.storeWrite("gone.txt", "bye");
  s.storeWrite("keep.txt", "keep");
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  s.restampSyncFiles(-5);
  s.storeRemove("gone.txt");
  ASSERT_TRUE(s.cycle()) << s.server.lastError();  // RQDEL; the watcher's report is still held
  ASSERT_TRUE(holds(sent(s, "RQDEL"), R"({"filepath":"\/gone.txt"})"));
  s.storeWrite("gone.txt", "put back by another client");
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  EXPECT_FALSE(s.server.logged("client reports DELETED /gone.txt"));
  std::ifstream in(s.server.storeFolder() / "gone.txt", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "put back by another client");
  s.expectTreesAgree();
}

// A client whose clock is a minute ahead of the server's stamps every copy it
// receives later than a store deletion that follows. The copy is still the
// content this connection left on the client: the deletion reaches the
// client, and the file is not fetched back into the store.
TEST_P(SeamTest, ClientClockAheadOfTheServerDoesNotUndoAStoreDeletion) {
  Seam& s = seam();
  s.storeWrite("gone.txt", "bye");
  s.storeWrite("keep.txt", "keep");
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  s.restampSyncFiles(60);
  s.storeRemove("gone.txt");
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  EXPECT_TRUE(holds(sent(s, "RQDEL"), R"({"filepath":"\/gone.txt"})"));
  EXPECT_FALSE(s.server.logged("fetched /gone.txt"));
  EXPECT_FALSE(fs::exists(s.server.storeFolder() / "gone.txt"));
  s.expectTreesAgree();
}

// A file replaced by a folder of the same name, or a folder by a file, on
// either side: the side that swapped wins on both; the store keeps what it
// loses as versions, the client moves what it loses into _trash, and nothing
// the client sends back for its own removal undoes the swap.
TEST_P(SeamTest, FileAndFolderSwapsOnEitherSideConverge) {
  Seam& s = seam();
  s.storeWrite("uf.txt", "the user's file before");
  s.storeWrite("ud/in.txt", "in the user's folder before");
  s.storeWrite("sf.txt", "the store's file before");
  s.storeWrite("sd/in.txt", "in the store's folder before");
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  s.userRemove("uf.txt");
  s.userWrite("uf.txt/new.txt", "the user's new folder");
  s.userRemove("ud");
  s.userWrite("ud", "the user's new file");
  s.storeRemove("sf.txt");
  s.storeWrite("sf.txt/new.txt", "the store's new folder");
  s.storeRemove("sd");
  s.storeWrite("sd", "the store's new file");
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  const Seam::Tree expected = {{"sd", "the store's new file"},         {"sf.txt/", ""},
                               {"sf.txt/new.txt", "the store's new folder"}, {"ud", "the user's new file"},
                               {"uf.txt/", ""},                        {"uf.txt/new.txt", "the user's new folder"}};
  EXPECT_EQ(s.storeTree(), expected);
  s.expectTreesAgree();
  auto trashed = [&](const std::string& relative) {
    std::ifstream in(fs::path(s.syncFolder()) / "_trash" / relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(trashed("sf.txt"), "the store's file before");
  EXPECT_EQ(trashed("sd/in.txt"), "in the store's folder before");
  EXPECT_EQ(s.server.keptVersions("/uf.txt"), std::vector<std::string>{kqs::sha256Hex("the user's file before")});
  EXPECT_EQ(s.server.keptVersions("/ud"), std::vector<std::string>{kqs::sha256Hex("in the user's folder before")});
  // The one skip: the user's report of the file removed with its folder,
  // which the file that took the folder's name already replaced in the store.
  std::vector<std::string> skips;
  for (auto& line : s.server.logLines())
    if (line.find("skipped") != std::string::npos) skips.push_back(line.substr(line.find("skipped")));
  EXPECT_EQ(skips, std::vector<std::string>{"skipped /ud/in.txt: not in the store"});
  EXPECT_FALSE(s.clientLogged("ERROR"));
  EXPECT_TRUE(quietCycle(s));
  expectClean(s);
}

// RQMOV: a folder renamed in the store (as another client's reported rename
// does) is moved on the client, and the moved files are not reported back.
TEST_P(SeamTest, FolderMoveOrderedByTheServer) {
  Seam& s = seam();
  s.storeWrite("old/sub/a.txt", "a");
  s.storeWrite("old/b.txt", "b");
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  ASSERT_TRUE(s.server.renameInStore("/old", "/new"));
  s.clearTranscript();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  EXPECT_EQ(sent(s, "RQMOV"), std::vector<std::string>{R"({"sourcefilepath":"\/old\/","destinationfilepath":"\/new\/"})"});
  EXPECT_EQ(answered(s, "ANMOV").size(), 1u);
  EXPECT_TRUE(sent(s, "RQPUT").empty());
  EXPECT_TRUE(quietCycle(s));
  EXPECT_FALSE(s.server.logged("client reports"));
  expectClean(s);
  s.expectTreesAgree();
}

// RQLOG: the client's log reaches the server's data folder byte for byte.
TEST_P(SeamTest, ClientLogIsFetched) {
  Seam& s = seam();
  const std::string log = "2024/03/07 14:05:09 : Connected to Korvalinq Server!\r\n" + patterned(5000, 3);
  s.diskWrite("_log/Filesync.log", log);
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  s.clearTranscript();
  ASSERT_TRUE(s.fetchLog()) << s.server.lastError();
  EXPECT_EQ(sent(s, "RQLOG"), std::vector<std::string>{R"({"logfile":"Filesync.log"})"});
  EXPECT_EQ(answered(s, "ANLOG"), std::vector<std::string>{std::to_string(log.size())});
  std::ifstream in(s.server.clientLogPath(), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), log);
  EXPECT_TRUE(quietCycle(s));
  expectClean(s);
  s.expectTreesAgree();
}

// A file the server pushed (new, then replaced) and the watcher then reports
// is not sent back as a change, whether the report comes at once or late.
TEST_P(SeamTest, EchoOfAPushIsNotSentBack) {
  for (Echo echo : {Echo::AfterEachRead, Echo::AfterCycle}) {
    SCOPED_TRACE(echo == Echo::AfterEachRead ? "echo after each read" : "echo after the cycle");
    Seam& s = seam(echo);
    s.storeWrite("docs/a.txt", "first");
    s.connect();
    ASSERT_TRUE(s.settle()) << s.server.lastError();
    s.storeWrite("docs/a.txt", "second, longer");
    ASSERT_TRUE(s.settle()) << s.server.lastError();
    // The watcher knows how the client puts a received file in place (its
    // ".kqpart" renamed over the name) and does not report it at all.
    EXPECT_FALSE(holds(s.watcherMessages(), "1" + s.local("docs\\a.txt")));
    EXPECT_TRUE(quietCycle(s));
    EXPECT_FALSE(s.server.logged("client reports"));
    EXPECT_EQ(s.server.logged("fetched"), false);
    EXPECT_TRUE(s.client.engine.tracker().modificationQueue.empty());
    expectClean(s);
    s.expectTreesAgree();
  }
}

// A store file whose name the client excludes is refused: ANPUT, ANFDA at
// once, the data dropped by count. The server marks it failed and does not
// offer it again on the connection; names the server itself keeps out (".tmp")
// are never offered.
TEST_P(SeamTest, RefusedPushIsNotOfferedAgain) {
  Seam& s = seam();
  s.setExceptions(".tmp\r\n.TMP\r\n.bak\r\n", "");
  s.storeWrite("x.bak", patterned(6000, 4));
  s.storeWrite("x.tmp", "temporary");
  s.storeWrite("keep.txt", "keep");
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  EXPECT_TRUE(quietCycle(s));
  EXPECT_TRUE(quietCycle(s));
  int offers = 0, tmpOffers = 0;
  for (auto& r : s.server.requests()) {
    if (r.compare(0, 5, "RQPUT") != 0) continue;
    offers += r.substr(kHeaderSize) == R"({"filepath":"\/x.bak"})";
    tmpOffers += r.find("x.tmp") != std::string::npos;
  }
  EXPECT_EQ(offers, 1);
  EXPECT_EQ(tmpOffers, 0);
  EXPECT_TRUE(s.server.logged(
      "failed item /x.bak: refused by the client (excluded there); not offered again on this connection (1 failed on "
      "this connection)"));
  EXPECT_TRUE(s.clientLogged("Ignoring file transfer from Server due restrictions. RQFDA is blocked."));
  expectClean(s);
  s.expectTreesAgree({"x.bak", "x.tmp"});
}

// The link fails in the middle of RQFDA: the client keeps its older copy (or
// nothing) and no partial file; the next connection completes the file.
TEST_P(SeamTest, CutTransferLeavesNoPartialFileAndCompletesLater) {
  Seam& s = seam();
  const std::string v1 = patterned(3000, 5), v2 = patterned(10000, 6), fresh = patterned(8000, 7);
  s.storeWrite("doc.bin", v1);
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  s.storeWrite("doc.bin", v2);
  s.cutAfterDataBytes(5000);
  EXPECT_FALSE(s.cycle());
  EXPECT_FALSE(s.connected());
  std::ifstream in(s.syncFolder() / "doc.bin", std::ios::binary);
  EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == v1) << "the client's older copy changed";
  EXPECT_FALSE(fs::exists(s.syncFolder() / "doc.bin.kqpart"));
  EXPECT_TRUE(s.clientLogged("Transfer cut off by the closed connection, partial file removed: " +
                             s.local("doc.bin") + ".kqpart"));
  // A new file cut off leaves nothing at all.
  s.storeWrite("fresh.bin", fresh);
  s.connect();
  s.cutAfterDataBytes(12000);  // doc.bin whole, fresh.bin cut
  EXPECT_FALSE(s.cycle());
  EXPECT_FALSE(fs::exists(s.syncFolder() / "fresh.bin"));
  EXPECT_FALSE(fs::exists(s.syncFolder() / "fresh.bin.kqpart"));
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  EXPECT_TRUE(quietCycle(s));
  EXPECT_FALSE(s.server.logged("client reports"));
  expectClean(s);
  s.expectTreesAgree();
}

// The link fails while the client sends a file (ANFIL): the store keeps its
// older copy and no temporary file; the next connection fetches the file whole.
TEST_P(SeamTest, CutFetchLeavesTheStoreAsItWasAndCompletesLater) {
  Seam& s = seam();
  const std::string v1 = patterned(3000, 8), v2 = patterned(10000, 9);
  s.storeWrite("doc.bin", v1);
  // The store's copy is a minute old when the user edits the file.
  fs::last_write_time(s.server.storeFolder() / "doc.bin", fs::file_time_type::clock::now() - std::chrono::minutes(1));
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  s.userWrite("doc.bin", v2);
  s.cutAfterClientDataBytes(5000);
  EXPECT_FALSE(s.cycle());
  EXPECT_FALSE(s.connected());
  EXPECT_TRUE(holds(answered(s, "ANFIL"), "10000"));
  std::ifstream in(s.server.storeFolder() / "doc.bin", std::ios::binary);
  EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == v1) << "the store's copy changed";
  EXPECT_TRUE(fs::is_empty(s.server.storeFolder() / ".kqsyncd.tmp"));
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  EXPECT_TRUE(quietCycle(s));
  expectClean(s);
  s.expectTreesAgree();
  EXPECT_TRUE(s.storeTree().at("doc.bin") == v2) << "the store holds " << s.storeTree().at("doc.bin").size() << " bytes";
}

// Listings that miss more than 50 synchronised files delete nothing in the
// store; without a record of held deletions (the harness keeps none) the
// files are pushed back to the client after the listing that held them.
TEST_P(SeamTest, MassDeletionGuardKeepsTheStore) {
  Seam& s = seam();
  for (int i = 0; i < 60; ++i) s.storeWrite("many/f" + std::to_string(i) + ".txt", "file " + std::to_string(i));
  s.storeWrite("keep.txt", "keep");
  s.connect();
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  for (int i = 0; i < 55; ++i) fs::remove(s.syncFolder() / "many" / ("f" + std::to_string(i) + ".txt"));
  s.clearTranscript();
  // The first listing lacking them: they wait for the next; the second holds them.
  ASSERT_TRUE(s.cycle()) << s.server.lastError();
  EXPECT_TRUE(s.server.logged("are gone from the client's listings within 5 minutes"));
  ASSERT_TRUE(s.cycle()) << s.server.lastError();
  EXPECT_EQ(s.storeTree().size(), 62u);  // many/, 60 files, keep.txt
  ASSERT_TRUE(s.settle()) << s.server.lastError();
  EXPECT_FALSE(s.server.logged("store: deleted"));
  expectClean(s);
  s.expectTreesAgree();
  EXPECT_EQ(s.syncTree().size(), 62u);
}

INSTANTIATE_TEST_SUITE_P(Deliveries, SeamTest, ::testing::ValuesIn(deliveries()),
                         [](const ::testing::TestParamInfo<Delivery>& info) { return info.param.name(); });

}  // namespace
}  // namespace kq::seam
