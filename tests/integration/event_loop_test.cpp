#include "platform/posix/event_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <poll.h>

#include <stdexcept>
#include <thread>
#include <vector>

namespace kq {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(EventLoop, FirstTickComesOneIntervalAfterEnablingAndNeverEarly) {
  EventLoop loop;
  std::vector<Clock::time_point> ticks;
  auto start = Clock::now();
  loop.addTimer(40, [&] { ticks.push_back(Clock::now()); });
  ASSERT_TRUE(loop.runUntil([&] { return ticks.size() >= 3; }, 2000ms));
  EXPECT_GE(ticks[0] - start, 40ms);
  EXPECT_GE(ticks[1] - start, 80ms);
  EXPECT_GE(ticks[2] - start, 120ms);
}

TEST(EventLoop, DisabledTimerDoesNotTickAndEnablingRestartsItsInterval) {
  EventLoop loop;
  int slow = 0;
  int fast = 0;
  auto slowId = loop.addTimer(60, [&] { ++slow; }, false);
  EXPECT_FALSE(loop.timerEnabled(slowId));
  loop.addTimer(10, [&] { ++fast; });
  loop.runFor(100ms);
  EXPECT_EQ(slow, 0);
  EXPECT_GT(fast, 0);
  auto enabledAt = Clock::now();
  loop.setTimerEnabled(slowId, true);
  std::this_thread::sleep_for(30ms);
  loop.setTimerEnabled(slowId, true);  // enabling a running timer does not restart it
  Clock::time_point firstSlow;
  ASSERT_TRUE(loop.runUntil([&] {
    if (slow > 0 && firstSlow == Clock::time_point{}) firstSlow = Clock::now();
    return slow > 0;
  }, 2000ms));
  EXPECT_GE(firstSlow - enabledAt, 60ms);
}

TEST(EventLoop, TimerCanStopItselfAndTicksMissedWhileBusyMergeIntoOne) {
  EventLoop loop;
  std::vector<Clock::time_point> ticks;
  EventLoop::TimerId id = 0;
  id = loop.addTimer(10, [&] {
    ticks.push_back(Clock::now());
    if (ticks.size() == 1) std::this_thread::sleep_for(100ms);  // holds the thread for ten intervals
    if (ticks.size() == 3) loop.setTimerEnabled(id, false);
  });
  loop.runFor(300ms);
  ASSERT_EQ(ticks.size(), 3u);
  EXPECT_FALSE(loop.timerEnabled(id));
  // The ten missed ticks come as one; the next follows a whole interval later.
  EXPECT_GE(ticks[2] - ticks[1], 5ms);
}

TEST(EventLoop, PostedTasksRunInOrderAfterTheCurrentEvent) {
  EventLoop loop;
  std::vector<int> order;
  loop.post([&] {
    order.push_back(1);
    loop.post([&] { order.push_back(3); });
    order.push_back(2);
  });
  int after = 0;
  loop.setAfterEach([&] { ++after; });
  loop.runFor(20ms);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(after, 2);
}

TEST(EventLoop, DescriptorHandlersSeeReadinessAndStopEndsRun) {
  EventLoop loop;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string got;
  loop.watchFd(fds[0], POLLIN, [&](short) {
    char buf[16];
    auto n = read(fds[0], buf, sizeof buf);
    got.append(buf, static_cast<std::size_t>(n));
    loop.stop();
  });
  loop.addTimer(20, [&] { ASSERT_EQ(write(fds[1], "abc", 3), 3); });
  loop.run();
  EXPECT_EQ(got, "abc");
  close(fds[0]);
  close(fds[1]);
}

TEST(EventLoop, StopRequestedFromASignalWakesASleepingLoop) {
  EventLoop loop;
  std::thread t([&] {
    std::this_thread::sleep_for(50ms);
    loop.requestStopFromSignal();
  });
  auto start = Clock::now();
  loop.run();  // no timers, no descriptors: sleeps until woken
  t.join();
  EXPECT_TRUE(loop.stopped());
  EXPECT_LT(Clock::now() - start, 5s);
}

TEST(EventLoop, AHandlerThatThrowsDoesNotEndTheLoop) {
  EventLoop loop;
  int ran = 0;
  loop.post([] { throw std::runtime_error("boom"); });
  loop.post([&] { ++ran; });
  loop.runFor(10ms);
  EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace kq
