#pragma once
// StoreIndex is the index of one contract's store: entries (path, kind, size,
// mtime, content hash, version, tombstone), the client copies whose content is
// known, the journal of folder renames, the contract's version counter and its
// marker flag. Two back ends keep it: a SQLite file per contract
// (SqliteIndex, the default) and a PostgreSQL database shared by every node
// and contract (PgIndex). The transactions, savepoints and batches are the
// same for both and live here; a back end supplies the data statements and
// its transaction primitives.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "planner.h"

namespace kqs {

// IndexError: the index refused a statement (its own words), or could not be reached.
struct IndexError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class StoreIndex {
 public:
  virtual ~StoreIndex() = default;
  StoreIndex() = default;
  StoreIndex(const StoreIndex&) = delete;
  StoreIndex& operator=(const StoreIndex&) = delete;

  virtual std::map<std::string, StoreEntry> entries() = 0;
  // entry is the one entry of path (live or a tombstone), nullopt when none.
  virtual std::optional<StoreEntry> entry(std::string_view path) = 0;
  // subtree is the entry of path and every entry below it (tombstones too).
  virtual std::map<std::string, StoreEntry> subtree(const std::string& path) = 0;
  // hasLiveEntries is true once the store held anything that is not deleted.
  virtual bool hasLiveEntries() = 0;
  // markerSeen: the store's marker file was written or found once; from then
  // on a missing marker means the store folder is not the right one.
  virtual bool markerSeen() = 0;
  virtual void setMarkerSeen() = 0;
  virtual std::map<std::string, std::vector<KnownCopy>> knownCopies() = 0;
  // knownCopiesIn: the known copies of path and of every path below it.
  virtual std::map<std::string, std::vector<KnownCopy>> knownCopiesIn(const std::string& path) = 0;
  virtual std::vector<MoveRecord> moves() = 0;

  // currentVersion is the contract's version counter: every change of an
  // entry (a deletion too) moves it.
  virtual std::int64_t currentVersion() = 0;
  // nextVersion takes the next value of the contract's version counter.
  virtual std::int64_t nextVersion() = 0;
  virtual void put(const StoreEntry& entry) = 0;
  // tombstone marks path and everything below it deleted at the given time
  // (and moves the version counter when anything was live).
  virtual void tombstone(const std::string& path, std::int64_t at) = 0;
  // rename moves path and everything below it to target, leaving tombstones
  // behind; folder renames are journalled.
  void rename(const std::string& path, const std::string& target, bool isDir, std::int64_t at);
  virtual void recordKnown(const std::string& path, const KnownCopy& copy) = 0;

  // changesElsewhere is, for an index that other kqsyncd nodes change too, a
  // question that is true once after another node committed a change to this
  // contract (the store watch then scans); empty for an index of this process alone.
  virtual std::function<bool()> changesElsewhere() { return {}; }

  // transaction runs body inside BEGIN/COMMIT (ROLLBACK when it throws). The
  // error that ended it is the one thrown: a failed rollback (the back end may
  // have rolled back by itself, e.g. on a full disk) never hides it. Inside an
  // open batch (or another transaction) body runs in a savepoint of it: a
  // throw undoes body's changes only.
  void transaction(const std::function<void()>& body);

  // Batching. While on, every change joins one open transaction (the batch),
  // committed with one flush by commitBatch; a crash before it loses the
  // batch's changes together, never part of one step. Off by default: each
  // change commits on its own.
  void setBatching(bool on);
  bool batchOpen() const { return batchOpen_; }
  // batchSteps is how many changes the open batch holds.
  int batchSteps() const { return batchSteps_; }
  // commitBatch commits the open batch (nothing when none is open). Throws
  // when the back end refuses; the batch's changes are then gone (batchLost).
  void commitBatch();
  // dropBatch rolls the open batch back (batchLost); never throws.
  void dropBatch() noexcept;
  // batchLost: a batch (or part of one) was rolled back since the last
  // clearBatchLost; the index may miss what the store holds.
  bool batchLost() const { return batchLost_; }
  void clearBatchLost() { batchLost_ = false; }
  // commits counts the transactions committed on this handle (for the bench).
  std::int64_t commits() const { return commits_; }

 protected:
  // The back end's transaction primitives. inTransaction: a transaction is
  // open on the connection (also one the back end has already failed).
  virtual bool inTransaction() = 0;
  virtual void begin() = 0;
  virtual void commit() = 0;
  // rollback ends an open transaction, if there still is one; never throws.
  virtual void rollback() noexcept = 0;
  virtual void savepoint() = 0;
  virtual void releaseSavepoint() = 0;
  virtual void rollbackToSavepoint() noexcept = 0;
  // write: a change follows; it joins the open batch (every change calls it first).
  void write();
  // moveKnown moves the known copies of path and below it to target; journalMove records a folder rename.
  virtual void moveKnown(const std::string& path, const std::string& target) = 0;
  virtual void journalMove(const std::string& path, const std::string& target, std::int64_t at) = 0;
  void countCommit() { ++commits_; }

 private:
  // rollbackStep undoes the innermost savepoint; when the back end ended the
  // whole transaction by itself the batch is gone. Never throws.
  void rollbackStep() noexcept;
  // openBatch begins the batch when batching and none is open.
  void openBatch();
  bool batching_ = false;
  bool batchOpen_ = false;
  int batchSteps_ = 0;
  bool batchLost_ = false;
  std::int64_t commits_ = 0;
};

}  // namespace kqs
