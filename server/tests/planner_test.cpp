#include "planner.h"

#include <gtest/gtest.h>

namespace kqs {
namespace {

constexpr std::int64_t kT = 1700000000;  // a client file's time

std::string describe(const Action& a) {
  static const char* kNames[] = {"Move", "DeleteOnClient", "CreateStoreFolder", "Fetch", "PushFolder",
                                 "PushFile", "RecordKnown", "DeleteInStore", "RenameInStore", "Skip"};
  std::string out = std::string(kNames[static_cast<int>(a.kind)]) + " " + a.path;
  if (!a.target.empty()) out += " -> " + a.target;
  if (a.kind == ActionKind::Fetch) out += a.mode == FetchMode::Merge ? " merge" : " client";
  if ((a.kind == ActionKind::DeleteOnClient || a.kind == ActionKind::DeleteInStore) && a.isDir) out += "/";
  return out;
}

std::vector<std::string> describeAll(const std::vector<Action>& actions) {
  std::vector<std::string> out;
  for (auto& a : actions) out.push_back(describe(a));
  return out;
}

StoreEntry file(const std::string& path, std::int64_t size, std::int64_t mtime, const std::string& hash,
                std::int64_t version) {
  return {path, false, size, mtime, hash, version, false, 0};
}
StoreEntry folder(const std::string& path, std::int64_t version = 1) { return {path, true, 0, 0, "", version, false, 0}; }
StoreEntry gone(StoreEntry e, std::int64_t at) {
  e.deleted = true;
  e.deletedAt = at;
  return e;
}
ListingEntry cfile(const std::string& path, std::int64_t size, std::int64_t mtime) { return {path, false, size, mtime}; }
ListingEntry cfolder(const std::string& path) { return {path, true, 0, 0}; }

struct ListingCase {
  const char* name;
  std::vector<StoreEntry> store;
  std::vector<ListingEntry> listing;
  std::vector<std::pair<std::string, KnownCopy>> known;
  std::vector<std::pair<std::string, std::int64_t>> session;
  std::vector<MoveRecord> moves;
  std::vector<std::string> failedMoves;
  std::vector<std::string> expected;
};

PlanInput inputOf(const ListingCase& c) {
  PlanInput in;
  for (auto& e : c.store) in.store[e.path] = e;
  for (auto& [p, k] : c.known) in.known[p].push_back(k);
  for (auto& [p, v] : c.session) in.session[p] = v;
  in.moves = c.moves;
  in.failedMoves = c.failedMoves;
  return in;
}

TEST(PlanListing, Table) {
  const ListingCase cases[] = {
      {"empty both", {}, {}, {}, {}, {}, {}, {}},
      {"store to empty folder", {folder("/docs"), file("/docs/a.txt", 3, kT, "h1", 2), file("/b", 1, kT, "h2", 3)}, {},
       {}, {}, {}, {}, {"PushFolder /docs", "PushFile /docs/a.txt", "PushFile /b"}},
      {"folder to empty store", {}, {cfolder("/docs"), cfile("/docs/a.txt", 3, kT)}, {}, {}, {}, {},
       {"CreateStoreFolder /docs", "Fetch /docs/a.txt client"}},
      {"client system folders and temporary names stay out",
       {file("/_config/x", 1, kT, "h", 1), file("/a.tmp", 1, kT, "h", 2)},
       {cfolder("/_log"), cfile("/_log/Filesync.log", 10, kT), cfile("/_trash/old", 1, kT), cfile("/~lock", 1, kT),
        cfile("/b.TMP", 1, kT)},
       {}, {}, {}, {}, {}},
      {"same size and time is in step", {file("/a", 5, kT, "h", 4)}, {cfile("/a", 5, kT)}, {}, {}, {}, {},
       {"RecordKnown /a"}},
      {"known copy of the current content", {file("/a", 5, kT, "h", 4)}, {cfile("/a", 5, kT + 9)},
       {{"/a", {5, kT + 9, "h"}}}, {}, {}, {}, {}},
      {"known copy of an older content: the store changed, the client did not", {file("/a", 6, kT + 50, "new", 5)},
       {cfile("/a", 5, kT + 9)}, {{"/a", {5, kT + 9, "old"}}}, {}, {}, {}, {"PushFile /a"}},
      {"pushed in this connection, same size: in step", {file("/a", 5, kT, "h", 4)}, {cfile("/a", 5, kT + 30)}, {},
       {{"/a", 4}}, {}, {}, {"RecordKnown /a"}},
      {"changed by the client only", {file("/a", 5, kT, "h", 4)}, {cfile("/a", 7, kT + 30)}, {}, {{"/a", 4}}, {}, {},
       {"Fetch /a client"}},
      {"changed on both sides", {file("/a", 5, kT, "h", 6)}, {cfile("/a", 7, kT + 30)}, {}, {{"/a", 4}}, {}, {},
       {"Fetch /a merge"}},
      {"unknown copy differs: merge", {file("/a", 5, kT, "h", 4)}, {cfile("/a", 7, kT + 30)}, {}, {}, {}, {},
       {"Fetch /a merge"}},
      {"deleted in the store after the client's copy", {gone(file("/a", 5, kT, "h", 4), kT + 100)},
       {cfile("/a", 5, kT)}, {}, {}, {}, {}, {"DeleteOnClient /a"}},
      {"client copy newer than the deletion comes back", {gone(file("/a", 5, kT, "h", 4), kT)},
       {cfile("/a", 9, kT + 100)}, {}, {}, {}, {}, {"Fetch /a client"}},
      {"new file in a deleted folder keeps the folder", {gone(folder("/d"), kT + 100), gone(file("/d/a", 1, kT, "h", 2), kT + 100)},
       {cfolder("/d"), cfile("/d/a", 1, kT), cfile("/d/b", 1, kT)}, {}, {}, {}, {},
       {"CreateStoreFolder /d", "DeleteOnClient /d/a", "Fetch /d/b client"}},
      {"deleted folder without new content", {gone(folder("/d"), kT + 100), gone(file("/d/a", 1, kT, "h", 2), kT + 100)},
       {cfolder("/d"), cfile("/d/a", 1, kT)}, {}, {}, {}, {}, {"DeleteOnClient /d/"}},
      {"tombstone without client copy", {gone(file("/a", 1, kT, "h", 2), kT)}, {}, {}, {}, {}, {}, {}},
      {"type clash is reported, not forced", {folder("/x")}, {cfile("/x", 3, kT)}, {}, {}, {}, {},
       {"Skip /x"}},
      {"folder renamed in the store", {gone(folder("/old"), kT), gone(file("/old/a", 1, kT, "h", 2), kT), folder("/new", 3),
        file("/new/a", 1, kT, "h", 4)},
       {cfolder("/old"), cfile("/old/a", 1, kT)}, {{"/new/a", {1, kT, "h"}}}, {}, {{"/old", "/new", kT}}, {},
       {"Move /old -> /new"}},
      {"folder rename refused earlier: deletions and pushes", {gone(folder("/old"), kT + 5),
        gone(file("/old/a", 1, kT, "h", 2), kT + 5), folder("/new", 3), file("/new/a", 1, kT, "h", 4)},
       {cfolder("/old"), cfile("/old/a", 1, kT)}, {}, {}, {{"/old", "/new", kT + 5}}, {"/old"},
       {"PushFolder /new", "PushFile /new/a", "DeleteOnClient /old/"}},
      {"names the client cannot hold are not pushed", {file("/\xe4\xb8\xad", 1, kT, "h", 1), file("/a\"b", 1, kT, "h", 2)},
       {}, {}, {}, {}, {}, {}},
  };
  for (auto& c : cases) {
    auto got = describeAll(planListing(c.listing, inputOf(c)));
    auto expected = c.expected;
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(got, expected) << c.name;
  }
}

TEST(PlanListing, MovesComeFirstAndRelocateTheListing) {
  ListingCase c{"", {gone(folder("/a"), kT), folder("/b", 2), file("/b/x", 1, kT, "h", 3), file("/b/y", 1, kT, "h2", 4)},
                {cfolder("/a"), cfile("/a/x", 1, kT)}, {}, {}, {{"/a", "/b", kT}}, {}, {}};
  auto got = describeAll(planListing(c.listing, inputOf(c)));
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front(), "Move /a -> /b");
  // /b/x arrives by the move (same size and time), /b/y is still pushed.
  EXPECT_EQ(got, (std::vector<std::string>{"Move /a -> /b", "RecordKnown /b/x", "PushFile /b/y"}));
}

TEST(PlanChanges, Table) {
  struct Case {
    const char* name;
    std::vector<StoreEntry> store;
    std::vector<std::pair<std::string, std::int64_t>> session;
    ChangeReport report;
    std::string expected;
  } cases[] = {
      {"new file", {}, {}, {"MODIFIED", "/a", false, "", 3}, "Fetch /a client"},
      {"edit of the version the client had", {file("/a", 1, kT, "h", 4)}, {{"/a", 4}}, {"MODIFIED", "/a", false, "", 3},
       "Fetch /a client"},
      {"edit while the store changed too", {file("/a", 1, kT, "h", 6)}, {{"/a", 4}}, {"MODIFIED", "/a", false, "", 3},
       "Fetch /a merge"},
      {"file gone again", {}, {}, {"MODIFIED", "/a", false, "", -1}, "Skip /a"},
      {"excluded", {}, {}, {"MODIFIED", "/x.tmp", false, "", 3}, "Skip /x.tmp"},
      {"client log", {}, {}, {"MODIFIED", "/_log/Filesync.log", false, "", 3}, "Skip /_log/Filesync.log"},
      {"deletion", {file("/a", 1, kT, "h", 4)}, {}, {"DELETED", "/a", false, "", -1}, "DeleteInStore /a"},
      {"deletion of a folder", {folder("/d")}, {}, {"DELETED", "/d", false, "", -1}, "DeleteInStore /d/"},
      {"deletion of a file changed in the store meanwhile", {file("/a", 1, kT, "h", 6)}, {{"/a", 4}},
       {"DELETED", "/a", false, "", -1}, "Skip /a"},
      {"deletion of an unknown file", {}, {}, {"DELETED", "/a", false, "", -1}, "Skip /a"},
      {"file rename", {file("/a.txt", 1, kT, "h", 4)}, {}, {"RENAMED", "/a.txt", false, "b.txt", 0},
       "RenameInStore /a.txt -> /b.txt"},
      {"folder rename", {folder("/d/sub")}, {}, {"RENAMED", "/d/sub", true, "sub2", 0}, "RenameInStore /d/sub -> /d/sub2"},
      {"rename with a path in the new name", {file("/a", 1, kT, "h", 4)}, {}, {"RENAMED", "/a", false, "../b", 0},
       "Skip /a"},
      {"rename of something the store lacks", {}, {}, {"RENAMED", "/a", false, "b", 0}, "Skip /a"},
  };
  for (auto& c : cases) {
    PlanInput in;
    for (auto& e : c.store) in.store[e.path] = e;
    for (auto& [p, v] : c.session) in.session[p] = v;
    auto got = describeAll(planChanges({c.report}, in));
    ASSERT_EQ(got.size(), 1u) << c.name;
    EXPECT_EQ(got[0], c.expected) << c.name;
  }
  EXPECT_TRUE(planChanges({ChangeReport{}}, PlanInput{}).empty());
}

}  // namespace
}  // namespace kqs
