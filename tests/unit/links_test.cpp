// Links, FIFOs and devices in the sync folder are never synchronised: every
// server order and every local report that would reach one, or pass through
// one, is refused, and what the link names stays untouched.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "fileops/server_delete.h"
#include "support/handler_fixture.h"
#include "tracking/known_files.h"
#include "transfer/file_receiver.h"
#include "transfer/file_sender.h"
#include "transfer/folder_listing.h"

namespace kq {
namespace {

namespace fsys = std::filesystem;
const RequestId kId{'\x01', '\x02', '\x03', '\x04'};

// The sync folder holds "projects", a link to the folder "outside" beside the
// sync folder, "secret", a link to the file outside\secret.txt, and "pipe", a FIFO.
class LinksTest : public test::HandlerFixture {
 protected:
  LinksTest() {
    protocol.currentRequestId = kId;
    EXPECT_TRUE(disk.fs().createFolders(disk.path("outside\\sub")));
    EXPECT_TRUE(disk.fs().writeText(disk.path("outside\\secret.txt"), "secret"));
    EXPECT_TRUE(disk.fs().writeText(disk.path("outside\\sub\\a.txt"), "a"));
    fsys::create_directory_symlink(outside(), syncNative() / "projects");
    fsys::create_symlink(outside() / "secret.txt", syncNative() / "secret");
    EXPECT_EQ(::mkfifo((syncNative() / "pipe").c_str(), 0600), 0);
    EXPECT_TRUE(write("real.txt", "real"));
  }
  fsys::path outside() const { return disk.nativeRoot() / "outside"; }
  fsys::path syncNative() const { return disk.nativeRoot() / "Sync"; }
  // outsideIntact: the link targets hold exactly what they held at the start.
  bool outsideIntact() const {
    std::size_t n = 0;
    for (auto it = fsys::recursive_directory_iterator(outside()); it != fsys::recursive_directory_iterator(); ++it)
      ++n;
    std::ifstream secret(outside() / "secret.txt");
    std::string text((std::istreambuf_iterator<char>(secret)), {});
    return n == 3 && text == "secret" && fsys::is_regular_file(outside() / "sub" / "a.txt");
  }
  bool linksThere() const {
    return fsys::is_symlink(syncNative() / "projects") && fsys::is_symlink(syncNative() / "secret");
  }
  std::size_t count(const std::string& text) const {
    std::size_t n = 0;
    for (const auto& line : log.texts()) n += line.find(text) != std::string::npos;
    return n;
  }
};

TEST_F(LinksTest, ListingLeavesLinksAndSpecialFilesOutAndReportsEachOnce) {
  FolderListing listing{ports};
  for (int round = 0; round < 2; ++round) {
    PacketContext packet{kRQLST, ""};
    listing.onMember("\"filepath\"", "", packet);
  }
  ASSERT_EQ(server.sends.size(), 2u);
  const std::string text = server.sends[1].substr(kHeaderSize);
  EXPECT_NE(text.find("/real.txt"), std::string::npos);
  for (const char* name : {"projects", "secret", "pipe", "a.txt"}) EXPECT_EQ(text.find(name), std::string::npos) << name;
  EXPECT_EQ(count("Name not synchronised: " + at("projects") + " (a link; not synchronised)"), 1u);
  EXPECT_EQ(count("Name not synchronised: " + at("secret") + " (a link; not synchronised)"), 1u);
  EXPECT_EQ(count("Name not synchronised: " + at("pipe") + " (not a regular file"), 1u);

  // A listing of the linked folder itself is refused: the empty listing.
  server.sends.clear();
  PacketContext packet{kRQLST, ""};
  listing.onMember("\"filepath\"", R"(\/projects)", packet);
  ASSERT_EQ(server.sends.size(), 1u);
  EXPECT_EQ(server.sends[0].substr(kHeaderSize), "{\"content\":[{}]}");
  EXPECT_TRUE(log.contains("Refused server path \\/projects: a link; not synchronised"));
}

TEST_F(LinksTest, RqfilOfALinkOrAFifoAnswersNoBytesAtOnce) {
  FileRequestHandler files{ports};
  const std::string values[] = {R"(\/secret)", R"(\/projects\/sub\/a.txt)", R"(\/pipe)"};
  for (const auto& value : values) {
    server.sends.clear();
    PacketContext packet{kRQFIL, ""};
    files.onMember("\"filepath\"", value, packet);  // a FIFO would hang here if it were opened
    ASSERT_EQ(server.sends.size(), 1u) << value;
    EXPECT_EQ(server.sends[0], encodeHeader(PacketHeader{"ANFIL", kId, 0})) << value;
    EXPECT_EQ(count("Refused server path " + value + ": "), 1u) << value;
  }
}

TEST_F(LinksTest, PushesThroughOrOntoALinkAreRefusedAndTheirDataDropped) {
  FileReceiver receiver{ports};
  const std::string values[] = {R"(\/projects\/new.txt)", R"(\/projects\/sub\/a.txt)", R"(\/secret)",
                                R"(\/pipe)", R"(\/projects\/deeper\/)"};
  for (const auto& value : values) {
    PacketContext put{kRQPUT, ""};
    receiver.onMember("\"filepath\"", value, put);
    EXPECT_EQ(put.answerType, "ANPUT") << value;
    EXPECT_EQ(count("Refused server path " + value + ": "), 1u) << value;
    if (value.back() == '/') continue;
    PacketContext data{kRQFDA, ""};
    std::string read = encodeHeader(PacketHeader{"RQFDA", kId, 5}) + "evil!";
    EXPECT_EQ(receiver.onHeader(read, data), read.size()) << value;
    EXPECT_EQ(data.answerType, "ANFDA") << value;
  }
  EXPECT_FALSE(protocol.fileDataMode);
  EXPECT_TRUE(outsideIntact());
  EXPECT_TRUE(linksThere());
  EXPECT_TRUE(tracker.serverQueue.empty());
}

TEST_F(LinksTest, DeletionsOfLinksAreRefusedUnderEveryPolicy) {
  ServerDelete deletion{ports};
  ASSERT_TRUE(disk.fs().createFolders(at("_config")));
  for (int policy : {0, 2}) {
    ASSERT_TRUE(disk.ini().writeInt(at("_config\\Filesync.ini"), "Basic", "filedeletion", policy));
    for (const char* value : {R"(\/projects\/)", R"(\/projects\/sub\/a.txt)", R"(\/secret)"}) {
      PacketContext packet{kRQDEL, ""};
      deletion.onMember("\"filepath\"", value, packet);
      EXPECT_EQ(packet.answerType, "ANDEL") << value;
      EXPECT_TRUE(log.contains("Refused server path " + std::string(value) + ": a link; not synchronised")) << value;
      log.lines.clear();
    }
  }
  EXPECT_TRUE(outsideIntact());
  EXPECT_TRUE(linksThere());
  EXPECT_FALSE(exists("_trash\\projects"));
}

TEST_F(LinksTest, AFolderHoldingALinkIsMovedWithoutIt) {
  ASSERT_TRUE(write("docs\\a.txt", "a"));
  fsys::create_directory_symlink(outside(), syncNative() / "docs" / "inner");
  MoveResult moved = portableMove.moveTree(at("docs"), at("moved"));
  EXPECT_FALSE(moved.complete);
  EXPECT_NE(moved.detail.find(at("docs\\inner") + " (a link; not synchronised)"), std::string::npos) << moved.detail;
  EXPECT_EQ(read("moved\\a.txt"), "a");
  EXPECT_TRUE(fsys::is_symlink(syncNative() / "docs" / "inner"));
  EXPECT_FALSE(exists("moved\\inner"));

  MoveResult refused = portableMove.moveTree(at("projects"), at("elsewhere"));
  EXPECT_FALSE(refused.complete);
  EXPECT_EQ(refused.detail, "the source is a link, never moved: " + at("projects"));
  EXPECT_TRUE(outsideIntact());
  EXPECT_TRUE(linksThere());
}

TEST_F(LinksTest, WatcherReportsOfLinksAreNotQueued) {
  struct Case {
    int action;
    std::string name;
  };
  const Case cases[] = {{1, "projects"}, {3, "secret"}, {3, "pipe"}, {3, "projects\\sub\\a.txt"}, {2, "secret"}};
  for (const auto& c : cases) tracker.handleWatcherChange(c.action, at(c.name));
  EXPECT_TRUE(tracker.modificationQueue.empty());
  EXPECT_TRUE(tracker.deleteQueue.empty());
  EXPECT_EQ(count("Name not synchronised: " + at("secret") + " (a link; not synchronised)"), 1u);

  // The removal of a reported link is not a deletion; a file in its place is a file again.
  fsys::remove(syncNative() / "secret");
  tracker.handleWatcherChange(2, at("secret"));
  EXPECT_TRUE(tracker.deleteQueue.empty());
  ASSERT_TRUE(write("secret", "now a file"));
  tracker.handleWatcherChange(1, at("secret"));
  fsys::remove(syncNative() / "secret");
  tracker.handleWatcherChange(2, at("secret"));
  EXPECT_EQ(tracker.modificationQueue, std::deque<std::string>{at("secret")});
  EXPECT_EQ(tracker.deleteQueue, std::deque<std::string>{at("secret")}) << "a file's removal is a deletion";
  ASSERT_TRUE(write("other.txt", "x"));
  tracker.handleWatcherChange(4, at("other.txt"));
  fsys::rename(syncNative() / "projects", syncNative() / "renamed");
  tracker.handleWatcherChange(5, at("renamed"));
  EXPECT_TRUE(tracker.renameQueue.empty());
}

TEST_F(LinksTest, KnownFilesNeverListLinks) {
  KnownFiles known{faulty, log, filter, tracker};
  ASSERT_TRUE(known.remember(sync));
  auto text = disk.fs().readText(KnownFiles::listPath(sync));
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("real.txt"), std::string::npos);
  for (const char* name : {"projects", "secret", "pipe", "a.txt"}) EXPECT_EQ(text->find(name), std::string::npos) << name;
}

}  // namespace
}  // namespace kq
#endif
