#include "transfer/folder_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "support/handler_fixture.h"
#include "transfer/file_receiver.h"

namespace kq {
namespace {

const RequestId kId{'L', 'S', 'T', '1'};
const std::int64_t kStamp = 1700000000;  // 2023-11-14 22:13:20 UTC

class FolderListingTest : public test::HandlerFixture {
 protected:
  FolderListingTest() { protocol.currentRequestId = kId; }
  // list runs an RQLST for value and returns the listing text after checking the header.
  std::string list(const std::string& value) {
    server.sends.clear();
    PacketContext packet{kRQLST, ""};
    listing.onMember("\"filepath\"", value, packet);
    EXPECT_EQ(packet.answerType, "");
    EXPECT_EQ(server.sends.size(), 1u);
    if (server.sends.size() != 1) return {};
    const std::string& sent = server.sends[0];
    std::string text = sent.substr(kHeaderSize);
    EXPECT_EQ(sent.substr(0, kHeaderSize), encodeHeader(PacketHeader{"ANLST", kId, text.size()}));
    return text;
  }
  static std::string fileEntry(const std::string& path, const std::string& size) {
    return "\"filepath\":\"" + path + "\",\"size\":\"" + size +
           "\",\"mdate\":\"2023-11-14\",\"mtime\":\"22.13.20\"";
  }
  static std::string folderEntry(const std::string& path) {
    return "\"filepath\":\"" + path + "\",\"size\":\"0\",\"mdate\":\"\",\"mtime\":\"\"";
  }
  FolderListing listing{ports};
};

TEST_F(FolderListingTest, EmptyFolderGivesTheEmptyListing) {
  ASSERT_TRUE(disk.fs().createFolders(at("empty")));
  EXPECT_EQ(list(R"(\/empty)"), "{\"content\":[{}]}");
  const std::vector<std::string> expected = {
      "ANLST ===>",
      "ANLST working directory: " + at("empty"),
      "Create the simple snapshot for RQLST",
      "Extra snapshot done",
      "ANLST listing: 0 entries (0 files, 0 folders, 0 unreadable)",
      "ANLST JSON buffer length: 16",
  };
  EXPECT_EQ(log.texts(), expected);
}

// An item removed between the walk and the listing text is left out: its entry
// would read as an empty folder (size 0, no date) where the store holds a file.
TEST_F(FolderListingTest, ItemGoneSinceTheWalkIsNotListed) {
  ASSERT_TRUE(write("docs\\keep.txt", "twelve bytes"));
  ASSERT_TRUE(write("docs\\gone.txt", "removed meanwhile"));
  setModified("docs\\keep.txt", kStamp);
  list(R"(\/docs)");
  ASSERT_EQ(listing.snapshot.size(), 2u);
  ASSERT_TRUE(disk.fs().remove(at("docs\\gone.txt")));
  std::string text = listing.listingText(sync);
  EXPECT_EQ(text, "{\"content\":[{" + fileEntry("//docs/keep.txt", "12") + "}]}");
  EXPECT_EQ(text.find("gone.txt"), std::string::npos);
}

TEST_F(FolderListingTest, SubfolderListsPathsRelativeToTheSyncFolder) {
  ASSERT_TRUE(write("docs\\report.pdf", "twelve bytes"));
  setModified("docs\\report.pdf", kStamp);
  ASSERT_TRUE(disk.fs().createFolders(at("docs\\sub")));
  std::string text = list(R"(\/docs)");
  ASSERT_EQ(listing.snapshot.size(), 2u);
  std::vector<std::string> entries;
  for (const auto& path : listing.snapshot) {
    entries.push_back(path == at("docs\\sub") ? folderEntry("//docs/sub")
                                              : fileEntry("//docs/report.pdf", "12"));
  }
  EXPECT_EQ(text, "{\"content\":[{" + entries[0] + "," + entries[1] + "}]}");
  // One summary line, not a line per entry and not the text.
  EXPECT_TRUE(log.contains("ANLST listing: 2 entries (1 files, 1 folders, 0 unreadable)"));
  EXPECT_FALSE(log.contains(at("docs\\report.pdf")));
  EXPECT_FALSE(log.contains(text));
}

TEST_F(FolderListingTest, ManyEntriesStillLogTheSameFewLines) {
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(write("many\\f" + std::to_string(i) + ".txt", "x"));
  list("");
  EXPECT_EQ(log.lines.size(), 6u);
  EXPECT_TRUE(log.contains("ANLST listing: 301 entries (300 files, 1 folders, 0 unreadable)"));
}

TEST_F(FolderListingTest, FilesStillBeingReceivedAreNotListed) {
  ASSERT_TRUE(write("a.txt", "abc"));
  setModified("a.txt", kStamp);
  ASSERT_TRUE(write("b.txt.kqpart", "half"));
  EXPECT_EQ(list(""), "{\"content\":[{" + fileEntry("/a.txt", "3") + "}]}");
}

// A missing sync folder is answered with an ANLST that holds no text: the empty
// listing would tell the server that every file was deleted.
TEST_F(FolderListingTest, MissingSyncFolderGetsNoListingAndIsNotCreated) {
  ASSERT_TRUE(write("a.txt", "abc"));
  ASSERT_TRUE(disk.fs().removeAll(sync));
  for (const std::string value : {"", R"(\/docs)"}) {
    SCOPED_TRACE(value);
    log.lines.clear();
    EXPECT_EQ(list(value), "");
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"ANLST ===>", "Sync folder not found: " + sync,
                                                     "ANLST without a listing: the sync folder is missing"}));
    EXPECT_FALSE(disk.fs().exists(sync));
  }
}

TEST_F(FolderListingTest, SyncFolderThatGoesDuringTheWalkGetsNoListing) {
  ASSERT_TRUE(write("a\\b.txt", "abc"));
  // The drive goes away in the middle of the walk: nothing can be seen any more.
  listing.pumpMessages = [this] { faulty.failStatus(sync); };
  EXPECT_EQ(list(""), "");
  EXPECT_TRUE(log.contains("Sync folder not found: " + sync));
}

// The folder argument keeps its own separators in front of the listed names:
// each "/" of it reads "//" in the listing, which the walk of the decoded path never sees.
TEST_F(FolderListingTest, FolderArgumentKeepsItsSeparatorsInTheListing) {
  ASSERT_TRUE(write("docs\\report.pdf", "twelve bytes"));
  setModified("docs\\report.pdf", kStamp);
  const struct {
    const char* value;
    std::string text;
  } cases[] = {
      {"", "{\"content\":[{" + folderEntry("/docs") + "," + fileEntry("/docs/report.pdf", "12") + "}]}"},
      {R"(\/)", "{\"content\":[{" + folderEntry("//docs") + "," + fileEntry("//docs/report.pdf", "12") + "}]}"},
      {R"(\/docs)", "{\"content\":[{" + fileEntry("//docs/report.pdf", "12") + "}]}"},
      {R"(\/docs\/)", "{\"content\":[{" + fileEntry("//docs//report.pdf", "12") + "}]}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(list(c.value), c.text);
  }
  EXPECT_TRUE(log.contains("ANLST working directory: " + at("docs")));
}

// A name the code page cannot hold is reported once, with the reason, and left
// out of the listing; the status bar counts such names.
TEST_F(FolderListingTest, NamesOutsideTheCodePageAreReportedOnce) {
  ASSERT_TRUE(write("docs\\a.txt", "a"));
  setModified("docs\\a.txt", kStamp);
  std::filesystem::path native = disk.nativeRoot() / "Sync" / "docs" / std::u8string(u8"\u65e5\u672c.txt");
  { std::ofstream(native) << "x"; }
  const std::string line = "Name not synchronised: " + at("docs") +
                           "\\\\u65e5\\u672c.txt (characters outside the code page 1252)";
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(list(R"(\/docs)"), "{\"content\":[{" + fileEntry("//docs/a.txt", "1") + "}]}");
  }
  auto texts = log.texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), line), 1);
  EXPECT_EQ(status.panels[6], "Not synchronised: 1");
  EXPECT_TRUE(std::filesystem::exists(native));
}

TEST_F(FolderListingTest, WholeSyncFolderDepthFirstWithFolderBeforeContent) {
  ASSERT_TRUE(write("a\\b\\c.txt", "abc"));
  setModified("a\\b\\c.txt", kStamp);
  std::string text = list("");
  EXPECT_EQ(listing.snapshot, (std::vector<std::string>{at("a"), at("a\\b"), at("a\\b\\c.txt")}));
  EXPECT_EQ(text, "{\"content\":[{" + folderEntry("/a") + "," + folderEntry("/a/b") + "," +
                      fileEntry("/a/b/c.txt", "3") + "}]}");
}

TEST_F(FolderListingTest, TemporaryFilesOfAReceiveAreNotListed) {
  ASSERT_TRUE(write("docs\\a.txt.kqpart", "half"));
  ASSERT_TRUE(write("docs\\b.kqpart.txt", "whole"));
  setModified("docs\\b.kqpart.txt", kStamp);
  EXPECT_EQ(list(R"(\/docs)"), "{\"content\":[{" + fileEntry("//docs/b.kqpart.txt", "5") + "}]}");
}

TEST_F(FolderListingTest, PumpRunsOncePerEntry) {
  ASSERT_TRUE(write("a\\b\\c.txt", "abc"));
  int pumped = 0;
  listing.pumpMessages = [&pumped] { ++pumped; };
  list("");
  EXPECT_EQ(pumped, 3);
}

TEST_F(FolderListingTest, MissingFolderGivesTheEmptyListing) {
  EXPECT_EQ(list(R"(\/nowhere)"), "{\"content\":[{}]}");
  EXPECT_TRUE(log.contains("Error: createSimpleSnapshot()"));
  EXPECT_FALSE(log.contains("Extra snapshot done"));
}

TEST_F(FolderListingTest, RefusedFolderGivesTheEmptyListing) {
  EXPECT_EQ(list(R"(\/..)"), "{\"content\":[{}]}");
  EXPECT_TRUE(log.contains("Refused server path \\/..: a parent folder segment"));
  EXPECT_FALSE(log.contains("Create the simple snapshot for RQLST"));
}

TEST_F(FolderListingTest, NamesAreEscapedSoAJsonReaderGetsThemBack) {
  ASSERT_TRUE(disk.fs().createFolders(at("n")));
  ASSERT_TRUE(write("n\\caf\xe9.txt", "x"));
  setModified("n\\caf\xe9.txt", kStamp);
  EXPECT_EQ(list(R"(\/n)"), "{\"content\":[{" + fileEntry("//n/caf\\u00e9.txt", "1") + "}]}");
  ASSERT_TRUE(disk.fs().remove(at("n\\caf\xe9.txt")));
  ASSERT_TRUE(write("n\\a$ub.txt", "x"));
  setModified("n\\a$ub.txt", kStamp);
  EXPECT_EQ(list(R"(\/n)"), "{\"content\":[{" + fileEntry("//n/a\\u0024ub.txt", "1") + "}]}");
}

TEST_F(FolderListingTest, NonAsciiRoundTrip) {
  FileReceiver receiver{ports};
  PacketContext packet{kRQPUT, ""};
  receiver.onMember("\"filepath\"", R"(\/caf\u00e9.txt)", packet);
  receiver.onHeader(encodeHeader(PacketHeader{"RQFDA", kId, 2}) + "ok", packet);
  ASSERT_EQ(packet.answerType, "ANFDA");
  setModified("caf\xe9.txt", kStamp);
  EXPECT_EQ(list(""), "{\"content\":[{" + fileEntry("/caf\\u00e9.txt", "2") + "}]}");
}

TEST_F(FolderListingTest, OtherKeysGetNoAnswer) {
  PacketContext packet{kRQLST, ""};
  listing.onMember("\"date\"", "", packet);
  EXPECT_TRUE(server.sends.empty());
  EXPECT_TRUE(tracker.serverBusy);
}

TEST_F(FolderListingTest, LongListingGoesOutInOnePacketWithItsTrueLength) {
  for (int i = 0; i < 700; ++i) {
    ASSERT_TRUE(write("long\\" + std::string(150, 'x') + std::to_string(i) + ".txt", "x"));
  }
  std::string text = list("");
  EXPECT_EQ(listing.snapshot.size(), 701u);
  EXPECT_GT(text.size(), 131055u);
  EXPECT_EQ(text.substr(0, 13), "{\"content\":[{");
  EXPECT_EQ(text.substr(text.size() - 3), "}]}");
}

}  // namespace
}  // namespace kq
