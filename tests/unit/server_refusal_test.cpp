// A server that closes the link right after the init text refused the contract
// and the key: the engine says so and, from the third refusal in a row, waits
// longer and longer between its automatic attempts.
#include <gtest/gtest.h>

#include "engine/server_refusal.h"
#include "support/engine_harness.h"

namespace kq {
namespace {

TEST(ServerRefusalTest, TheWaitDoublesFromTheThirdRefusalUpToFiveMinutes) {
  const struct {
    int refusals;
    std::int64_t waitMs;
  } cases[] = {{0, 0}, {1, 0}, {2, 0}, {3, 20'000}, {4, 40'000}, {5, 80'000},
               {6, 160'000}, {7, 300'000}, {12, 300'000}};
  for (const auto& c : cases) {
    ServerRefusal refusal;
    for (int i = 0; i < c.refusals; ++i) {
      refusal.onInitSent("id");
      EXPECT_TRUE(refusal.onClosed(1000));
    }
    EXPECT_EQ(refusal.waitMs(), c.waitMs) << c.refusals << " refusals";
    EXPECT_EQ(refusal.mayConnect("id", 1000 + c.waitMs), true) << c.refusals;
    if (c.waitMs > 0) EXPECT_FALSE(refusal.mayConnect("id", 1000 + c.waitMs - 1)) << c.refusals;
  }
}

TEST(ServerRefusalTest, OnlyACloseAfterTheInitTextWithoutAWordFromTheServerIsARefusal) {
  ServerRefusal refusal;
  EXPECT_FALSE(refusal.onClosed(0)) << "no link was up";
  refusal.onInitSent("id");
  refusal.onServerSpoke();
  EXPECT_FALSE(refusal.onClosed(0)) << "the server answered";
  refusal.onInitSent("id");
  refusal.onOwnClose();
  EXPECT_FALSE(refusal.onClosed(0)) << "the client closed it";
  refusal.onInitSent("id");
  EXPECT_TRUE(refusal.onClosed(0));
  EXPECT_FALSE(refusal.onClosed(0)) << "one close, one refusal";
  EXPECT_EQ(refusal.inARow(), 1);
}

TEST(ServerRefusalTest, AnAnswerOrANewConfigurationEndsTheWait) {
  ServerRefusal answered, reconfigured;
  for (ServerRefusal* r : {&answered, &reconfigured})
    for (int i = 0; i < 5; ++i) {
      r->onInitSent("old key");
      r->onClosed(0);
    }
  answered.onServerSpoke();
  EXPECT_FALSE(answered.refused());
  EXPECT_EQ(answered.waitMs(), 0);
  EXPECT_TRUE(reconfigured.mayConnect("new key", 1));
  EXPECT_FALSE(reconfigured.refused());
}

class RefusedLinkTest : public ::testing::Test {
 protected:
  // refusedRound: an automatic attempt whose link the server closes after the init text.
  void refusedRound() {
    t.connect();
    t.server.active = false;
    t.engine.FilesyncSocketDisconnect();
  }
  const EngineStatus& published() {
    t.engine.StatusTimer();
    return t.published.last();
  }
  test::MemoryEngine t;
};

TEST_F(RefusedLinkTest, TheRefusalIsLoggedShownAndPublished) {
  const std::string text = "The server refused contract 1234 and this API key: run the installer again to correct them";
  refusedRound();
  EXPECT_TRUE(t.log.contains(text));
  EXPECT_EQ(t.status.panels[0], "Refused: contract 1234");
  EXPECT_EQ(published().refusal, text);
  // The change timer's "Disconnected" keeps the refusal in the panel.
  t.engine.CheckChangesTimer();
  EXPECT_EQ(t.status.panels[0], "Refused: contract 1234");
  // The server answers at the next attempt: the refusal is over.
  t.clock.advance(10'000);
  t.connect();
  t.read(std::string(1, 'R'));
  EXPECT_EQ(published().refusal, "");
  t.server.active = false;
  t.engine.FilesyncSocketDisconnect();
  EXPECT_EQ(t.status.panels[0], "Disconnected");
}

TEST_F(RefusedLinkTest, ThreeRefusalsInARowSlowTheAttemptsUntilTheKeyChanges) {
  for (int i = 0; i < 3; ++i) {
    refusedRound();
    t.clock.advance(10'000);
  }
  EXPECT_TRUE(t.log.contains("Refused 3 times in a row: next attempt in 20 s"));
  const int before = t.server.activations;
  t.engine.ReconnectTimer();  // 10 s after the close: still waiting
  EXPECT_EQ(t.server.activations, before);
  t.clock.advance(10'000);
  t.engine.ReconnectTimer();
  EXPECT_EQ(t.server.activations, before + 1);
  t.engine.FilesyncSocketConnecting();
  t.server.active = true;
  t.engine.FilesyncSocketConnect();
  t.server.active = false;
  t.engine.FilesyncSocketDisconnect();
  EXPECT_TRUE(t.log.contains("Refused 4 times in a row: next attempt in 40 s"));
  t.clock.advance(10'000);
  const int waiting = t.server.activations;
  t.engine.ReconnectTimer();
  EXPECT_EQ(t.server.activations, waiting);
  // The installer wrote a new key: the next tick connects and the panel no longer names the refusal.
  test::EngineSettings fixed;
  fixed.apiKey = "ABCDEFGHIJKLMNOPQRSTUVWX";
  t.writeConfig(fixed);
  t.engine.ReconnectTimer();
  EXPECT_EQ(t.server.activations, waiting + 1);
  EXPECT_EQ(published().refusal, "");
}

// Each refusal is published as it happens, with the count in a row that a
// view stops on; an answer, or a new configuration, counts from 0 again.
TEST_F(RefusedLinkTest, EachRefusalIsPublishedAtOnceWithTheCountInARow) {
  for (int expected = 1; expected <= 3; ++expected) {
    const std::size_t before = t.published.records.size();
    refusedRound();
    ASSERT_EQ(t.published.records.size(), before + 1) << "refusal " << expected;
    EXPECT_EQ(t.published.last().refusalsInARow, expected);
    EXPECT_FALSE(t.published.last().connected);
    t.clock.advance(300'000);
  }
  t.connect();
  t.read(std::string(1, 'R'));
  EXPECT_EQ(published().refusalsInARow, 0) << "the server answered";
  t.server.active = false;
  t.engine.FilesyncSocketDisconnect();
  EXPECT_EQ(published().refusalsInARow, 0) << "a close after an answer is no refusal";
  t.clock.advance(10'000);
  refusedRound();
  EXPECT_EQ(t.published.last().refusalsInARow, 1);
  test::EngineSettings fixed;
  fixed.apiKey = "ABCDEFGHIJKLMNOPQRSTUVWX";
  t.writeConfig(fixed);
  t.engine.ReconnectTimer();
  EXPECT_EQ(published().refusalsInARow, 0) << "a new key";
}

TEST_F(RefusedLinkTest, ALinkTheClientClosesItselfIsNoRefusal) {
  t.connect();
  t.engine.Connect1Click();  // the user disconnects
  t.engine.FilesyncSocketDisconnect();
  EXPECT_EQ(t.status.panels[0], "Disconnected");
  ASSERT_TRUE(t.fs.removeAll(t.syncFolder));
  t.engine.FilesyncSocketConnecting();
  t.server.active = true;
  t.engine.FilesyncSocketConnect();  // no sync folder: the client closes the link
  t.engine.FilesyncSocketDisconnect();
  EXPECT_EQ(published().refusal, "");
  EXPECT_EQ(published().refusalsInARow, 0);
}

}  // namespace
}  // namespace kq
