#include "platform/posix/event_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <vector>

namespace kq {

namespace {

void setNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  fcntl(fd, F_SETFD, FD_CLOEXEC);
}

}  // namespace

EventLoop::EventLoop() {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("EventLoop: cannot create the wake pipe");
  wakeRead_ = fds[0];
  wakeWrite_ = fds[1];
  setNonBlocking(wakeRead_);
  setNonBlocking(wakeWrite_);
}

EventLoop::~EventLoop() {
  close(wakeRead_);
  close(wakeWrite_);
}

EventLoop::TimerId EventLoop::addTimer(int intervalMs, std::function<void()> tick, bool enabled) {
  TimerId id = nextTimerId_++;
  Timer& t = timers_[id];
  t.intervalMs = intervalMs < 1 ? 1 : intervalMs;
  t.tick = std::move(tick);
  setTimerEnabled(id, enabled);
  return id;
}

void EventLoop::setTimerEnabled(TimerId id, bool enabled) {
  auto it = timers_.find(id);
  if (it == timers_.end() || it->second.enabled == enabled) return;
  it->second.enabled = enabled;
  if (enabled) it->second.due = SteadyClock::now() + std::chrono::milliseconds(it->second.intervalMs);
}

void EventLoop::restartTimer(TimerId id, int intervalMs) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second.intervalMs = intervalMs < 1 ? 1 : intervalMs;
  it->second.enabled = false;
  setTimerEnabled(id, true);
}

bool EventLoop::timerEnabled(TimerId id) const {
  auto it = timers_.find(id);
  return it != timers_.end() && it->second.enabled;
}

void EventLoop::removeTimer(TimerId id) { timers_.erase(id); }

void EventLoop::watchFd(int fd, short events, FdHandler handler) {
  watches_[fd] = Watch{events, nextSerial_++, std::move(handler)};
}

void EventLoop::setFdEvents(int fd, short events) {
  auto it = watches_.find(fd);
  if (it != watches_.end()) it->second.events = events;
}

void EventLoop::unwatchFd(int fd) { watches_.erase(fd); }

void EventLoop::post(std::function<void()> task) { posted_.push_back(std::move(task)); }

void EventLoop::requestStopFromSignal() {
  signalStop_ = 1;
  char byte = 1;
  ssize_t ignored = write(wakeWrite_, &byte, 1);
  (void)ignored;
}

void EventLoop::clearStop() {
  stopped_ = false;
  signalStop_ = 0;
}

void EventLoop::run() {
  while (!stopped()) runOnce(SteadyClock::time_point::max());
}

void EventLoop::runFor(std::chrono::milliseconds time) {
  auto deadline = SteadyClock::now() + time;
  while (!stopped() && SteadyClock::now() < deadline) runOnce(deadline);
}

bool EventLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto deadline = SteadyClock::now() + limit;
  while (!done()) {
    if (stopped() || SteadyClock::now() >= deadline) return false;
    runOnce(deadline);
  }
  return true;
}

int EventLoop::pollTimeoutMs(SteadyClock::time_point deadline) const {
  if (!posted_.empty()) return 0;
  auto next = deadline;
  for (const auto& [id, t] : timers_)
    if (t.enabled && t.due < next) next = t.due;
  if (next == SteadyClock::time_point::max()) return -1;
  auto now = SteadyClock::now();
  if (next <= now) return 0;
  // Round up so that a timer is never woken for just before it is due.
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
  return ms > 3600000 ? 3600000 : static_cast<int>(ms);
}

void EventLoop::runOnce(SteadyClock::time_point deadline) {
  if (!posted_.empty()) {
    runPosted();
    return;
  }
  std::vector<pollfd> fds;
  std::vector<std::uint64_t> serials;
  fds.push_back({wakeRead_, POLLIN, 0});
  serials.push_back(0);
  for (const auto& [fd, w] : watches_) {
    fds.push_back({fd, w.events, 0});
    serials.push_back(w.serial);
  }
  int n = poll(fds.data(), fds.size(), pollTimeoutMs(deadline));
  if (n < 0 && errno != EINTR) throw std::runtime_error("EventLoop: poll failed");
  if (n > 0) {
    if (fds[0].revents) {
      char buf[64];
      while (read(wakeRead_, buf, sizeof buf) > 0) {
      }
    }
    for (std::size_t i = 1; i < fds.size() && !stopped(); ++i) {
      if (fds[i].revents == 0) continue;
      // A handler may have closed this descriptor, or a new one may reuse its number.
      auto it = watches_.find(fds[i].fd);
      if (it == watches_.end() || it->second.serial != serials[i]) continue;
      FdHandler handler = it->second.handler;
      short revents = fds[i].revents;
      dispatch([&] { handler(revents); });
    }
  }
  if (!stopped()) runDueTimers();
}

void EventLoop::runPosted() {
  while (!posted_.empty() && !stopped()) {
    auto task = std::move(posted_.front());
    posted_.pop_front();
    dispatch(task);
  }
}

void EventLoop::runDueTimers() {
  std::vector<TimerId> ids;
  for (const auto& [id, t] : timers_) ids.push_back(id);
  for (TimerId id : ids) {
    if (stopped()) return;
    auto it = timers_.find(id);
    if (it == timers_.end() || !it->second.enabled) continue;
    auto now = SteadyClock::now();
    Timer& t = it->second;
    if (t.due > now) continue;
    auto interval = std::chrono::milliseconds(t.intervalMs);
    // On time, the timer keeps its schedule; ticks missed while the thread was
    // busy merge into this one and the next follows a whole interval later.
    t.due = t.due + interval > now ? t.due + interval : now + interval;
    auto tick = t.tick;
    dispatch(tick);
  }
}

void EventLoop::dispatch(const std::function<void()>& call) {
  try {
    call();
    if (afterEach_) afterEach_();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "event handler failed: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "event handler failed\n");
  }
}

}  // namespace kq
