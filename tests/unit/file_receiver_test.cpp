#include "transfer/file_receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>

#include "support/handler_fixture.h"

namespace kq {
namespace {

using namespace std::string_literals;

class FileReceiverTest : public test::HandlerFixture {
 protected:
  std::string put(const std::string& value) {
    PacketContext packet{kRQPUT, ""};
    receiver.onMember("\"filepath\"", value, packet);
    return packet.answerType;
  }
  static std::string header(std::uint64_t size) {
    return encodeHeader(PacketHeader{"RQFDA", {'\x01', '\x02', '\x03', '\x04'}, size});
  }
  // feed hands a read to the receiver as the dispatcher does; returns the answer.
  std::string feed(const std::string& read, std::size_t* consumed = nullptr) {
    PacketContext packet{protocol.fileDataMode ? 0 : kRQFDA, ""};
    std::size_t used = protocol.fileDataMode ? receiver.onData(read, packet)
                                             : receiver.onHeader(read, packet);
    if (consumed) *consumed = used;
    return packet.answerType;
  }
  FileReceiver receiver{ports};
};

TEST_F(FileReceiverTest, FilePushedInOneRead) {
  protocol.initialSyncDone = true;
  EXPECT_EQ(put(R"(\/docs\/report.pdf)"), "ANPUT");
  EXPECT_EQ(status.panels[1], "Receiving file");
  std::size_t consumed = 0;
  EXPECT_EQ(feed(header(11) + "hello world", &consumed), "ANFDA");
  EXPECT_EQ(consumed, 28u);
  EXPECT_EQ(read("docs\\report.pdf"), "hello world");
  EXPECT_FALSE(protocol.fileDataMode);
  EXPECT_FALSE(receiver.fileOpen());
  EXPECT_EQ(receiver.receivedFileBytes, 0u);
  EXPECT_EQ(receiver.expectedFileSize, 11u);
  EXPECT_EQ(receiver.receivingFileName, "");
  EXPECT_EQ(status.panels[1], "File received");
  EXPECT_TRUE(tracker.serverBusy);
  EXPECT_TRUE(tracker.serverQueue.empty());  // complete: remembered by what it holds
  tracker.handleWatcherChange(3, at("docs\\report.pdf"));
  EXPECT_TRUE(tracker.modificationQueue.empty());
  const std::vector<test::LogLine> expected = {
      {"filepath=\\/docs\\/report.pdf", true},
      {"File name received", true},
      {"Saving file transfer from Server.", true},
      {at("docs\\report.pdf"), true},
      {"File size to receive: 11", true},
      {"Received: 11 of 11", false},
      {"Receiving file data...", false},
      {"File opened to write.", false},
      {"File closed.", true},
      {"File " + at("docs\\report.pdf") + " received successfully", true},
  };
  EXPECT_EQ(log.lines, expected);
}

TEST_F(FileReceiverTest, FilePushedOverManyReadsReplacesTheOldCopyOnlyWhenComplete) {
  protocol.initialSyncDone = true;
  ASSERT_TRUE(write("a.bin", "an older and longer content"));
  EXPECT_EQ(put(R"(\/a.bin)"), "ANPUT");
  EXPECT_EQ(status.panels[1], "Updating file");
  EXPECT_EQ(read("a.bin"), "an older and longer content");  // the RQPUT removes nothing
  std::size_t consumed = 0;
  EXPECT_EQ(feed(header(10), &consumed), "");  // the header alone creates the temporary file
  EXPECT_EQ(consumed, 17u);
  EXPECT_TRUE(protocol.fileDataMode);
  EXPECT_EQ(read("a.bin.kqpart"), "");
  EXPECT_EQ(feed("0123"), "");
  EXPECT_EQ(status.panels[1], "Receiving file data...");
  EXPECT_EQ(feed("RQDEL"), "");  // in data mode a request name is plain data
  EXPECT_EQ(read("a.bin"), "an older and longer content");
  EXPECT_EQ(read("a.bin.kqpart"), "0123RQDEL");
  EXPECT_EQ(feed("9"), "ANFDA");
  EXPECT_EQ(read("a.bin"), "0123RQDEL9");
  EXPECT_FALSE(exists("a.bin.kqpart"));
  EXPECT_TRUE(log.contains("Received: 4 of 10"));  // the first block and the last, not every read
  EXPECT_FALSE(log.contains("Received: 9 of 10"));
  EXPECT_TRUE(log.contains("Received: 10 of 10"));
  EXPECT_TRUE(log.contains("Received data packet from server"));
}

TEST_F(FileReceiverTest, BytesBeyondTheAnnouncedSizeAreHandedBack) {
  const std::string next = encodeHeader(PacketHeader{"RQFLS", {}, 2}) + "{}";
  put(R"(\/x.txt)");
  std::size_t consumed = 0;
  EXPECT_EQ(feed(header(3) + "abc" + next, &consumed), "ANFDA");
  EXPECT_EQ(consumed, 20u);
  EXPECT_EQ(read("x.txt"), "abc");

  put(R"(\/y.txt)");
  EXPECT_EQ(feed(header(4) + "ab"), "");
  EXPECT_EQ(feed("cd" + next, &consumed), "ANFDA");
  EXPECT_EQ(consumed, 2u);
  EXPECT_EQ(read("y.txt"), "abcd");
  EXPECT_FALSE(protocol.fileDataMode);
}

TEST_F(FileReceiverTest, ZeroSizeFileCompletesAtOnce) {
  protocol.initialSyncDone = false;
  put(R"(\/new\/deep\/empty.txt)");
  EXPECT_EQ(status.panels[1], "Initial server sync...");
  EXPECT_TRUE(disk.fs().isFolder(at("new\\deep")));
  EXPECT_FALSE(exists("new\\deep\\empty.txt"));  // the file is made by the data block
  EXPECT_EQ(feed(header(0)), "ANFDA");
  EXPECT_TRUE(disk.fs().isFile(at("new\\deep\\empty.txt")));
  EXPECT_EQ(read("new\\deep\\empty.txt"), "");
  EXPECT_FALSE(protocol.fileDataMode);
}

TEST_F(FileReceiverTest, FolderBranchCreatesTheFolderAndRemembersIt) {
  receiver.receivingFileName = "unchanged";
  EXPECT_EQ(put(R"(\/new\/sub\/)"), "ANPUT");
  EXPECT_TRUE(disk.fs().isFolder(at("new\\sub")));
  EXPECT_EQ(tracker.serverQueue, std::vector<std::string>{at("new\\sub\\")});
  EXPECT_EQ(status.panels[1], "Creating directory");
  EXPECT_EQ(receiver.receivingFileName, "unchanged");
  EXPECT_EQ(log.texts(), (std::vector<std::string>{"filepath=\\/new\\/sub\\/",
                                                    "Remember directory creating from Server: ",
                                                    at("new\\sub\\")}));
}

TEST_F(FileReceiverTest, FolderThatCannotBeCreated) {
  ASSERT_TRUE(write("sub", "a file where a parent folder should go"));
  ASSERT_TRUE(disk.fs().createFolders(at("_trash\\sub")));  // the file cannot be set aside: a folder holds its trash place
  EXPECT_EQ(put(R"(\/sub\/)"), "ANPUT");
  EXPECT_TRUE(log.contains("Error on received directory creating"));
  EXPECT_EQ(read("sub"), "a file where a parent folder should go");
  EXPECT_TRUE(tracker.serverQueue.empty());
}

TEST_F(FileReceiverTest, EmptyFolderAtTheFilePathMakesWay) {
  ASSERT_TRUE(disk.fs().createFolders(at("empty.txt")));
  put(R"(\/empty.txt)");
  EXPECT_EQ(feed(header(2) + "ok"), "ANFDA");
  EXPECT_EQ(read("empty.txt"), "ok");
  EXPECT_FALSE(exists("_trash"));
}

// The server's folder replaces a file, and its file a folder with content:
// what stands in the way goes by the deletion policy (into "_trash" under
// "keep" too, since it cannot stay in place), and its removal is not reported back.
TEST_F(FileReceiverTest, ItemOfTheOtherKindIsSetAsideByTheDeletionPolicy) {
  struct Case {
    const char* name;
    int policy;  // -1: no settings file
    bool folderComes;
    bool trashed;
  } cases[] = {
      {"file -> folder, no settings: trash", -1, true, true},
      {"file -> folder, keep policy: trash", 1, true, true},
      {"file -> folder, delete policy", 2, true, false},
      {"folder -> file, trash policy", 0, false, true},
      {"folder -> file, keep policy: trash", 1, false, true},
      {"folder -> file, delete policy", 2, false, false},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name = std::string(c.folderComes ? "was-file" : "was-folder") + std::to_string(c.policy + 1);
    if (c.policy >= 0) {
      ASSERT_TRUE(disk.fs().createFolders(at("_config")));
      ASSERT_TRUE(disk.ini().writeInt(at("_config\\Filesync.ini"), "Basic", "filedeletion", c.policy));
    }
    if (c.folderComes) {
      ASSERT_TRUE(write(name, "the user's file"));
    } else {
      ASSERT_TRUE(write(name + "\\inner.txt", "the user's inner file"));
    }
    std::size_t before = log.lines.size();
    processes.moves.clear();
    if (c.folderComes) {
      EXPECT_EQ(put("\\/" + name + "\\/"), "ANPUT");
      EXPECT_TRUE(disk.fs().isFolder(at(name)));
    } else {
      EXPECT_EQ(put("\\/" + name), "ANPUT");
      EXPECT_EQ(read(name + "\\inner.txt"), "the user's inner file");  // stays until the new file is whole
      EXPECT_EQ(feed(header(3) + "new"), "ANFDA");
      EXPECT_EQ(read(name), "new");
    }
    std::string kept = c.folderComes ? "_trash\\" + name : "_trash\\" + name + "\\inner.txt";
    EXPECT_EQ(read(kept), c.trashed ? (c.folderComes ? "the user's file" : "the user's inner file") : "<missing>");
    auto said = logSince(before);
    std::string line = c.folderComes ? "The file " + at(name) + " is replaced by the server's folder"
                                     : "The folder " + at(name) + "\\ is replaced by the server's file";
    EXPECT_NE(std::find(said.begin(), said.end(), line), said.end());
    if (c.trashed) {
      std::string move = "Moving file '" + at(name) + "' to trash-folder '" + at("_trash\\" + name) + "'";
      EXPECT_NE(std::find(said.begin(), said.end(), move), said.end());
    }
    EXPECT_EQ(processes.moves.size(), !c.folderComes && c.trashed ? 1u : 0u);
    tracker.handleWatcherChange(2, at(name));  // the watcher's report of the removal is an echo
    if (!c.folderComes) tracker.handleWatcherChange(2, at(name + "\\inner.txt"));
    EXPECT_TRUE(tracker.deleteQueue.empty());
    EXPECT_FALSE(exists(name + ".kqpart"));
  }
}

TEST_F(FileReceiverTest, FolderThatCannotBeSetAsideKeepsItsContent) {
  robocopyMovesNothing();
  ASSERT_TRUE(write("doc.txt\\inner.txt", "x"));
  EXPECT_EQ(put(R"(\/doc.txt)"), "ANPUT");
  std::size_t before = log.lines.size();
  EXPECT_EQ(feed(header(3) + "new"), "ANFDA");
  EXPECT_EQ(read("doc.txt\\inner.txt"), "x");
  EXPECT_FALSE(exists("doc.txt.kqpart"));
  auto said = logSince(before);
  EXPECT_NE(std::find(said.begin(), said.end(),
                      "ERROR: Not everything was moved to the trash folder, left in place: " + at("doc.txt") +
                          " (robocopy exit code 16)"),
            said.end());
  EXPECT_EQ(said.back(), "ERROR: Can not replace " + at("doc.txt") + " with the received file; the file stays as it was");
  EXPECT_EQ(status.panels[1], "File not received");
}

TEST_F(FileReceiverTest, ExcludedFileIsAnsweredAndItsDataDropped) {
  ASSERT_TRUE(write("~lock.txt", "local"));
  EXPECT_EQ(put(R"(\/~lock.txt)"), "ANPUT");
  EXPECT_TRUE(log.contains("Ignoring file transfer from Server due restrictions. RQFDA is blocked."));
  EXPECT_TRUE(tracker.serverQueue.empty());
  std::size_t consumed = 0;
  EXPECT_EQ(feed(header(8) + "{\"a\"", &consumed), "ANFDA");
  EXPECT_EQ(consumed, 21u);
  EXPECT_TRUE(log.contains("RQFDA is unblocked."));
  // The rest of the refused data is dropped by its announced size, not dispatched.
  EXPECT_TRUE(protocol.fileDataMode);
  EXPECT_EQ(feed(":1}" "RQ", &consumed), "");
  EXPECT_EQ(consumed, 4u);
  EXPECT_FALSE(protocol.fileDataMode);
  EXPECT_EQ(read("~lock.txt"), "local");
  // The block is used up: the next push is written.
  put(R"(\/b.txt)");
  EXPECT_EQ(feed(header(1) + "b"), "ANFDA");
  EXPECT_EQ(read("b.txt"), "b");
}

TEST_F(FileReceiverTest, RefusedPathsTouchNothing) {
  const std::string values[] = {R"(\/..\/escape.txt)", R"(\/C:\/escape.txt)",
                                R"(\/\/host\/share\/escape.txt)", R"(escape.txt)", R"(\/..\/)"};
  for (const auto& value : values) {
    std::size_t before = log.lines.size();
    EXPECT_EQ(put(value), "ANPUT") << value;
    auto lines = logSince(before);
    ASSERT_EQ(lines.size(), 2u) << value;
    EXPECT_EQ(lines[1].rfind("Refused server path " + value + ": ", 0), 0u) << lines[1];
    if (value.back() != '/') {
      EXPECT_EQ(feed(header(3) + "bad"), "ANFDA") << value;
    }
  }
  EXPECT_TRUE(tracker.serverQueue.empty());
  EXPECT_FALSE(disk.fs().exists(disk.path("escape.txt")));
  EXPECT_FALSE(disk.fs().exists(at("escape.txt")));
  EXPECT_FALSE(disk.fs().exists(disk.path("Syncescape.txt")));
  EXPECT_FALSE(protocol.fileDataMode);
}

TEST_F(FileReceiverTest, NonAsciiNameIsStoredInTheCodePage) {
  put(R"(\/caf\u00e9.txt)");
  EXPECT_EQ(feed(header(2) + "ok"), "ANFDA");
  EXPECT_EQ(read("caf\xe9.txt"), "ok");
  EXPECT_EQ(tracker.serverEchoes.size(), 1u);
#ifndef _WIN32
  EXPECT_TRUE(std::filesystem::exists(disk.nativeRoot() / "Sync" / "caf\xc3\xa9.txt"));
#endif
}

TEST_F(FileReceiverTest, DataWithoutAnnouncedFileIsCountedAndDropped) {
  EXPECT_EQ(feed(header(3) + "abc"), "ANFDA");
  EXPECT_TRUE(log.contains("File  received successfully"));
  EXPECT_FALSE(log.contains("File opened to write."));
}

TEST_F(FileReceiverTest, ClosedConnectionEndsTheTransfer) {
  ASSERT_TRUE(write("big.bin", "older"));
  put(R"(\/big.bin)");
  feed(header(100) + "partial");
  ASSERT_TRUE(protocol.fileDataMode);
  ASSERT_TRUE(receiver.fileOpen());
  receiver.onConnectionClosed();
  EXPECT_FALSE(protocol.fileDataMode);
  EXPECT_FALSE(receiver.fileOpen());
  EXPECT_EQ(receiver.receivedFileBytes, 0u);
  EXPECT_EQ(receiver.receivingFileName, "");
  EXPECT_EQ(read("big.bin"), "older");
  EXPECT_FALSE(exists("big.bin.kqpart"));
  EXPECT_EQ(log.texts().back(),
            "Transfer cut off by the closed connection, partial file removed: " + at("big.bin.kqpart"));
  EXPECT_EQ(tracker.serverEchoes.size(), 0u);
  // After reconnecting, a new request header is no longer taken as file data.
  put(R"(\/next.txt)");
  EXPECT_EQ(feed(header(1) + "n"), "ANFDA");
  EXPECT_EQ(read("next.txt"), "n");
}

TEST_F(FileReceiverTest, ReopenedFileIsAppendedTo) {
  put(R"(\/r.txt)");
  feed(header(6) + "abc");
  receiver.closeOpenFile();  // the dispatcher's error handler closes it, data mode stays on
  EXPECT_TRUE(protocol.fileDataMode);
  EXPECT_EQ(feed("def"), "ANFDA");
  EXPECT_EQ(read("r.txt"), "abcdef");
}

TEST_F(FileReceiverTest, MembersWithOtherKeysOnlySetBusy) {
  PacketContext packet{kRQPUT, ""};
  receiver.onMember("\"date\"", "2024", packet);
  EXPECT_EQ(packet.answerType, "");
  EXPECT_TRUE(tracker.serverBusy);
  EXPECT_TRUE(log.lines.empty());
}

}  // namespace
}  // namespace kq

namespace kq {
namespace {

// The receiver walks the receive modes as the reads arrive; the dispatcher's
// fileDataMode follows the mode at every step.
class ReceivePathTest : public test::HandlerFixture {
 protected:
  struct Step {
    const char* what;  // "put", "refused put", "header N +K" (announces N, carries K), "data K", "close"
    ReceiveMode after;
  };
  void run(const std::vector<Step>& steps) {
    for (const auto& step : steps) {
      std::string what = step.what;
      PacketContext packet{kRQPUT, ""};
      if (what == "put") {
        receiver.onMember("\"filepath\"", R"(\/f.txt)", packet);
      } else if (what == "refused put") {
        receiver.onMember("\"filepath\"", R"(\/..\/f.txt)", packet);
      } else if (what == "close") {
        receiver.onConnectionClosed();
      } else if (what.rfind("header ", 0) == 0) {
        auto plus = what.find('+');
        auto size = std::stoull(what.substr(7, plus - 8));
        std::string data(std::stoul(what.substr(plus + 1)), 'd');
        receiver.onHeader(encodeHeader(PacketHeader{"RQFDA", {}, size}) + data, packet);
      } else {
        receiver.onData(std::string(std::stoul(what.substr(5)), 'd'), packet);
      }
      EXPECT_EQ(modeName(receiver.mode()), std::string(modeName(step.after))) << what;
      EXPECT_EQ(protocol.fileDataMode, inDataMode(step.after)) << what;
    }
  }
  FileReceiver receiver{ports};
};

TEST_F(ReceivePathTest, ModesAlongTheReads) {
  using M = ReceiveMode;
  const std::vector<std::vector<Step>> cases = {
      {{"put", M::Idle}, {"header 4 +4", M::Idle}},
      {{"put", M::Idle}, {"header 4 +1", M::Receiving}, {"data 2", M::Receiving}, {"data 1", M::Idle}},
      {{"put", M::Idle}, {"header 0 +0", M::Idle}},
      {{"refused put", M::Refusing}, {"put", M::Refusing}, {"header 4 +1", M::Dropping},
       {"data 3", M::Idle}, {"put", M::Idle}},
      {{"refused put", M::Refusing}, {"header 2 +2", M::Idle}},
      {{"put", M::Idle}, {"header 9 +1", M::Receiving}, {"close", M::Idle}},
      {{"refused put", M::Refusing}, {"header 9 +1", M::Dropping}, {"close", M::Idle}},
      {{"refused put", M::Refusing}, {"close", M::Idle}, {"header 1 +1", M::Idle}},
  };
  for (const auto& steps : cases) run(steps);
  EXPECT_FALSE(exists("f.txt.kqpart"));
}

// Each way a receive can fail leaves the target as it was (an older copy or
// nothing), removes the temporary file, logs the failure as a shown error,
// never claims success, and still answers ANFDA after every announced byte.
class ReceiveFaultTest : public FileReceiverTest {};

TEST_F(ReceiveFaultTest, FailedReceivesKeepWhatWasThere) {
  struct Case {
    const char* name;
    std::function<void(test::FaultyFileSystem&)> fault;
    bool reopen;  // the file is closed after the first block (as after a read error)
    std::vector<std::string> errors;  // the shown error lines, with %T for the temporary file and %F for the target
  };
  const Case cases[] = {
      {"the temporary file cannot be created", [](auto& fs) { fs.failOpenWrite(".kqpart"); }, false,
       {"ERROR: Can not open the temporary file %T",
        "ERROR: Received data could not be written completely to file %F"}},
      {"the disk takes no bytes", [](auto& fs) { fs.failWrites(".kqpart"); }, false,
       {"ERROR: Can not write the temporary file %T",
        "ERROR: Received data could not be written completely to file %F"}},
      {"the temporary file cannot be reopened", [](auto& fs) { fs.failOpenAppend(".kqpart"); }, true,
       {"ERROR: Can not open the temporary file %T",
        "ERROR: Received data could not be written completely to file %F"}},
      {"the disk is full", [](auto& fs) { fs.fillDisk(".kqpart"); }, false,
       {"ERROR: Can not write the temporary file %T",
        "ERROR: The disk is full: %F was not received; the file stays as it was"}},
      {"the disk cannot hold the bytes", [](auto& fs) { fs.failSyncs(".kqpart"); }, false,
       {"ERROR: Received data could not be written completely to file %F"}},
      {"the rename fails", [](auto& fs) { fs.failRename(".kqpart"); }, false,
       {"ERROR: Can not replace %F with the received file; the file stays as it was"}},
  };
  for (bool older : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (older ? ", older copy" : ", no older copy"));
      faulty.heal();
      if (older) {
        ASSERT_TRUE(write("w.txt", "older"));
      } else if (exists("w.txt")) {
        ASSERT_TRUE(disk.fs().remove(at("w.txt")));
      }
      c.fault(faulty);
      put(R"(\/w.txt)");
      std::size_t before = log.lines.size();
      EXPECT_EQ(feed(header(6) + "new"), "");
      if (c.reopen) receiver.closeOpenFile();
      EXPECT_EQ(feed("new"), "ANFDA");
      EXPECT_FALSE(protocol.fileDataMode);
      EXPECT_EQ(read("w.txt"), older ? "older" : "<missing>");
      EXPECT_FALSE(exists("w.txt.kqpart"));
      std::vector<std::string> shown;
      for (std::size_t i = before; i < log.lines.size(); ++i) {
        const auto& line = log.lines[i];
        EXPECT_EQ(line.text.find("received successfully"), std::string::npos) << line.text;
        if (line.text.rfind("ERROR", 0) == 0) {
          EXPECT_TRUE(line.show) << line.text;
          shown.push_back(line.text);
        }
      }
      std::vector<std::string> expected;
      for (std::string e : c.errors) {
        if (auto t = e.find("%T"); t != std::string::npos) e.replace(t, 2, at("w.txt.kqpart"));
        if (auto f = e.find("%F"); f != std::string::npos) e.replace(f, 2, at("w.txt"));
        expected.push_back(e);
      }
      EXPECT_EQ(shown, expected);
      EXPECT_EQ(status.panels[1], "File not received");
      EXPECT_EQ(tracker.serverEchoes.size(), 0u);
    }
  }
}

TEST_F(ReceiveFaultTest, TheRestOfAFailedTransferIsNotWrittenAnywhere) {
  faulty.failWrites(".kqpart");
  put(R"(\/r.txt)");
  feed(header(9) + "abc");
  int opens = faulty.callCount("openWrite") + faulty.callCount("openAppend");
  EXPECT_EQ(feed("def"), "");
  EXPECT_EQ(feed("ghi"), "ANFDA");
  EXPECT_EQ(faulty.callCount("openWrite") + faulty.callCount("openAppend"), opens);
  EXPECT_EQ(faulty.callCount("rename"), 0);
  EXPECT_FALSE(exists("r.txt"));
}

TEST_F(FileReceiverTest, CompletedFileIsNotedForTheTracker) {
  put(R"(\/docs\/n.txt)");
  EXPECT_EQ(feed(header(4) + "four"), "ANFDA");
  const std::string n = at("docs\\n.txt");
  EXPECT_EQ(tracker.serverEchoes.size(), 1u);
  EXPECT_TRUE(tracker.serverEchoes.isWriteEcho(n, disk.fs()));
  // A second push of the same path replaces the record.
  put(R"(\/docs\/n.txt)");
  EXPECT_EQ(feed(header(2) + "ab"), "ANFDA");
  EXPECT_EQ(tracker.serverEchoes.size(), 1u);
  EXPECT_TRUE(tracker.serverEchoes.isWriteEcho(n, disk.fs()));
}

TEST_F(FileReceiverTest, ATemporaryNameIsNeverPushed) {
  EXPECT_EQ(put(R"(\/a.txt.kqpart)"), "ANPUT");
  EXPECT_EQ(log.texts().back(), "Refused server path \\/a.txt.kqpart: the name ends in .kqpart, "
                                "the mark of a file still being received");
  EXPECT_EQ(feed(header(2) + "xy"), "ANFDA");
  EXPECT_FALSE(exists("a.txt.kqpart"));
  EXPECT_FALSE(exists("a.txt"));
}

TEST_F(FileReceiverTest, LeftoversOfAnEarlierRunAreRemovedAtStart) {
  ASSERT_TRUE(write("a.txt.kqpart", "half"));
  ASSERT_TRUE(write("a.txt", "older"));
  ASSERT_TRUE(write("deep\\er\\b.bin.kqpart", "half"));
  ASSERT_TRUE(write("kept.kqpart.txt", "user"));
  ASSERT_TRUE(disk.fs().createFolders(at("folder.kqpart")));
  receiver.removeLeftovers();
  EXPECT_FALSE(exists("a.txt.kqpart"));
  EXPECT_FALSE(exists("deep\\er\\b.bin.kqpart"));
  EXPECT_EQ(read("a.txt"), "older");
  EXPECT_EQ(read("kept.kqpart.txt"), "user");
  EXPECT_TRUE(disk.fs().isFolder(at("folder.kqpart")));
  auto lines = log.texts();
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Removed the temporary file of an unfinished transfer: " + at("a.txt.kqpart"),
                       "Removed the temporary file of an unfinished transfer: " + at("deep\\er\\b.bin.kqpart")}));
}

TEST_F(FileReceiverTest, LeftoverThatCannotBeRemovedIsLogged) {
  ASSERT_TRUE(write("c.txt.kqpart", "half"));
  faulty.failRemove("c.txt.kqpart");
  receiver.removeLeftovers();
  EXPECT_EQ(log.lines, (std::vector<test::LogLine>{
                           {"ERROR: Can not remove the temporary file of an unfinished transfer: " +
                                at("c.txt.kqpart"), true}}));
  // A missing sync folder is no error and creates nothing.
  log.lines.clear();
  sync = disk.path("Gone");
  receiver.removeLeftovers();
  EXPECT_TRUE(log.lines.empty());
  EXPECT_FALSE(disk.fs().exists(sync));
}

}  // namespace
}  // namespace kq
