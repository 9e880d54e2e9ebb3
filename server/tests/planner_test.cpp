#include "planner.h"

#include <algorithm>
#include <optional>

#include <gtest/gtest.h>

#include "listing_plan.h"
#include "plan_check.h"

namespace kqs {
namespace {

constexpr std::int64_t kT = 1700000000;  // a client file's time

std::string describe(const Action& a) {
  static const char* kNames[] = {"Move", "DeleteOnClient", "CreateStoreFolder", "Fetch", "PushFolder",
                                 "PushFile", "RecordKnown", "DeleteInStore", "RenameInStore", "Skip"};
  if (a.failed) return "Failed " + a.path + ": " + a.note;
  std::string out = std::string(kNames[static_cast<int>(a.kind)]) + " " + a.path;
  if (!a.target.empty()) out += " -> " + a.target;
  if (a.kind == ActionKind::Fetch) {
    out += a.mode == FetchMode::Merge ? " merge" : a.mode == FetchMode::ReplacesFolder ? " over the folder" : " client";
  }
  if ((a.kind == ActionKind::DeleteOnClient || a.kind == ActionKind::DeleteInStore) && a.isDir) out += "/";
  if (a.replaces && a.kind != ActionKind::Fetch) out += a.mode == FetchMode::Merge ? " beside the file" : " replacing";
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
      {"the deleted content left in step, stamped by a client clock ahead of the server's",
       {gone(file("/a", 5, kT, "h", 4), kT)}, {cfile("/a", 5, kT + 60)}, {}, {{"/a", 4}}, {}, {}, {"DeleteOnClient /a"}},
      {"a recorded copy of the deleted content, stamped after the deletion", {gone(file("/a", 5, kT, "h", 4), kT)},
       {cfile("/a", 5, kT + 60)}, {{"/a", {5, kT + 60, "h"}}}, {}, {}, {}, {"DeleteOnClient /a"}},
      {"a recorded copy of other content, stamped after the deletion, comes back",
       {gone(file("/a", 5, kT, "h", 4), kT)}, {cfile("/a", 5, kT + 60)}, {{"/a", {5, kT + 60, "other"}}}, {}, {}, {},
       {"Fetch /a client"}},
      {"the version left in step, edited to another size after the deletion, comes back",
       {gone(file("/a", 5, kT, "h", 4), kT)}, {cfile("/a", 9, kT + 60)}, {}, {{"/a", 4}}, {}, {}, {"Fetch /a client"}},
      {"a deleted folder whose files the client holds as left, stamped later",
       {gone(folder("/d"), kT), gone(file("/d/a", 1, kT, "h", 2), kT)}, {cfolder("/d"), cfile("/d/a", 1, kT + 60)}, {},
       {{"/d/a", 2}}, {}, {}, {"DeleteOnClient /d/"}},
      {"new file in a deleted folder keeps the folder", {gone(folder("/d"), kT + 100), gone(file("/d/a", 1, kT, "h", 2), kT + 100)},
       {cfolder("/d"), cfile("/d/a", 1, kT), cfile("/d/b", 1, kT)}, {}, {}, {}, {},
       {"CreateStoreFolder /d", "DeleteOnClient /d/a", "Fetch /d/b client"}},
      {"deleted folder without new content", {gone(folder("/d"), kT + 100), gone(file("/d/a", 1, kT, "h", 2), kT + 100)},
       {cfolder("/d"), cfile("/d/a", 1, kT)}, {}, {}, {}, {}, {"DeleteOnClient /d/"}},
      {"tombstone without client copy", {gone(file("/a", 1, kT, "h", 2), kT)}, {}, {}, {}, {}, {}, {}},
      {"folder renamed in the store", {gone(folder("/old"), kT), gone(file("/old/a", 1, kT, "h", 2), kT), folder("/new", 3),
        file("/new/a", 1, kT, "h", 4)},
       {cfolder("/old"), cfile("/old/a", 1, kT)}, {{"/new/a", {1, kT, "h"}}}, {}, {{"/old", "/new", kT}}, {},
       {"Move /old -> /new"}},
      {"folder rename refused earlier: deletions and pushes", {gone(folder("/old"), kT + 5),
        gone(file("/old/a", 1, kT, "h", 2), kT + 5), folder("/new", 3), file("/new/a", 1, kT, "h", 4)},
       {cfolder("/old"), cfile("/old/a", 1, kT)}, {}, {}, {{"/old", "/new", kT + 5}}, {"/old"},
       {"PushFolder /new", "PushFile /new/a", "DeleteOnClient /old/"}},
      {"names the client cannot hold are failed items, never pushed",
       {file("/\xe4\xb8\xad", 1, kT, "h", 1), file("/a\"b", 1, kT, "h", 2), file("/a:b.txt", 1, kT, "h", 3),
        file("/CON", 1, kT, "h", 4), file("/back\\slash.txt", 1, kT, "h", 5), file("/trail.", 1, kT, "h", 6),
        folder("/nul", 7), file("/nul/inside.txt", 1, kT, "h", 8), gone(file("/aux.txt", 1, kT, "h", 9), kT)},
       {}, {}, {}, {}, {},
       {"Failed /\xe4\xb8\xad: cannot be synchronised with this client: a character outside the ANSI code page",
        "Failed /a\"b: cannot be synchronised with this client: a character not allowed in file names",
        "Failed /a:b.txt: cannot be synchronised with this client: a drive letter or colon",
        "Failed /CON: cannot be synchronised with this client: a device name",
        "Failed /back\\slash.txt: cannot be synchronised with this client: a backslash in a name",
        "Failed /trail.: cannot be synchronised with this client: a name ending in a dot or blank",
        "Failed /nul: cannot be synchronised with this client: a device name"}},
      {"a client name the rule refuses is neither fetched nor deleted", {}, {cfile("/a:b.txt", 3, kT)}, {}, {}, {}, {},
       {"Failed /a:b.txt: cannot be synchronised with this client: a drive letter or colon"}},
  };
  for (auto& c : cases) {
    test::expectSamePlanInBatches(c.listing, inputOf(c), c.name);
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
  test::expectSamePlanInBatches(c.listing, inputOf(c), "moves");
  auto got = describeAll(planListing(c.listing, inputOf(c)));
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front(), "Move /a -> /b");
  // /b/x arrives by the move (same size and time), /b/y is still pushed.
  EXPECT_EQ(got, (std::vector<std::string>{"Move /a -> /b", "RecordKnown /b/x", "PushFile /b/y"}));
}

// What one connection learnt in earlier cycles: the entries its last listing
// showed in step, those the last listing already lacked, and the deletions it
// already ordered. "Skip /" is a note of the plan.
TEST(PlanListing, EarlierListingsOfTheConnection) {
  struct Case {
    const char* name;
    std::vector<StoreEntry> store;
    std::vector<ListingEntry> listing;
    std::vector<std::pair<std::string, std::int64_t>> listed;
    std::vector<std::pair<std::string, std::int64_t>> missing;
    std::vector<std::pair<std::string, std::int64_t>> ordered;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"a file listed in step and now gone waits for the next listing: neither deleted nor pushed",
       {file("/a", 5, kT, "h", 4), file("/b", 1, kT, "h", 5), file("/c", 1, kT, "h", 6)},
       {cfile("/other", 1, kT), cfile("/b", 1, kT), cfile("/c", 1, kT)}, {{"/a", 4}}, {}, {},
       {"Fetch /other client", "RecordKnown /b", "RecordKnown /c", "Skip /"}},
      {"gone from two listings in a row: removed on the client",
       {file("/a", 5, kT, "h", 4), file("/b", 1, kT, "h", 5), file("/c", 1, kT, "h", 6)},
       {cfile("/other", 1, kT), cfile("/b", 1, kT), cfile("/c", 1, kT)}, {}, {{"/a", 4}}, {},
       {"DeleteInStore /a", "Fetch /other client", "RecordKnown /b", "RecordKnown /c"}},
      {"gone from one listing and back in the next: nothing to do",
       {file("/a", 5, kT, "h", 4), file("/b", 1, kT, "h", 5)}, {cfile("/a", 5, kT), cfile("/b", 1, kT)}, {},
       {{"/a", 4}}, {}, {"RecordKnown /a", "RecordKnown /b"}},
      {"gone before at an older version: the store changed since, it is pushed", {file("/a", 5, kT, "h", 6)},
       {cfile("/other", 1, kT)}, {}, {{"/a", 4}}, {}, {"PushFile /a", "Fetch /other client"}},
      {"listed with an older version: the store changed since, it is pushed", {file("/a", 5, kT, "h", 6)},
       {cfile("/other", 1, kT)}, {{"/a", 4}}, {}, {}, {"PushFile /a", "Fetch /other client"}},
      {"never listed in step: pushed", {file("/a", 5, kT, "h", 4)}, {cfile("/other", 1, kT)}, {}, {}, {},
       {"PushFile /a", "Fetch /other client"}},
      {"an empty listing removes nothing", {file("/a", 5, kT, "h", 4)}, {}, {}, {{"/a", 4}}, {}, {"PushFile /a"}},
      {"a folder gone with all it held, in one listing: it waits",
       {folder("/d", 2), file("/d/a", 1, kT, "h", 3), file("/k1", 1, kT, "h", 4), file("/k2", 1, kT, "h", 5)},
       {cfolder("/_log"), cfile("/k1", 1, kT), cfile("/k2", 1, kT)}, {{"/d", 2}, {"/d/a", 3}}, {}, {},
       {"RecordKnown /k1", "RecordKnown /k2", "Skip /"}},
      {"a folder gone with all it held, in two listings",
       {folder("/d", 2), file("/d/a", 1, kT, "h", 3), file("/k1", 1, kT, "h", 4), file("/k2", 1, kT, "h", 5)},
       {cfolder("/_log"), cfile("/k1", 1, kT), cfile("/k2", 1, kT)}, {}, {{"/d", 2}, {"/d/a", 3}}, {},
       {"DeleteInStore /d/", "RecordKnown /k1", "RecordKnown /k2"}},
      {"a folder emptied by half in the last listing and gone now: it waits (an rm -r seen under way)",
       {folder("/d", 2), file("/d/a", 1, kT, "h", 3), file("/d/b", 1, kT, "h", 6), file("/k1", 1, kT, "h", 4),
        file("/k2", 1, kT, "h", 5)},
       {cfile("/k1", 1, kT), cfile("/k2", 1, kT)}, {{"/d", 2}, {"/d/b", 6}}, {{"/d/a", 3}}, {},
       {"RecordKnown /k1", "RecordKnown /k2", "Skip /"}},
      {"a folder gone that holds a file the client never had keeps it",
       {folder("/d", 2), file("/d/a", 1, kT, "h", 3), file("/d/new", 1, kT, "h", 7), file("/k1", 1, kT, "h", 4),
        file("/k2", 1, kT, "h", 5)},
       {cfolder("/_log"), cfile("/k1", 1, kT), cfile("/k2", 1, kT)}, {}, {{"/d", 2}, {"/d/a", 3}}, {},
       {"PushFolder /d", "DeleteInStore /d/a", "PushFile /d/new", "RecordKnown /k1", "RecordKnown /k2"}},
      {"a listing of only the client's own folders removes nothing", {file("/a", 5, kT, "h", 4)},
       {cfolder("/_log"), cfile("/_log/Filesync.log", 9, kT), cfolder("/_config"), cfolder("/_trash")}, {},
       {{"/a", 4}}, {}, {"PushFile /a"}},
      {"a copy kept after its deletion was ordered is not ordered again", {gone(file("/a", 5, kT, "h", 4), kT + 100)},
       {cfile("/a", 5, kT)}, {}, {}, {{"/a", kT + 100}}, {"Skip /a"}},
      {"a later deletion of the same path is ordered", {gone(file("/a", 5, kT, "h", 4), kT + 200)},
       {cfile("/a", 5, kT)}, {}, {}, {{"/a", kT + 100}}, {"DeleteOnClient /a"}},
      {"a kept folder is not ordered again", {gone(folder("/d"), kT + 100)}, {cfolder("/d")}, {}, {},
       {{"/d", kT + 100}}, {"Skip /d"}},
  };
  for (auto& c : cases) {
    PlanInput in;
    for (auto& e : c.store) in.store[e.path] = e;
    for (auto& [p, v] : c.listed) in.listed[p] = v;
    for (auto& [p, v] : c.missing) in.missing[p] = v;
    for (auto& [p, t] : c.ordered) in.deletionOrdered[p] = t;
    test::expectSamePlanInBatches(c.listing, in, c.name);
    auto got = describeAll(planListing(c.listing, in));
    auto expected = c.expected;
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(got, expected) << c.name;
  }
}

// The entries a listing lacks for the first time are kept, at and under each,
// for the next listing's plan.
TEST(PlanListing, EntriesGoneOnceAreKeptForTheNextListing) {
  PlanInput in;
  for (auto& e : {folder("/d", 2), file("/d/a", 1, kT, "h", 3), file("/d/b", 1, kT, "h", 6),
                  file("/loose", 1, kT, "h", 7), file("/stays", 1, kT, "h", 8), file("/older", 1, kT, "h", 9)}) {
    in.store[e.path] = e;
  }
  in.listed = {{"/d", 2}, {"/d/b", 6}, {"/loose", 7}, {"/stays", 8}, {"/older", 8}};
  in.missing = {{"/d/a", 3}};
  std::vector<ListingEntry> listing{cfile("/stays", 1, kT)};
  for (int i = 0; i < 10; ++i) {  // enough files that the guard lets three go
    std::string p = "/k" + std::to_string(i);
    in.store[p] = file(p, 1, kT, "h", 20 + i);
    listing.push_back(cfile(p, 1, kT));
  }
  ListingPlan plan(listing, in);
  EXPECT_EQ(plan.missingNext(),
            (std::map<std::string, std::int64_t>{{"/d", 2}, {"/d/a", 3}, {"/d/b", 6}, {"/loose", 7}}));
  EXPECT_EQ(plan.inferred(), InferredCount{});
  EXPECT_TRUE(plan.heldDeletions().empty());
  // The next listing, still without them: they go, and the plan counts them.
  PlanInput next = in;
  next.listed = plan.listedInStep();
  next.missing = plan.missingNext();
  ListingPlan second(listing, next);
  EXPECT_TRUE(second.missingNext().empty());
  EXPECT_EQ(second.inferred(), (InferredCount{4, 3}));
  auto plan2 = describeAll(planListing(listing, next));
  plan2.erase(std::remove_if(plan2.begin(), plan2.end(), [](auto& d) { return d.rfind("RecordKnown /k", 0) == 0; }),
              plan2.end());
  EXPECT_EQ(plan2, (std::vector<std::string>{"DeleteInStore /d/", "DeleteInStore /loose", "PushFile /older",
                                             "RecordKnown /stays"}));
}

TEST(ListedInStep, EntriesHoldingTheStoreVersion) {
  PlanInput in;
  for (auto& e : {file("/same", 5, kT, "h", 4), file("/changed", 5, kT, "h", 5), folder("/d", 6),
                  gone(file("/dead", 1, kT, "h", 7), kT + 1), file("/known", 3, kT, "k", 8)}) {
    in.store[e.path] = e;
  }
  in.known["/known"].push_back({3, kT + 50, "k"});
  auto got = listedInStep({cfile("/same", 5, kT), cfile("/changed", 9, kT + 9), cfolder("/d"), cfile("/dead", 1, kT),
                           cfile("/known", 3, kT + 50), cfile("/new", 1, kT), cfile("/_log/Filesync.log", 1, kT)},
                          in);
  EXPECT_EQ(got, (std::map<std::string, std::int64_t>{{"/same", 4}, {"/d", 6}, {"/known", 8}}));
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
      {"file rename the store already took from a listing",
       {file("/a.txt", 1, kT, "h", 4), file("/b.txt", 1, kT + 5, "h", 1)}, {}, {"RENAMED", "/a.txt", false, "b.txt", 0},
       "DeleteInStore /a.txt"},
      {"file rename onto other content", {file("/a.txt", 1, kT, "h", 4), file("/b.txt", 1, kT, "other", 1)}, {},
       {"RENAMED", "/a.txt", false, "b.txt", 0}, "RenameInStore /a.txt -> /b.txt"},
      {"folder rename the store already took from a listing",
       {folder("/sub"), file("/sub/x", 1, kT, "h", 4), folder("/moved"), file("/moved/x", 1, kT + 5, "h", 1)}, {},
       {"RENAMED", "/sub", true, "moved", 0}, "DeleteInStore /sub/"},
      {"folder rename onto a folder missing one of its files",
       {folder("/sub"), file("/sub/x", 1, kT, "h", 4), file("/sub/y", 1, kT, "k", 4), folder("/moved"),
        file("/moved/x", 1, kT + 5, "h", 1)},
       {}, {"RENAMED", "/sub", true, "moved", 0}, "RenameInStore /sub -> /moved"},
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

TEST(PlanChanges, NamesTheClientCannotHold) {
  PlanInput in;
  in.store["/a.txt"] = file("/a.txt", 1, kT, "h", 4);
  auto got = describeAll(planChanges({{"MODIFIED", "/x:y.txt", false, "", 3}, {"RENAMED", "/a.txt", false, "COM3.txt", 0},
                                      {"DELETED", "/trail ", false, "", -1}},
                                     in));
  EXPECT_EQ(got, (std::vector<std::string>{
                     "Failed /x:y.txt: cannot be synchronised: a drive letter or colon",
                     "Failed /a.txt: new name cannot be synchronised: a device name",
                     "Failed /trail : cannot be synchronised: a name ending in a dot or blank"}));
}

// A client copy that an unfinished push explains is not a client edit: the
// store's file is sent again instead of being replaced by the copy.
TEST(PlanEvidence, CopiesLeftByAnUnfinishedPush) {
  const PushAttempt cutOff{4, 3000, kT, kT + 20, false};
  const PushAttempt answered{4, 3000, kT, kT + 20, true};
  struct Case {
    const char* name;
    PushAttempt push;
    ListingEntry copy;
    std::string expected;
  } cases[] = {
      {"a short copy written while the push ran", cutOff, cfile("/big", 1000, kT + 10), "PushFile /big"},
      {"an empty copy the client answered for (disk full)", answered, cfile("/big", 0, kT + 20), "PushFile /big"},
      {"written just before the push's own second", answered, cfile("/big", 10, kT - 2), "PushFile /big"},
      {"written in the last second of a cut-off push", cutOff, cfile("/big", 10, kT + 22), "PushFile /big"},
      {"stamped after the client answered the push: the user's", answered, cfile("/big", 10, kT + 21), "Fetch /big client"},
      {"edited by the user after the push", answered, cfile("/big", 10, kT + 60), "Fetch /big client"},
      {"edited by the user before the push", answered, cfile("/big", 10, kT - 30), "Fetch /big client"},
      {"longer than the push: not a partial copy", cutOff, cfile("/big", 4000, kT + 10), "Fetch /big client"},
  };
  for (auto& c : cases) {
    PlanInput in;
    in.store["/big"] = file("/big", 3000, kT - 100, "h", 4);
    in.session["/big"] = 4;
    in.pushes["/big"] = c.push;
    test::expectSamePlanInBatches({c.copy}, in, c.name);
    auto got = describeAll(planListing({c.copy}, in));
    ASSERT_EQ(got.size(), 1u) << c.name;
    EXPECT_EQ(got[0], c.expected) << c.name;
  }
  // Reported by the client: a shorter size waits for the listing, which tells by the time.
  PlanInput in;
  in.store["/big"] = file("/big", 3000, kT - 100, "h", 4);
  in.pushes["/big"] = cutOff;
  EXPECT_EQ(describeAll(planChanges({{"MODIFIED", "/big", false, "", 1000}}, in)),
            std::vector<std::string>{"Skip /big"});
  // A longer copy is an edit; the client never held the store's file (its push
  // was cut off), so the store's file is kept beside it.
  EXPECT_EQ(describeAll(planChanges({{"MODIFIED", "/big", false, "", 3500}}, in)),
            std::vector<std::string>{"Fetch /big merge"});
}

// A copy fetched on a change report (which tells no time) is recognised in a
// later listing, of a new connection too: it is recorded, not fetched again.
TEST(PlanEvidence, CopiesFetchedOnAReport) {
  const FetchedCopy fetched{4, 3000, kT + 20};
  struct Case {
    const char* name;
    FetchedCopy copy;
    ListingEntry listed;
    std::string expected;
  } cases[] = {
      {"the size fetched, stamped before the fetch ended", fetched, cfile("/a", 3000, kT + 5), "RecordKnown /a"},
      {"stamped within the slack after it", fetched, cfile("/a", 3000, kT + 22), "RecordKnown /a"},
      {"stamped later: edited since", fetched, cfile("/a", 3000, kT + 23), "Fetch /a merge"},
      {"another size", fetched, cfile("/a", 3001, kT + 5), "Fetch /a merge"},
      {"the store changed since the fetch", {3, 3000, kT + 20}, cfile("/a", 3000, kT + 5), "Fetch /a merge"},
  };
  for (auto& c : cases) {
    PlanInput in;
    in.store["/a"] = file("/a", 3000, kT + 100, "h", 4);  // stamped by the store when it arrived
    in.fetched["/a"] = c.copy;
    test::expectSamePlanInBatches({c.listed}, in, c.name);
    EXPECT_EQ(describeAll(planListing({c.listed}, in)), std::vector<std::string>{c.expected}) << c.name;
  }
}

// A reported change replaces the store's file only when the client is known to
// have held that file; otherwise both are kept.
TEST(PlanEvidence, ReportedChangeReplacesOnlyWhatTheClientHeld) {
  struct Case {
    const char* name;
    bool inSession, sessionCurrent;
    const char* knownHash;  // "" for no recorded copy
    std::string expected;
  } cases[] = {
      {"held the current version on this connection", true, true, "", "Fetch /a.txt client"},
      {"given an older version on this connection", true, false, "h", "Fetch /a.txt merge"},
      {"a recorded copy with the store's content", false, false, "h", "Fetch /a.txt client"},
      {"a recorded copy of older content", false, false, "old", "Fetch /a.txt merge"},
      {"created on both sides: never held", false, false, "", "Fetch /a.txt merge"},
  };
  for (auto& c : cases) {
    PlanInput in;
    in.store["/a.txt"] = file("/a.txt", 5, kT - 100, "h", 4);
    if (c.inSession) in.session["/a.txt"] = c.sessionCurrent ? 4 : 3;
    if (*c.knownHash) in.known["/a.txt"].push_back({5, kT - 50, c.knownHash});
    EXPECT_EQ(describeAll(planChanges({{"MODIFIED", "/a.txt", false, "", 7}}, in)),
              std::vector<std::string>{c.expected})
        << c.name;
    // A listing (after a restart of the server, say) decides on the same evidence.
    std::vector<ListingEntry> listing{{"/a.txt", false, 7, kT}};
    EXPECT_EQ(describeAll(planListing(listing, in)), std::vector<std::string>{c.expected}) << c.name << " (listed)";
  }
}

// A copy pushed in the same second as a later store edit of the same size has
// that edit's time by chance: the edit is pushed, not recorded as held.
TEST(PlanEvidence, SameSecondAsAStoreEditIsNotTheEdit) {
  PlanInput in;
  in.store["/admin.txt"] = file("/admin.txt", 22, kT, "edited", 5);
  in.session["/admin.txt"] = 4;
  in.pushes["/admin.txt"] = PushAttempt{4, 22, kT, kT, true};
  EXPECT_EQ(describeAll(planListing({cfile("/admin.txt", 22, kT)}, in)), std::vector<std::string>{"PushFile /admin.txt"});
  // Without a version given on this connection, the same size and time are the same file.
  in.session.clear();
  in.pushes.clear();
  EXPECT_EQ(describeAll(planListing({cfile("/admin.txt", 22, kT)}, in)), std::vector<std::string>{"RecordKnown /admin.txt"});
}

TEST(PlanListing, RefusedOnThisConnectionIsNotOfferedAgain) {
  PlanInput in;
  in.store["/a.psd"] = file("/a.psd", 5, kT, "h", 4);
  in.store["/b.txt"] = file("/b.txt", 5, kT, "h", 5);
  in.refused = {"/a.psd"};
  EXPECT_EQ(describeAll(planListing({cfile("/other", 1, kT)}, in)),
            (std::vector<std::string>{"PushFile /b.txt", "Fetch /other client"}));
}

// Deletions inferred from listings stop at more than 50 entries or more than
// half of the store's files, counting the deletions inferred within the
// window before and the entries gone from this listing only.
TEST(PlanListing, MassDeletionGuard) {
  struct Case {
    const char* name;
    int files;            // store files /f0.. all listed in step before
    int goneTwice;        // how many of them the last listing lacked too
    int goneOnce;         // how many more this listing is the first to lack
    InferredCount recent;  // inferred and carried out within the window
    bool applied;         // the deletions gone twice are planned
  } cases[] = {
      {"a few of many", 10, 3, 0, {}, true},
      {"exactly half", 10, 5, 0, {}, true},
      {"more than half", 10, 6, 0, {}, false},
      {"all of one", 1, 1, 0, {}, false},
      {"50 of 200", 200, 50, 0, {}, true},
      {"51 of 200", 200, 51, 0, {}, false},
      {"30 gone twice, 30 more seen going: an rm -r under way", 200, 30, 30, {}, false},
      {"30 gone twice, 20 more seen going", 200, 30, 20, {}, true},
      {"30 now after 30 deleted within the window", 200, 30, 0, {30, 30}, false},
      {"20 now after 30 deleted", 200, 20, 0, {30, 30}, true},
      {"4 of 10 after 3 of 13 deleted: more than half of the 13", 10, 4, 0, {3, 3}, false},
      {"4 of 10 alone", 10, 4, 0, {}, true},
      {"60 seen going: the guard says so before anything is deleted", 200, 0, 60, {}, false},
  };
  for (auto& c : cases) {
    PlanInput in;
    in.recentInferred = c.recent;
    std::vector<ListingEntry> listing{cfile("/new", 1, kT)};
    for (int i = 0; i < c.files; ++i) {
      std::string p = "/f" + std::to_string(1000 + i);
      in.store[p] = file(p, 1, kT, "h", i + 1);
      (i < c.goneTwice ? in.missing : in.listed)[p] = i + 1;
      if (i >= c.goneTwice + c.goneOnce) listing.push_back(cfile(p, 1, kT));
    }
    test::expectSamePlanInBatches(listing, in, c.name);
    ListingPlan listingPlan(listing, in);
    auto plan = planListing(listing, in);
    int deletions = 0, pushes = 0, guardNotes = 0;
    for (auto& a : plan) {
      deletions += a.kind == ActionKind::DeleteInStore ? 1 : 0;
      pushes += a.kind == ActionKind::PushFile ? 1 : 0;
      if (a.kind == ActionKind::Skip && a.note.find("so nothing is deleted") != std::string::npos) {
        ++guardNotes;
        auto total = std::to_string(c.goneTwice + c.goneOnce + c.recent.entries) + " entries";
        EXPECT_EQ(a.note.rfind(total, 0), 0u) << a.note;
      }
    }
    EXPECT_EQ(deletions, c.applied ? c.goneTwice : 0) << c.name;
    EXPECT_EQ(guardNotes, c.applied ? 0 : 1) << c.name;
    EXPECT_EQ(pushes, 0) << c.name;  // neither deleted nor pushed back in this cycle
    EXPECT_EQ(listingPlan.heldDeletions().size(), c.applied ? 0u : std::size_t(c.goneTwice)) << c.name;
    EXPECT_EQ(listingPlan.inferred(), (c.applied ? InferredCount{c.goneTwice, c.goneTwice} : InferredCount{}))
        << c.name;
    EXPECT_EQ(listingPlan.missingNext().size(), std::size_t(c.goneOnce)) << c.name;
  }
  // A folder counts with everything live in it.
  PlanInput in;
  in.store["/d"] = folder("/d", 1);
  in.missing["/d"] = 1;
  for (int i = 0; i < 60; ++i) {
    std::string p = "/d/f" + std::to_string(i);
    in.store[p] = file(p, 1, kT, "h", i + 2);
    in.missing[p] = i + 2;
  }
  for (int i = 0; i < 200; ++i) {
    std::string p = "/k" + std::to_string(i);
    in.store[p] = file(p, 1, kT, "h", 100 + i);
  }
  std::vector<ListingEntry> listing;
  for (int i = 0; i < 200; ++i) listing.push_back(cfile("/k" + std::to_string(i), 1, kT));
  test::expectSamePlanInBatches(listing, in, "a folder counts with everything in it");
  auto plan = planListing(listing, in);
  EXPECT_TRUE(std::none_of(plan.begin(), plan.end(), [](auto& a) { return a.kind == ActionKind::DeleteInStore; }));
  EXPECT_EQ(ListingPlan(listing, in).heldDeletions().size(), 1u);
}

TEST(PlanListing, OnlySystemListing) {
  EXPECT_TRUE(isOnlySystemListing({}));
  EXPECT_TRUE(isOnlySystemListing({cfolder("/_log"), cfile("/_log/Filesync.log", 3, kT), cfolder("/_config"),
                                   cfile("/_config/Filesync.ini", 9, kT), cfolder("/_trash"), cfile("/_trash/x", 1, kT)}));
  EXPECT_FALSE(isOnlySystemListing({cfolder("/_log"), cfile("/a.txt", 1, kT)}));
  EXPECT_FALSE(isOnlySystemListing({cfolder("/_logs")}));
}

// A file replaced by a folder or a folder by a file, on either side or both:
// the side that replaced its item wins, the other's item is kept, and a change
// on both sides keeps both.
TEST(PlanSwaps, Listing) {
  struct Case {
    const char* name;
    std::vector<StoreEntry> store;
    std::vector<ListingEntry> listing;
    std::vector<std::pair<std::string, KnownCopy>> known;
    std::vector<std::pair<std::string, std::int64_t>> session;
    std::vector<std::pair<std::string, std::int64_t>> listed;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"client file -> folder: the store's file goes to the versions",
       {file("/cd", 5, kT, "h", 4)}, {cfolder("/cd"), cfile("/cd/x", 1, kT + 9)}, {}, {{"/cd", 4}}, {},
       {"CreateStoreFolder /cd replacing", "Fetch /cd/x client"}},
      {"client file -> folder, the file known from a listing before a restart",
       {file("/cd", 5, kT, "h", 4)}, {cfolder("/cd"), cfile("/cd/x", 1, kT + 9)}, {{"/cd", {5, kT, "h"}}}, {}, {},
       {"CreateStoreFolder /cd replacing", "Fetch /cd/x client"}},
      {"client file -> folder holding only a folder", {file("/cd", 5, kT, "h", 4)}, {cfolder("/cd"), cfolder("/cd/sub")},
       {}, {{"/cd", 4}}, {}, {"CreateStoreFolder /cd replacing", "CreateStoreFolder /cd/sub"}},
      {"client folder -> file: the store's folder and what it held go to the versions",
       {folder("/cd", 2), file("/cd/x", 1, kT, "h", 3), folder("/cd/sub", 5)}, {cfile("/cd", 7, kT + 9)}, {}, {},
       {{"/cd", 2}, {"/cd/x", 3}, {"/cd/sub", 5}}, {"Fetch /cd over the folder"}},
      {"store file -> folder: the client's file goes by its deletion policy",
       {folder("/cd", 7), file("/cd/x", 1, kT, "k", 8)}, {cfile("/cd", 5, kT)}, {{"/cd", {5, kT, "h"}}}, {{"/cd", 4}},
       {}, {"PushFolder /cd replacing", "PushFile /cd/x"}},
      {"store folder -> file: the client's folder goes by its deletion policy, nothing below it is planned",
       {file("/cd", 5, kT + 200, "h", 9), gone(folder("/cd/sub", 4), kT + 100), gone(file("/cd/x", 1, kT, "k", 3), kT + 100)},
       {cfolder("/cd"), cfolder("/cd/sub"), cfile("/cd/x", 1, kT)}, {}, {}, {{"/cd", 2}, {"/cd/x", 3}, {"/cd/sub", 4}},
       {"PushFile /cd replacing"}},
      {"both: the client made a folder of the file the store changed; the store's file is kept beside",
       {file("/cd", 6, kT + 50, "h2", 6)}, {cfolder("/cd"), cfile("/cd/x", 1, kT + 9)}, {}, {{"/cd", 4}}, {},
       {"CreateStoreFolder /cd beside the file", "Fetch /cd/x client"}},
      {"both: the store replaced the folder by a file while the client added to it",
       {file("/cd", 5, kT + 200, "h", 9), gone(file("/cd/x", 1, kT, "k", 3), kT + 100)},
       {cfolder("/cd"), cfile("/cd/x", 1, kT), cfile("/cd/new", 1, kT + 300)}, {}, {}, {{"/cd", 2}, {"/cd/x", 3}},
       {"CreateStoreFolder /cd beside the file", "Fetch /cd/new client", "DeleteOnClient /cd/x"}},
      {"both: the client made a file of the folder the store added to; the client's file is kept beside",
       {folder("/cd", 2), file("/cd/x", 1, kT, "h", 3), file("/cd/new", 1, kT, "n", 10), file("/k", 1, kT, "h", 11),
        file("/k2", 1, kT, "h", 12)},
       {cfile("/cd", 7, kT + 9), cfile("/k", 1, kT), cfile("/k2", 1, kT)}, {}, {},
       {{"/cd", 2}, {"/cd/x", 3}, {"/k", 11}, {"/k2", 12}},
       {"Fetch /cd merge", "PushFile /cd/new", "RecordKnown /k", "RecordKnown /k2", "Skip /"}},
      {"both: a folder the user made of a file the store changed keeps both",
       {file("/cd", 6, kT + 50, "h2", 6)}, {cfolder("/cd"), cfolder("/cd/sub")}, {}, {{"/cd", 4}}, {},
       {"CreateStoreFolder /cd beside the file", "CreateStoreFolder /cd/sub"}},
      {"nothing known of either (a restart): both are kept", {folder("/cd", 2)}, {cfile("/cd", 7, kT)}, {}, {}, {},
       {"Fetch /cd merge"}},
      {"a deleted file says nothing of the folder in its place", {gone(file("/cd", 5, kT, "h", 4), kT + 100)},
       {cfolder("/cd")}, {}, {}, {}, {"CreateStoreFolder /cd"}},
      {"a deleted folder says nothing of the file in its place", {gone(folder("/cd", 2), kT + 100)},
       {cfile("/cd", 5, kT)}, {}, {}, {}, {"Fetch /cd client"}},
  };
  for (auto& c : cases) {
    PlanInput in;
    for (auto& e : c.store) in.store[e.path] = e;
    for (auto& [p, k] : c.known) in.known[p].push_back(k);
    for (auto& [p, v] : c.session) in.session[p] = v;
    for (auto& [p, v] : c.listed) in.listed[p] = v;
    test::expectSamePlanInBatches(c.listing, in, c.name);
    auto got = describeAll(planListing(c.listing, in));
    auto expected = c.expected;
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(got, expected) << c.name;
  }
}

// A listing gives a folder no size and no date, and so it does a file the
// client could not read. Such an entry with nothing listed inside, where the
// store holds a file, replaces the store's file by nothing, whatever the
// server knows of the client's copy; one note says why.
TEST(PlanSwaps, AnEntryWithoutSizeOrDateAndNothingInsideReplacesNoFile) {
  const std::string note =
      "listed without a size or date and with nothing inside (an empty folder, or a file the client cannot read) "
      "where the store holds a file; the store's file stays until the client's item is clear";
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::int64_t>> session;
    std::vector<std::pair<std::string, KnownCopy>> known;
    std::vector<std::pair<std::string, std::int64_t>> listed;
    std::vector<ListingEntry> listing;
  } cases[] = {
      {"left in step by this connection", {{"/cd", 4}}, {}, {}, {cfolder("/cd")}},
      {"known from a listing before a restart", {}, {{"/cd", {5, kT, "h"}}}, {}, {cfolder("/cd")}},
      {"listed in step before", {}, {}, {{"/cd", 4}}, {cfolder("/cd")}},
      {"the store changed it since", {{"/cd", 3}}, {}, {}, {cfolder("/cd")}},
      {"nothing known of it", {}, {}, {}, {cfolder("/cd")}},
      {"a neighbour whose name starts alike is not inside", {{"/cd", 4}}, {}, {},
       {cfolder("/cd"), cfile("/cd x", 1, kT), cfile("/cd-1/y", 1, kT)}},
  };
  for (auto& c : cases) {
    PlanInput in;
    in.store["/cd"] = file("/cd", 5, kT, "h", 4);
    for (auto& [p, v] : c.session) in.session[p] = v;
    for (auto& [p, k] : c.known) in.known[p].push_back(k);
    for (auto& [p, v] : c.listed) in.listed[p] = v;
    auto plan = planListing(c.listing, in);
    auto at = std::find_if(plan.begin(), plan.end(), [](const Action& a) { return a.path == "/cd"; });
    ASSERT_NE(at, plan.end()) << c.name;
    EXPECT_EQ(describe(*at), "Skip /cd") << c.name;
    EXPECT_EQ(at->note, note) << c.name;
    EXPECT_FALSE(at->replaces) << c.name;
  }
}

// A deletion report for a path whose deletion this connection ordered is the
// client's echo of that order while the file that stands there now was never
// given to the client; once it was, the report is the user's deletion.
TEST(PlanChanges, LateEchoOfAnOrderedDeletion) {
  struct Case {
    const char* name;
    bool ordered;
    std::optional<std::int64_t> session;
    std::string expected;
  } cases[] = {
      {"ordered, the file put back since not given to the client", true, std::nullopt, "Skip /a"},
      {"ordered, the file put back since pushed to the client", true, 9, "DeleteInStore /a"},
      {"never ordered", false, std::nullopt, "DeleteInStore /a"},
  };
  for (auto& c : cases) {
    PlanInput in;
    in.store["/a"] = file("/a", 5, kT, "h", 9);
    if (c.ordered) in.deletionOrdered["/a"] = kT - 10;
    if (c.session) in.session["/a"] = *c.session;
    auto got = planChanges({{"DELETED", "/a", false, "", -1}}, in);
    ASSERT_EQ(got.size(), 1u) << c.name;
    EXPECT_EQ(describe(got[0]), c.expected) << c.name;
    if (got[0].kind == ActionKind::Skip) {
      EXPECT_EQ(got[0].note, "the client's late report of the deletion ordered earlier; the file put back since is kept");
    }
  }
}

// The change reports of a swap on the client, in the order the client sends
// them (modifications before deletions).
TEST(PlanSwaps, Reports) {
  struct Case {
    const char* name;
    std::vector<StoreEntry> store;
    std::vector<std::pair<std::string, std::int64_t>> session;
    std::vector<ChangeReport> reports;
    std::vector<std::string> expected;
  } cases[] = {
      {"a folder the client held replaced by a file: one fetch, the deletions below it go with the folder",
       {folder("/cd", 2), file("/cd/x", 1, kT, "h", 3)}, {{"/cd", 2}, {"/cd/x", 3}},
       {{"MODIFIED", "/cd", false, "", 7}, {"DELETED", "/cd/x", false, "", -1}, {"DELETED", "/cd", true, "", 7}},
       {"Fetch /cd over the folder"}},
      {"a folder the client never held: the listing decides, nothing is said",
       {folder("/cd", 2), file("/cd/x", 1, kT, "h", 3)}, {},
       {{"MODIFIED", "/cd", false, "", 7}, {"DELETED", "/cd", true, "", 7}}, {}},
      {"a file replaced by a folder: the file's deletion is taken, the folder comes from the listing",
       {file("/cd", 5, kT, "h", 4)}, {{"/cd", 4}}, {{"DELETED", "/cd", false, "", -1}}, {"DeleteInStore /cd"}},
      {"a file reported inside a folder that is a file in the store: the listing makes the folder first",
       {file("/cd", 5, kT, "h", 4)}, {{"/cd", 4}},
       {{"MODIFIED", "/cd/x", false, "", 3}, {"MODIFIED", "/cd/sub/y", false, "", 3}}, {}},
      {"a deletion report while a file stands at the path again deletes nothing", {file("/a", 5, kT, "h", 4)},
       {{"/a", 4}}, {{"DELETED", "/a", false, "", 9}}, {}},
  };
  for (auto& c : cases) {
    PlanInput in;
    for (auto& e : c.store) in.store[e.path] = e;
    for (auto& [p, v] : c.session) in.session[p] = v;
    EXPECT_EQ(describeAll(planChanges(c.reports, in)), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace kqs
