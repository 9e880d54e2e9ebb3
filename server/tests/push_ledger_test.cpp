#include "push_ledger.h"

#include <gtest/gtest.h>

namespace kqs {
namespace {

constexpr std::int64_t kNow = 1700000000;

StoreEntry live(const std::string& path, std::int64_t version) { return {path, false, 5, kNow, "h", version, false, 0}; }

Action push(const std::string& path) {
  Action a;
  a.kind = ActionKind::PushFile;
  a.path = path;
  return a;
}

PushAttempt attempt(std::int64_t version, std::int64_t startedAt) { return {version, 5, startedAt, startedAt, false}; }

TEST(PushRecords, KeepOnePushPerHostAndPathAndDropTheOneThatEndedFirstWhenFull) {
  PushRecords records(3);
  records.record("10.0.0.1", "/a", {1, 5, 100, 130, true});
  records.record("10.0.0.1", "/b", {1, 5, 100, 110, true});
  records.record("10.0.0.2", "/a", {1, 5, 100, 120, true});
  records.record("10.0.0.1", "/a", {2, 5, 140, 140, false});  // replaces, drops nothing
  EXPECT_EQ(records.size(), 3u);
  records.record("10.0.0.2", "/c", attempt(1, 150));  // full: /b on 10.0.0.1 ended first
  EXPECT_EQ(records.size(), 3u);
  EXPECT_FALSE(records.find("10.0.0.1", "/b"));
  EXPECT_EQ(records.find("10.0.0.1", "/a")->version, 2);
  auto host = records.forHost("10.0.0.2");
  ASSERT_EQ(host.size(), 2u);
  EXPECT_TRUE(host.count("/a") && host.count("/c"));
  EXPECT_TRUE(records.forHost("10.0.0.").empty());  // a host is not a prefix of another
}

TEST(FetchRecords, KeepOneCopyPerHostAndPathAndDropTheOneThatEndedFirstWhenFull) {
  FetchRecords records(3);
  records.record("10.0.0.1", "/d/a", {1, 5, 130});
  records.record("10.0.0.1", "/d/b", {2, 5, 110});
  records.record("10.0.0.2", "/d/a", {3, 5, 120});
  records.record("10.0.0.1", "/d/a", {4, 6, 140});  // replaces, drops nothing
  EXPECT_EQ(records.size(), 3u);
  records.record("10.0.0.1", "/db", {5, 7, 150});  // full: /d/b on 10.0.0.1 ended first
  EXPECT_EQ(records.forHost("10.0.0.1"),
            (std::map<std::string, FetchedCopy>{{"/d/a", {4, 6, 140}}, {"/db", {5, 7, 150}}}));
  EXPECT_EQ(records.forHostIn("10.0.0.1", "/d"), (std::map<std::string, FetchedCopy>{{"/d/a", {4, 6, 140}}}));
  EXPECT_EQ(records.forHostIn("10.0.0.2", "/d/a"), (std::map<std::string, FetchedCopy>{{"/d/a", {3, 5, 120}}}));
}

TEST(PushRecords, EndClosesOnlyThePushItBegan) {
  PushRecords records;
  auto first = attempt(1, 100);
  records.record("h", "/a", first);
  EXPECT_TRUE(records.end("h", "/a", first, 105, true));
  EXPECT_EQ(*records.find("h", "/a"), (PushAttempt{1, 5, 100, 105, true}));
  records.record("h", "/a", attempt(2, 110));  // another connection of the host pushed a newer version
  EXPECT_FALSE(records.end("h", "/a", first, 120, false));
  EXPECT_EQ(*records.find("h", "/a"), attempt(2, 110));
  records.erase("h", "/a");
  EXPECT_FALSE(records.end("h", "/a", first, 120, false));
  EXPECT_EQ(records.size(), 0u);
}

// A push delivered before a listing: what the next plan says about it.
TEST(PushLedger, ReviewBacksOffOnlyAPushOfTheSameVersionPlannedAgain) {
  struct Case {
    const char* name;
    bool plannedAgain;
    std::int64_t storeVersion;  // 0: no longer in the store
    bool listed;
    bool backsOff;
    bool recordKept;
  };
  const Case cases[] = {
      {"took: not planned again", false, 1, true, false, false},
      {"took, not listed in step", false, 1, false, false, true},
      {"did not take: same version planned again", true, 1, false, true, true},
      {"did not take, listed with other content", true, 1, true, true, true},
      {"store moved on: a new version is no retry", true, 2, false, false, true},
      {"gone from the store", true, 0, false, false, true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    PushRecords records;
    PushLedger ledger(records, "h", 10, 600);
    ledger.started("/a", attempt(1, kNow));
    ledger.delivered("/a");
    std::map<std::string, StoreEntry> store;
    if (c.storeVersion != 0) store["/a"] = live("/a", c.storeVersion);
    std::map<std::string, std::int64_t> inStep;
    if (c.listed) inStep["/a"] = 1;
    std::vector<Action> plan;
    if (c.plannedAgain) plan.push_back(push("/a"));
    auto retries = ledger.review(plan, inStep, store, kNow);
    EXPECT_EQ(retries.size(), c.backsOff ? 1u : 0u);
    if (c.backsOff) EXPECT_EQ(retries[0], (PushRetry{"/a", 10, c.listed}));
    EXPECT_EQ(ledger.backingOff("/a", kNow + 9), c.backsOff);
    EXPECT_FALSE(ledger.backingOff("/a", kNow + 10));
    EXPECT_EQ(records.find("h", "/a").has_value(), c.recordKept);
    EXPECT_TRUE(ledger.review(plan, inStep, store, kNow).empty());  // reviewed once per delivery
  }
}

TEST(PushLedger, TheBackOffDoublesUpToItsLimitAndEndsWhenThePushTakes) {
  PushRecords records;
  PushLedger ledger(records, "h", 10, 35);
  std::map<std::string, StoreEntry> store{{"/a", live("/a", 1)}};
  std::int64_t now = kNow;
  for (int expected : {10, 20, 35, 35}) {
    ledger.started("/a", attempt(1, now));
    ledger.delivered("/a");
    auto retries = ledger.review({push("/a")}, {}, store, now);
    ASSERT_EQ(retries.size(), 1u);
    EXPECT_EQ(retries[0].delaySeconds, expected);
    EXPECT_TRUE(ledger.backingOff("/a", now + expected - 1));
    now += expected;
    EXPECT_FALSE(ledger.backingOff("/a", now));
  }
  ledger.delivered("/a");
  EXPECT_TRUE(ledger.review({}, {{"/a", 1}}, store, now).empty());  // took
  EXPECT_FALSE(ledger.backingOff("/a", now));
  ledger.delivered("/a");
  ledger.started("/a", attempt(1, now));
  EXPECT_EQ(ledger.review({push("/a")}, {}, store, now)[0].delaySeconds, 10);  // starts over
}

TEST(PushLedger, ARefusedFileIsNotOfferedAgainAndItsRecordGoes) {
  PushRecords records;
  PushLedger ledger(records, "h", 10, 600);
  PushLedger other(records, "other", 10, 600);
  ledger.started("/a", attempt(1, kNow));
  ledger.started("/b", attempt(1, kNow));
  other.started("/a", attempt(1, kNow));
  ledger.refused("/a");
  PlanInput in;
  ledger.fill(in);
  EXPECT_EQ(in.refused, (std::set<std::string>{"/a"}));
  ASSERT_EQ(in.pushes.size(), 1u);
  EXPECT_TRUE(in.pushes.count("/b"));
  PlanInput otherIn;
  other.fill(otherIn);
  EXPECT_TRUE(otherIn.refused.empty());
  EXPECT_TRUE(otherIn.pushes.count("/a"));
}

}  // namespace
}  // namespace kqs
