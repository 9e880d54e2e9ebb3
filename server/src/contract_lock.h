#pragma once
// ContractLock keeps the sessions of one contract apart while they read or
// change its store. A session holds it to plan and again for each action, but
// never while bytes travel to or from a client, so a slow client holds the
// other clients of its contract for one store step at most.
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kqs {

class ContractLock {
 public:
  virtual ~ContractLock() = default;
  virtual void lock() = 0;
  virtual void unlock() = 0;
  // try_lock takes the lock only when nobody holds it or waits for it.
  virtual bool try_lock() = 0;
};

// TurnLock hands the lock out in the order it was asked for (a ticket lock):
// a session that asks again at once still waits behind the others.
class TurnLock : public ContractLock {
 public:
  void lock() override;
  void unlock() override;
  bool try_lock() override;

 private:
  std::mutex mutex_;
  std::condition_variable turn_;
  std::uint64_t next_ = 0, serving_ = 0;
};

}  // namespace kqs
