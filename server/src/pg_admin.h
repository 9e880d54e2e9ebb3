#pragma once
// The administrator's commands that concern the PostgreSQL back end: the
// health check for load balancers, moving a SQLite installation into the
// database, and rebuilding a contract's index from its store folder.
#include <cstdint>
#include <string>
#include <vector>

#include "accounts.h"
#include "index_check.h"

namespace kqs {

// DatabaseHealth: ok with one line saying what was checked, or the reason it is not.
struct DatabaseHealth {
  bool ok = false;
  std::string line;
};
// checkDatabase connects, requires the current schema and every contract's
// store folder reachable (with its marker file). Never throws.
DatabaseHealth checkDatabase(const std::string& url);

// MovedContract is what migrateIntoDatabase moved of one contract.
struct MovedContract {
  std::string contract;
  std::size_t entries = 0, known = 0, moves = 0, versions = 0;
  bool held = false;  // a record of held deletions
};
// migrateIntoDatabase moves the accounts, every contract's index and the
// list of its kept versions (their files copied beside the store, into
// STORE.kqsyncd/versions) from the data folder fromDir into the database, in
// one transaction. Refuses (throws) a database that already holds accounts
// or contracts; a failure leaves the database as it was.
std::vector<MovedContract> migrateIntoDatabase(const std::string& fromDir, const std::string& url);

// rebuildInDatabase makes a contract's index anew from its store folder,
// holding the contract's lock (the nodes wait meanwhile).
RebuildResult rebuildInDatabase(const AccountBook& book, const Account& account, std::int64_t now);

}  // namespace kqs
