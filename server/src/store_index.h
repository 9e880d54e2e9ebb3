#pragma once
// StoreIndex is the SQLite index of one contract's store: entries (path, kind,
// size, mtime, content hash, version, tombstone), the client copies whose
// content is known, and the journal of folder renames.
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "planner.h"
#include "sqlite_statement.h"

#include <sqlite3.h>

namespace kqs {

class StoreIndex {
 public:
  explicit StoreIndex(const std::string& dbPath);
  ~StoreIndex();
  StoreIndex(const StoreIndex&) = delete;
  StoreIndex& operator=(const StoreIndex&) = delete;

  std::map<std::string, StoreEntry> entries();
  // entry is the one entry of path (live or a tombstone), nullopt when none.
  std::optional<StoreEntry> entry(std::string_view path);
  // subtree is the entry of path and every entry below it (tombstones too).
  std::map<std::string, StoreEntry> subtree(const std::string& path);
  // hasLiveEntries is true once the store held anything that is not deleted.
  bool hasLiveEntries();
  // markerSeen: the store's marker file was written or found once; from then
  // on a missing marker means the store folder is not the right one.
  bool markerSeen();
  void setMarkerSeen();
  std::map<std::string, std::vector<KnownCopy>> knownCopies();
  // knownCopiesIn: the known copies of path and of every path below it.
  std::map<std::string, std::vector<KnownCopy>> knownCopiesIn(const std::string& path);
  std::vector<MoveRecord> moves();

  // currentVersion is the contract's version counter: every change of an
  // entry (a deletion too) moves it.
  std::int64_t currentVersion();
  // nextVersion takes the next value of the contract's version counter.
  std::int64_t nextVersion();
  void put(const StoreEntry& entry);
  // tombstone marks path and everything below it deleted at the given time
  // (and moves the version counter when anything was live).
  void tombstone(const std::string& path, std::int64_t at);
  // rename moves path and everything below it to target, leaving tombstones
  // behind; folder renames are journalled.
  void rename(const std::string& path, const std::string& target, bool isDir, std::int64_t at);
  void recordKnown(const std::string& path, const KnownCopy& copy);

  // transaction runs body inside BEGIN/COMMIT (ROLLBACK when it throws). The
  // error that ended it is the one thrown: a failed rollback (SQLite may have
  // rolled back by itself, e.g. on a full disk) never hides it. Inside an
  // open batch (or another transaction) body runs in a savepoint of it: a
  // throw undoes body's changes only.
  template <typename F>
  void transaction(F&& body) {
    if (batching_) openBatch();
    bool nested = sqlite3_get_autocommit(db_) == 0;
    exec(nested ? "SAVEPOINT step" : "BEGIN IMMEDIATE");
    try {
      body();
      exec(nested ? "RELEASE step" : "COMMIT");
    } catch (...) {
      if (nested) rollbackStep();
      else rollback();
      throw;
    }
  }
  void exec(const char* sql);

  // Batching. While on, every change joins one open transaction (the batch),
  // committed with one flush by commitBatch; a crash before it loses the
  // batch's changes together, never part of one step. Off by default: each
  // change commits on its own.
  void setBatching(bool on);
  bool batchOpen() const { return batchOpen_; }
  // batchSteps is how many changes the open batch holds.
  int batchSteps() const { return batchSteps_; }
  // commitBatch commits the open batch (nothing when none is open). Throws
  // when SQLite refuses; the batch's changes are then gone (batchLost).
  void commitBatch();
  // dropBatch rolls the open batch back (batchLost); never throws.
  void dropBatch() noexcept;
  // batchLost: a batch (or part of one) was rolled back since the last
  // clearBatchLost; the index may miss what the store holds.
  bool batchLost() const { return batchLost_; }
  void clearBatchLost() { batchLost_ = false; }
  // commits counts the transactions committed on this handle (for the bench).
  std::int64_t commits() const { return commits_; }

 private:
  // rollback ends an open transaction, if SQLite still has one; never throws.
  void rollback() noexcept;
  // rollbackStep undoes the innermost savepoint; when SQLite ended the whole
  // transaction by itself the batch is gone. Never throws.
  void rollbackStep() noexcept;
  // openBatch begins the batch when batching and none is open; write joins
  // it (every change method calls it first).
  void openBatch();
  void write();
  sqlite3* db_ = nullptr;
  bool batching_ = false;
  bool batchOpen_ = false;
  int batchSteps_ = 0;
  bool batchLost_ = false;
  std::int64_t commits_ = 0;
};

}  // namespace kqs
