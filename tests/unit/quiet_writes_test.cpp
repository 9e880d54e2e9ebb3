#include "watcher/quiet_writes.h"

#include <gtest/gtest.h>

#include <set>

namespace kq {
namespace {

using Writes = std::vector<QuietWrites::Write>;

// The clock is the test's: a write is held until 2 s passed without another.
TEST(QuietWrites, AFileIsReportedOnceItWasQuietFor2sNotBefore) {
  QuietWrites writes;
  writes.note("/s/log.txt", true, 1000);
  writes.note("/s/log.txt", false, 2500);  // still being written: the new file stays "added"
  writes.note("/s/b.txt", false, 1200);
  EXPECT_EQ(writes.untilQuiet(2500), 700);  // b.txt turns quiet at 3200
  EXPECT_EQ(writes.takeQuiet(3199), Writes{});
  EXPECT_EQ(writes.takeQuiet(3200), (Writes{{"/s/b.txt", false}}));
  EXPECT_EQ(writes.untilQuiet(3200), 1300);
  EXPECT_EQ(writes.takeQuiet(4499), Writes{});
  EXPECT_EQ(writes.takeQuiet(4500), (Writes{{"/s/log.txt", true}}));
  EXPECT_TRUE(writes.empty());
  EXPECT_EQ(writes.untilQuiet(4500), -1);
}

TEST(QuietWrites, ManyQuietAtOnceComeInTheOrderTheyWereFirstWritten) {
  QuietWrites writes;
  for (const char* p : {"/s/c", "/s/a", "/s/d", "/s/b"}) writes.note(p, false, 0);
  writes.note("/s/c", false, 10);  // a later write does not move it back
  EXPECT_EQ(writes.takeQuiet(5000),
            (Writes{{"/s/c", false}, {"/s/a", false}, {"/s/d", false}, {"/s/b", false}}));
}

TEST(QuietWrites, AClosedFileIsReportedAtOnceAndOnlyItsOwnWrite) {
  QuietWrites writes;
  writes.note("C:\\S\\done.txt", true, 0);
  writes.note("C:\\S\\open.txt", false, 0);
  const std::set<std::string> held{"C:\\S\\open.txt"};
  auto closed = [&](const std::string& p) { return !held.count(p); };
  EXPECT_EQ(writes.takeClosed({"C:\\S\\done.txt", "C:\\S\\open.txt", "C:\\S\\never.txt"}, closed),
            (Writes{{"C:\\S\\done.txt", true}}));
  EXPECT_EQ(writes.take("C:\\S\\done.txt"), std::nullopt);  // reported once
  EXPECT_EQ(writes.take("C:\\S\\open.txt"), (QuietWrites::Write{"C:\\S\\open.txt", false}));
}

// A path that goes (removed, renamed) first has its write reported: the file
// and what was written in a folder that goes, not a name that only begins alike.
TEST(QuietWrites, WritesAtAndBelowAPathThatGoesAreTakenFirst) {
  QuietWrites writes;
  writes.note("C:\\S\\docs\\a.txt", true, 0);
  writes.note("C:\\S\\docs2\\b.txt", true, 1);
  writes.note("C:\\S\\docs\\sub\\c.txt", false, 2);
  writes.note("C:\\S\\docs", false, 3);
  EXPECT_EQ(writes.takeBelow("C:\\S\\docs", '\\'),
            (Writes{{"C:\\S\\docs\\a.txt", true}, {"C:\\S\\docs\\sub\\c.txt", false}, {"C:\\S\\docs", false}}));
  EXPECT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes.takeBelow("/s/x", '/'), Writes{});
}

}  // namespace
}  // namespace kq
