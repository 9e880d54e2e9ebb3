#pragma once
// EventLoop is the single-threaded poll() loop of the POSIX programs: file
// descriptors with their handlers, message-style timers and posted tasks, all
// run one at a time on the calling thread. It sleeps until the next event or
// timer is due.
#include <chrono>
#include <csignal>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>

namespace kq {

class EventLoop {
 public:
  using SteadyClock = std::chrono::steady_clock;
  using TimerId = int;
  using FdHandler = std::function<void(short revents)>;

  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // addTimer creates a timer that ticks every intervalMs while enabled; the
  // first tick comes intervalMs after it was enabled. Ticks missed while a
  // handler held the thread are merged into one, as window timers do.
  TimerId addTimer(int intervalMs, std::function<void()> tick, bool enabled = true);
  // setTimerEnabled turns a timer on or off; turning a stopped timer on starts
  // its interval anew, turning on a running one changes nothing.
  void setTimerEnabled(TimerId id, bool enabled);
  bool timerEnabled(TimerId id) const;
  // restartTimer sets a new interval and starts it from now (enabling the timer).
  void restartTimer(TimerId id, int intervalMs);
  void removeTimer(TimerId id);

  // watchFd asks poll() for events on fd (replacing an earlier registration);
  // handler gets the returned events.
  void watchFd(int fd, short events, FdHandler handler);
  void setFdEvents(int fd, short events);
  void unwatchFd(int fd);

  // post runs task on the loop after the event being handled.
  void post(std::function<void()> task);
  // setAfterEach installs a hook that runs after every handler, tick and task.
  void setAfterEach(std::function<void()> hook) { afterEach_ = std::move(hook); }

  // run handles events until stop() or requestStopFromSignal().
  void run();
  // runFor handles events for the given time (or until stopped); for tests.
  void runFor(std::chrono::milliseconds time);
  // runUntil handles events until done() is true or the time is up; true when done.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
  void stop() { stopped_ = true; }
  // requestStopFromSignal may be called from a signal handler.
  void requestStopFromSignal();
  bool stopped() const { return stopped_ || signalStop_ != 0; }
  // clearStop lets run() be called again after a stop.
  void clearStop();

 private:
  struct Timer {
    int intervalMs = 0;
    bool enabled = false;
    SteadyClock::time_point due;
    std::function<void()> tick;
  };
  struct Watch {
    short events = 0;
    std::uint64_t serial = 0;
    FdHandler handler;
  };

  // runOnce waits at most until deadline for one round of events and handles it.
  void runOnce(SteadyClock::time_point deadline);
  int pollTimeoutMs(SteadyClock::time_point deadline) const;
  void runPosted();
  void runDueTimers();
  void dispatch(const std::function<void()>& call);

  std::map<TimerId, Timer> timers_;
  TimerId nextTimerId_ = 1;
  std::map<int, Watch> watches_;
  std::uint64_t nextSerial_ = 1;
  std::deque<std::function<void()>> posted_;
  std::function<void()> afterEach_;
  bool stopped_ = false;
  volatile std::sig_atomic_t signalStop_ = 0;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
};

}  // namespace kq
