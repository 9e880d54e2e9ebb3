#pragma once
// PgContractLock is the contract's lock across kqsyncd nodes: the in-process
// TurnLock first (the sessions of this node in the order they asked), then a
// session advisory lock (pg_advisory_lock on the contract number) on a
// connection held for it, so a node that dies releases it with its
// connection. Before the advisory lock goes, beforeRelease commits what the
// holder batched: the next node must see it.
#include <functional>
#include <string>

#include "contract_lock.h"
#include "pg_connection.h"

namespace kqs {

class PgContractLock : public ContractLock {
 public:
  // Connects at once; throws IndexError when it cannot.
  PgContractLock(const std::string& url, const std::string& contract, std::function<void()> beforeRelease = {});
  // lock throws IndexError when the database cannot be reached (nothing is held then).
  void lock() override;
  void unlock() override;
  bool try_lock() override;

 private:
  void takeAdvisory();
  TurnLock turns_;
  PgConnection db_;
  std::string key_;
  std::function<void()> beforeRelease_;
};

}  // namespace kqs
