#pragma once
// Clock is the server's view of time: a steady millisecond count for
// deadlines and pauses, and the wall clock in seconds for what is recorded.
// Tests hand in a clock they move themselves.
#include <chrono>
#include <cstdint>
#include <ctime>

namespace kqs {

class Clock {
 public:
  virtual ~Clock() = default;
  // steadyMs only moves forward; it measures waits and deadlines.
  virtual std::int64_t steadyMs() = 0;
  // wallSeconds is the time of day, seconds since 1970.
  virtual std::int64_t wallSeconds() = 0;
};

// wallSecondsNow reads the precise time of day. time() reads a copy kept at
// the last timer tick, which can lag behind the stamp the file system has just
// given a written file: a push answered after the client wrote its copy would
// then seem to end before that copy's stamp.
inline std::int64_t wallSecondsNow() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

class SystemClock : public Clock {
 public:
  std::int64_t steadyMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }
  std::int64_t wallSeconds() override { return wallSecondsNow(); }
};

}  // namespace kqs
