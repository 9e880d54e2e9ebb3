// A copy that a complete push left on the client is on record in the index
// at once: after a restart (a new Store and index handle, no session memory)
// a listing that shows it, followed by a store edit, plans a push of the
// edit, not a merge of a copy of unknown content.
#include <gtest/gtest.h>

#include <filesystem>

#include "store.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

constexpr std::int64_t kPushStart = 1700000000;
constexpr std::int64_t kPushEnd = 1700000003;

struct StampCase {
  const char* name;
  std::int64_t from, to;  // the window recorded
  std::int64_t stamp;     // the client's copy's time in the listing
  ActionKind planned;
};

class PushedCopyTest : public ::testing::TestWithParam<StampCase> {};

TEST_P(PushedCopyTest, PlansTheStoreEditAfterARestart) {
  const auto& c = GetParam();
  auto dir = test::scratchFolder("kqsyncd-pushed");
  auto open = [&] {
    return std::make_unique<Store>((dir / "store").string(), (dir / "index.sqlite").string(),
                                   [](const std::string&) {}, (dir / "versions").string());
  };
  fs::create_directories(dir / "store");
  test::writeFile(dir / "store" / "a.txt", "pushed");
  auto store = open();
  store->scan(kPushStart - 100);
  store->recordPushed("/a.txt", 6, store->index().entry("/a.txt")->hash, c.from, c.to);
  store = open();  // the server starts again: only the index remembers
  test::writeFile(dir / "store" / "a.txt", "edited in the store");
  store->scan(kPushEnd + 100);
  PlanInput in;
  store->fill(in);
  auto plan = planListing({{"/a.txt", false, 6, c.stamp}}, in);
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_EQ(plan[0].kind, c.planned);
  if (c.planned == ActionKind::Fetch) EXPECT_EQ(plan[0].mode, FetchMode::Merge);
  store.reset();
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Stamps, PushedCopyTest,
    ::testing::Values(
        StampCase{"FirstSecondOfThePush", kPushStart, kPushEnd, kPushStart, ActionKind::PushFile},
        StampCase{"LastSecondOfThePush", kPushStart, kPushEnd, kPushEnd, ActionKind::PushFile},
        // A copy stamped outside the push is not the pushed one: both changed.
        StampCase{"BeforeThePush", kPushStart, kPushEnd, kPushStart - 1, ActionKind::Fetch},
        StampCase{"AfterThePush", kPushStart, kPushEnd, kPushEnd + 1, ActionKind::Fetch},
        // A push that ran too long is left to the next listing: nothing recorded.
        StampCase{"TooLongAPush", kPushStart, kPushStart + Store::kMaxPushedStamps, kPushStart,
                  ActionKind::Fetch}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kqs
