#include "listing_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "plan_check.h"
#include "sorted_listing.h"

namespace kqs {
namespace {

constexpr std::int64_t kT = 1700000000;

ListingEntry cfile(const std::string& path, std::int64_t size, std::int64_t mtime = kT) {
  return {path, false, size, mtime};
}
ListingEntry cfolder(const std::string& path) { return {path, true, 0, 0}; }

std::vector<std::string> pathsOf(const SortedListing& listing) {
  std::vector<std::string> out;
  for (auto& e : listing.entries()) out.push_back(e.path + (e.isDir ? "/" : " " + std::to_string(e.size)));
  return out;
}

// Names beside "/a" that sort between "/a" and "/a/...": " ", "-" and "." come before "/".
TEST(SortedListing, SortsKeepsTheLastOfAPathAndLeavesOutUnsynchronisedNames) {
  SortedListing listing({cfile("/b", 1), cfolder("/a"), cfile("/a/x", 2), cfile("/a b", 3), cfile("/b", 4),
                         cfile("/a.tmp", 5), cfile("/_log/Filesync.log", 6), cfile("/a-c", 7), cfile("/b", 8)});
  EXPECT_EQ(pathsOf(listing), (std::vector<std::string>{"/a/", "/a b 3", "/a-c 7", "/a/x 2", "/b 8"}));
  ASSERT_NE(listing.find("/a/x"), nullptr);
  EXPECT_EQ(listing.find("/a/x")->size, 2);
  EXPECT_EQ(listing.find("/a/"), nullptr);
  EXPECT_EQ(listing.find("/c"), nullptr);
  EXPECT_EQ(listing.upperBound("/a"), 1u);
  EXPECT_EQ(listing.upperBound("/zz"), listing.size());
}

TEST(SortedListing, RelocateMovesAFolderWithEverythingUnderIt) {
  struct Case {
    const char* name;
    std::vector<ListingEntry> entries;
    std::string from, to;
    std::vector<std::string> expected;
  } cases[] = {
      {"a folder and its files; a name that only starts the same stays",
       {cfolder("/a"), cfile("/a/x", 1), cfolder("/a/s"), cfile("/a/s/y", 2), cfile("/a b", 3), cfile("/ab", 4)},
       "/a", "/n", {"/a b 3", "/ab 4", "/n/", "/n/s/", "/n/s/y 2", "/n/x 1"}},
      {"an entry already at the new place stays, the moved one goes",
       {cfolder("/a"), cfile("/a/x", 1), cfile("/a/y", 2), cfile("/n/x", 9)}, "/a", "/n",
       {"/n/", "/n/x 9", "/n/y 2"}},
      {"into a folder under itself", {cfolder("/a"), cfolder("/a/b"), cfile("/a/b/x", 1)}, "/a", "/a/b",
       {"/a/b/", "/a/b/b/", "/a/b/b/x 1"}},
      {"to a name that sorts first", {cfile("/0", 5), cfolder("/z"), cfile("/z/x", 1)}, "/z", "/0z",
       {"/0 5", "/0z/", "/0z/x 1"}},
  };
  for (auto& c : cases) {
    SortedListing listing(c.entries);
    listing.relocate(c.from, c.to);
    EXPECT_EQ(pathsOf(listing), c.expected) << c.name;
  }
}

TEST(ListingPlan, HandsOutBoundedBatchesAndKnowsItsFiguresFirst) {
  PlanInput in;
  std::vector<ListingEntry> listing;
  for (int i = 0; i < 10; ++i) {
    std::string p = "/s" + std::to_string(i);
    in.store[p] = {p, false, 100 + i, kT, "h", i + 1, false, 0};
    listing.push_back(cfile("/n" + std::to_string(i), 1));
  }
  in.store["/s3"].deleted = true;  // a tombstone: nothing to push
  ListingPlan plan(listing, in, 4);
  EXPECT_EQ(plan.size(), 19u);  // 10 fetches, 9 pushes
  EXPECT_EQ(plan.filesToPush(), 9);
  EXPECT_EQ(plan.bytesToPush(), 100 * 10 + 45 - 103);
  std::vector<std::size_t> sizes;
  for (auto b = plan.next(); !b.empty(); b = plan.next()) sizes.push_back(b.size());
  EXPECT_EQ(sizes, (std::vector<std::size_t>{4, 4, 4, 4, 3}));
  // The pushes of some paths, from a pass that leaves the plan at its start.
  auto some = plan.pushesOf([](const std::string& p) { return p == "/s2" || p == "/s3" || p == "/n2"; });
  ASSERT_EQ(some.size(), 1u);  // /s3 is a tombstone, /n2 a fetch
  EXPECT_EQ(some[0].path, "/s2");
  EXPECT_EQ(plan.next().size(), 4u);
  // A batch size of 0 hands out one action at a time.
  ListingPlan single(listing, in, 0);
  EXPECT_EQ(single.next().size(), 1u);
}

// A tree of a few names that sort around "/" and names the client cannot
// hold or never synchronises, with every kind of history the planner reads.
struct Tree {
  PlanInput in;
  std::vector<ListingEntry> listing;
};

Tree generated(unsigned seed, int paths, int listChance) {
  std::mt19937 rng(seed);
  auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
  auto pick = [&](const auto& v) -> const auto& { return v[rng() % v.size()]; };
  const std::vector<std::string> names = {"a", "a b", "a-b", "a.b", "b", "b2", "CON", "x:y", "d~", "n.tmp",
                                          "_log", "\xc3\xbc", "\xe4\xb8\xad", "z"};
  std::set<std::string> all;
  while (static_cast<int>(all.size()) < paths) {
    std::string p;
    for (int depth = 1 + static_cast<int>(rng() % 3); depth > 0; --depth) p += "/" + pick(names);
    all.insert(p);
  }
  Tree t;
  std::int64_t version = 1;
  std::vector<std::string> folders;
  for (auto& p : all) {
    bool isDir = chance(30);
    if (isDir) folders.push_back(p);
    std::int64_t size = 1 + static_cast<std::int64_t>(rng() % 4);
    std::int64_t mtime = kT + static_cast<std::int64_t>(rng() % 4);
    if (chance(70)) {
      StoreEntry s{p, isDir, isDir ? 0 : size, isDir ? 0 : mtime, "h" + std::to_string(rng() % 3), version++, false, 0};
      if (chance(20)) {
        s.deleted = true;
        s.deletedAt = kT + static_cast<std::int64_t>(rng() % 4);
        if (chance(30)) t.in.deletionOrdered[p] = s.deletedAt;
      } else if (chance(50)) {
        (chance(50) ? t.in.listed : t.in.missing)[p] = chance(90) ? s.version : s.version - 1;
      }
      if (chance(20)) t.in.session[p] = chance(50) ? s.version : s.version - 1;
      if (chance(15)) t.in.known[p].push_back({size, mtime, "h" + std::to_string(rng() % 3)});
      if (chance(10)) t.in.pushes[p] = {s.version, size + 2, kT - 1, kT + 2, chance(50)};
      if (chance(5)) t.in.refused.insert(p);
      t.in.store[p] = s;
    }
    if (chance(listChance)) {
      bool listedDir = chance(90) ? isDir : !isDir;
      auto e = listedDir ? cfolder(p) : cfile(p, chance(60) ? size : size + 1, chance(60) ? mtime : mtime + 7);
      t.listing.push_back(e);
      if (chance(5)) t.listing.push_back(cfile(p, size + 3));  // the same path twice
    }
  }
  std::shuffle(t.listing.begin(), t.listing.end(), rng);
  // Folder moves: some journalled for a listed folder the store deleted and
  // holds under a new name, others that do not apply.
  for (int i = 0; i < 3 && folders.size() >= 2; ++i) {
    const std::string& from = pick(folders);
    std::string to = chance(70) ? from + "2" : pick(folders);
    if (chance(70)) {
      t.in.store[from] = {from, true, 0, 0, "", version++, true, kT};
      t.in.store[to] = {to, true, 0, 0, "", version++, false, 0};
      t.listing.push_back(cfolder(from));
    }
    t.in.moves.push_back({from, to, kT});
    if (chance(10)) t.in.failedMoves.push_back(from);
  }
  return t;
}

TEST(ListingPlan, GeneratedTreesPlanAlikeInEveryBatchSize) {
  int moves = 0, guards = 0, inferred = 0, failed = 0, fetches = 0, pushes = 0;
  struct Shape {
    int paths, listChance, seeds;
  } shapes[] = {{12, 60, 60}, {40, 50, 40}, {120, 30, 10}, {200, 10, 5}};
  unsigned seed = 1;
  for (auto& shape : shapes) {
    for (int i = 0; i < shape.seeds; ++i, ++seed) {
      Tree t = generated(seed, shape.paths, shape.listChance);
      test::expectSamePlanInBatches(t.listing, t.in, "seed " + std::to_string(seed));
      if (::testing::Test::HasFatalFailure()) return;
      for (auto& a : planListing(t.listing, t.in)) {
        moves += a.kind == ActionKind::MoveOnClient;
        guards += a.kind == ActionKind::Skip && a.path == "/";
        inferred += a.kind == ActionKind::DeleteInStore;
        failed += a.failed;
        fetches += a.kind == ActionKind::Fetch;
        pushes += a.kind == ActionKind::PushFile;
      }
    }
  }
  // The trees reach every part of the plan.
  EXPECT_GT(moves, 0);
  EXPECT_GT(guards, 0);
  EXPECT_GT(inferred, 0);
  EXPECT_GT(failed, 0);
  EXPECT_GT(fetches, 0);
  EXPECT_GT(pushes, 0);
}

}  // namespace
}  // namespace kqs
