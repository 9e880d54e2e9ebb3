#include "guess_backoff.h"

#include <gtest/gtest.h>

namespace kqs {
namespace {

TEST(GuessBackoff, DelaysDoubleAfterTheFreeGuessesUpTo30Seconds) {
  GuessBackoff b;
  std::int64_t now = 1000000;
  for (int i = 0; i < GuessBackoff::kFreeGuesses; ++i) {
    b.wrongKey("10.0.0.1", now);
    EXPECT_LE(b.readyAtMs("10.0.0.1"), now) << i;
  }
  std::int64_t expected[] = {500, 1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000};
  for (auto delay : expected) {
    now = std::max(now, b.readyAtMs("10.0.0.1"));  // the attempt is answered when it may be
    b.wrongKey("10.0.0.1", now);
    EXPECT_EQ(b.readyAtMs("10.0.0.1") - now, delay);
  }
  EXPECT_EQ(b.readyAtMs("10.0.0.2"), 0);  // another address is never slowed
  b.rightKey("10.0.0.1");
  EXPECT_EQ(b.readyAtMs("10.0.0.1"), 0);
}

TEST(GuessBackoff, AttemptsWaitingAtOnceAreAnsweredOneAfterAnother) {
  GuessBackoff b;
  for (int i = 0; i < GuessBackoff::kFreeGuesses; ++i) b.wrongKey("a", 0);
  b.wrongKey("a", 0);
  b.wrongKey("a", 0);
  EXPECT_EQ(b.readyAtMs("a"), 500 + 1000);
}

TEST(GuessBackoff, RejectionsAreNotedOncePerMinuteWithACount) {
  GuessBackoff b;
  EXPECT_EQ(b.wrongKey("a", 0).value_or(0), 1u);  // the first at once
  for (int i = 1; i < 100; ++i) EXPECT_FALSE(b.wrongKey("a", i * 100)) << i;
  EXPECT_EQ(b.wrongKey("b", 200).value_or(0), 1u);  // per address
  EXPECT_EQ(b.wrongKey("a", 60000).value_or(0), 100u);
  EXPECT_FALSE(b.wrongKey("a", 60001));
}

TEST(GuessBackoff, QuietAddressesAreForgotten) {
  GuessBackoff b;
  for (int i = 0; i < 10; ++i) b.wrongKey("old", 0);
  b.wrongKey("new", 10 * GuessBackoff::kNoteEveryMs);
  EXPECT_EQ(b.tracked(), 1u);
  EXPECT_EQ(b.readyAtMs("old"), 0);
}

}  // namespace
}  // namespace kqs
