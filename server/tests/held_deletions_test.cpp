#include "held_deletions.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "plan_rules.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

class HeldDeletionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::scratchFolder("kqsyncd-held");
    fs::create_directories(dir_);
    held_ = std::make_unique<HeldDeletions>((dir_ / "7400.sqlite").string());
    // What the client was seen holding before the listing that lacks it.
    // (a part of it the client's listings lacked once before: kept as missing).
    in_.listed = {{"/big", 1}, {"/big/a.txt", 4}, {"/big/sub", 2}, {"/bigger.txt", 6}, {"/loose.txt", 3}};
    in_.missing = {{"/big/sub/b.txt", 5}};
  }
  void TearDown() override { fs::remove_all(dir_); }
  static Action deletion(const std::string& path, bool isDir) {
    Action a = plan::make(ActionKind::DeleteInStore, path, isDir);
    a.note = "gone from the client's listing";
    return a;
  }
  // settle runs one listing's end: missing starts as what the plan kept for the next listing.
  HeldOutcome settle(const std::vector<Action>& heldNow) {
    missing_ = {{"/keep.txt", 9}};
    return settleHeld(*held_, heldNow, in_, missing_, "7400");
  }
  fs::path dir_;
  std::unique_ptr<HeldDeletions> held_;
  PlanInput in_;
  std::map<std::string, std::int64_t> missing_;
};

const std::string kHeldNote =
    "2 deletions held (5 entries): nothing is deleted in the store and nothing is pushed back; confirm with: "
    "kqsyncd deletions confirm --contract 7400, or put the files back with: kqsyncd deletions reject --contract 7400";

TEST_F(HeldDeletionsTest, HeldDeletionsStayDeletionsAndAreRecordedOnce) {
  auto first = settle({deletion("/big", true), deletion("/loose.txt", false)});
  EXPECT_EQ(first.notes, std::vector<std::string>{kHeldNote});
  EXPECT_TRUE(first.deletions.empty());
  // The next listing still takes them for gone from the client (not /bigger.txt, a neighbour).
  std::map<std::string, std::int64_t> expected = {{"/big", 1},     {"/big/a.txt", 4}, {"/big/sub", 2},
                                                  {"/big/sub/b.txt", 5}, {"/keep.txt", 9}, {"/loose.txt", 3}};
  EXPECT_EQ(missing_, expected);
  auto record = held_->load();
  EXPECT_EQ(record.roots, (std::vector<std::string>{"/big", "/loose.txt"}));
  EXPECT_EQ(record.versions.size(), 5u);
  EXPECT_TRUE(fs::exists(dir_ / "7400.held"));

  auto again = settle({deletion("/big", true), deletion("/loose.txt", false)});
  EXPECT_TRUE(again.notes.empty());  // said once, not every cycle
  // A restarted server's first listing starts from the record.
  std::map<std::string, std::int64_t> fresh;
  seedHeld(*held_, fresh);
  EXPECT_EQ(fresh.size(), 5u);
  EXPECT_EQ(fresh.at("/big/sub/b.txt"), 5);

  auto gone = settle({});  // the user put the files back
  EXPECT_TRUE(gone.notes.empty());
  EXPECT_FALSE(fs::exists(dir_ / "7400.held"));
}

struct DecisionCase {
  HeldDecision decision;
  std::size_t deletions;
  bool keptAfter;  // the held paths stay in the evidence of the next listing
  const char* note;
};

TEST_F(HeldDeletionsTest, TheAdministratorsDecisionIsTakenOnce) {
  const DecisionCase cases[] = {
      {HeldDecision::Confirm, 2, false,
       "2 held deletions confirmed by the administrator: deleted in the store (kept as versions)"},
      {HeldDecision::Reject, 0, false, "2 held deletions rejected by the administrator: the files go back to the client"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    settle({deletion("/big", true), deletion("/loose.txt", false)});
    held_->decide(c.decision);
    auto out = settle({deletion("/big", true), deletion("/loose.txt", false)});
    EXPECT_EQ(out.notes, std::vector<std::string>{c.note});
    EXPECT_EQ(out.deletions.size(), c.deletions);
    EXPECT_EQ(missing_.count("/big/a.txt") != 0, c.keptAfter);
    EXPECT_TRUE(held_->load().roots.empty());
    EXPECT_FALSE(held_->takeDecision().has_value());
  }
}

TEST_F(HeldDeletionsTest, ADecisionCoversOnlyWhatWasHeldWhenItWasMade) {
  settle({deletion("/loose.txt", false)});
  held_->decide(HeldDecision::Confirm);
  auto out = settle({deletion("/big", true), deletion("/loose.txt", false)});
  ASSERT_EQ(out.deletions.size(), 1u);
  EXPECT_EQ(out.deletions[0].path, "/loose.txt");
  EXPECT_EQ(out.notes,
            (std::vector<std::string>{
                "1 held deletion confirmed by the administrator: deleted in the store (kept as versions)",
                "1 deletion held (4 entries): nothing is deleted in the store and nothing is pushed back; confirm "
                "with: kqsyncd deletions confirm --contract 7400, or put the files back with: kqsyncd deletions "
                "reject --contract 7400"}));
  EXPECT_EQ(held_->load().roots, std::vector<std::string>{"/big"});  // waits for a decision of its own
  EXPECT_EQ(missing_.count("/big/a.txt"), 1u);
}

TEST_F(HeldDeletionsTest, AnUnreadableRecordIsSaidAndMadeAnew) {
  test::writeFile(dir_ / "7400.held", "no tabs here\n");
  EXPECT_THROW(held_->load(), std::runtime_error);
  auto out = settle({deletion("/loose.txt", false)});
  ASSERT_EQ(out.notes.size(), 2u);
  EXPECT_EQ(out.notes[0], "the record of held deletions is unreadable and is made anew: " +
                              (dir_ / "7400.held").string() + " is damaged: no tabs here");
  EXPECT_EQ(held_->load().roots, std::vector<std::string>{"/loose.txt"});
}

}  // namespace
}  // namespace kqs
