#pragma once
// StoreTurns gives one session its turns at the contract's store: a Turn holds
// the contract's lock for one store step. The store's version counter, read
// at the start and end of every turn, tells whether another session changed
// the store in between; once it did, an action is carried out only when what
// it touches is as it was planned (and a folder-wide action not at all).
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "contract_lock.h"
#include "planner.h"
#include "store_index.h"

namespace kqs {

class StoreTurns {
 public:
  StoreTurns(ContractLock& lock, StoreIndex& index) : lock_(lock), index_(index) {}

  class Turn {
   public:
    explicit Turn(StoreTurns& turns);
    ~Turn();
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

   private:
    StoreTurns& turns_;
    std::lock_guard<ContractLock> guard_;
  };

  // newPlan (under a turn): a plan was made from the store as it is now.
  void newPlan() {
    othersChanged_ = false;
    mine_.clear();
  }
  // changing (under a turn): this session is about to change path.
  void changing(const std::string& path) { mine_.insert(path); }
  // current (under a turn): what the action touches is as it was planned.
  bool current(const Action& action, const PlanInput& in);
  // afterEachTurn runs step at the end of every turn, still under the lock
  // (the store's batched writes commit there when due); step must not throw.
  void afterEachTurn(std::function<void()> step) { afterTurn_ = std::move(step); }

 private:
  ContractLock& lock_;
  StoreIndex& index_;
  std::int64_t generation_ = 0;  // the version counter as this session last left it
  bool othersChanged_ = false;   // another session changed the store since the plan was made
  std::set<std::string> mine_;   // paths this session changed since the plan was made
  std::function<void()> afterTurn_;
};

}  // namespace kqs
