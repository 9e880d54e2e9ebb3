#pragma once
// PgIndex keeps one contract's index in kqsyncd's PostgreSQL database, beside
// every other contract's (rows keyed by contract), so that every node serving
// the contract shares it. A committed change is announced on the change feed
// (pg_feed.h) for the other nodes' store watches.
#include <memory>
#include <string>

#include "pg_connection.h"
#include "pg_feed.h"
#include "store_index.h"

namespace kqs {

class PgIndex : public StoreIndex {
 public:
  // Connects (a connection of its own) and makes the contract's row when it
  // has none; the schema must be current (migrateSchema). Throws IndexError.
  PgIndex(const std::string& url, std::string contract);
  ~PgIndex() override;

  std::map<std::string, StoreEntry> entries() override;
  std::optional<StoreEntry> entry(std::string_view path) override;
  std::map<std::string, StoreEntry> subtree(const std::string& path) override;
  bool hasLiveEntries() override;
  bool markerSeen() override;
  void setMarkerSeen() override;
  std::map<std::string, std::vector<KnownCopy>> knownCopies() override;
  std::map<std::string, std::vector<KnownCopy>> knownCopiesIn(const std::string& path) override;
  std::vector<MoveRecord> moves() override;
  std::int64_t currentVersion() override;
  std::int64_t nextVersion() override;
  void put(const StoreEntry& entry) override;
  void tombstone(const std::string& path, std::int64_t at) override;
  void recordKnown(const std::string& path, const KnownCopy& copy) override;
  std::function<bool()> changesElsewhere() override;
  // clear removes every entry, known copy and journalled move of the contract
  // (a rebuild from the store folder follows in the same transaction).
  void clear();

 protected:
  bool inTransaction() override { return db_.inTransaction(); }
  void begin() override { db_.exec("BEGIN"); }
  void commit() override;
  void rollback() noexcept override;
  void savepoint() override { db_.exec("SAVEPOINT step"); }
  void releaseSavepoint() override { db_.exec("RELEASE SAVEPOINT step"); }
  void rollbackToSavepoint() noexcept override;
  void moveKnown(const std::string& path, const std::string& target) override;
  void journalMove(const std::string& path, const std::string& target, std::int64_t at) override;

 private:
  // changed: a change was made; outside a transaction it is committed and announced now.
  void changed();
  std::map<std::string, StoreEntry> entriesWhere(const std::string& condition, const std::string& path);
  std::map<std::string, std::vector<KnownCopy>> knownWhere(const std::string& condition, const std::string& path);

  PgConnection db_;
  std::string contract_;
  std::shared_ptr<PgChangeFeed> feed_;
  bool unannounced_ = false;  // the open transaction changed the index
};

}  // namespace kqs
