#pragma once
// SqliteIndex keeps one contract's index in a SQLite file of the data folder
// (WAL mode, full syncs): the back end of a kqsyncd that runs alone.
#include <sqlite3.h>

#include <string>

#include "store_index.h"

namespace kqs {

class SqliteIndex : public StoreIndex {
 public:
  explicit SqliteIndex(const std::string& dbPath);
  ~SqliteIndex() override;

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
  void exec(const char* sql);

 protected:
  bool inTransaction() override;
  void begin() override { exec("BEGIN IMMEDIATE"); }
  void commit() override { exec("COMMIT"); }
  void rollback() noexcept override;
  void savepoint() override { exec("SAVEPOINT step"); }
  void releaseSavepoint() override { exec("RELEASE step"); }
  void rollbackToSavepoint() noexcept override;
  void moveKnown(const std::string& path, const std::string& target) override;
  void journalMove(const std::string& path, const std::string& target, std::int64_t at) override;

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace kqs
