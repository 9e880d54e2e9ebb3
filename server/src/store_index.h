#pragma once
// StoreIndex is the SQLite index of one contract's store: entries (path, kind,
// size, mtime, content hash, version, tombstone), the client copies whose
// content is known, and the journal of folder renames.
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "planner.h"

struct sqlite3;

namespace kqs {

struct IndexError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class StoreIndex {
 public:
  explicit StoreIndex(const std::string& dbPath);
  ~StoreIndex();
  StoreIndex(const StoreIndex&) = delete;
  StoreIndex& operator=(const StoreIndex&) = delete;

  std::map<std::string, StoreEntry> entries();
  std::map<std::string, std::vector<KnownCopy>> knownCopies();
  std::vector<MoveRecord> moves();

  // nextVersion takes the next value of the contract's version counter.
  std::int64_t nextVersion();
  void put(const StoreEntry& entry);
  // tombstone marks path and everything below it deleted at the given time.
  void tombstone(const std::string& path, std::int64_t at);
  // rename moves path and everything below it to target, leaving tombstones
  // behind; folder renames are journalled.
  void rename(const std::string& path, const std::string& target, bool isDir, std::int64_t at);
  void recordKnown(const std::string& path, const KnownCopy& copy);

  // transaction runs body inside BEGIN/COMMIT (ROLLBACK when it throws).
  template <typename F>
  void transaction(F&& body) {
    exec("BEGIN IMMEDIATE");
    try {
      body();
      exec("COMMIT");
    } catch (...) {
      exec("ROLLBACK");
      throw;
    }
  }
  void exec(const char* sql);

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace kqs
