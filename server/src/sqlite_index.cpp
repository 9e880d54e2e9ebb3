#include "sqlite_index.h"

#include "sqlite_statement.h"

#include <sqlite3.h>

#include <algorithm>

namespace kqs {

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS entries(path TEXT PRIMARY KEY, is_dir INTEGER NOT NULL, size INTEGER NOT NULL,"
    " mtime INTEGER NOT NULL, hash TEXT NOT NULL, version INTEGER NOT NULL, deleted INTEGER NOT NULL,"
    " deleted_at INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS known(path TEXT NOT NULL, size INTEGER NOT NULL, mtime INTEGER NOT NULL,"
    " hash TEXT NOT NULL, PRIMARY KEY(path, size, mtime));"
    "CREATE TABLE IF NOT EXISTS moves(id INTEGER PRIMARY KEY AUTOINCREMENT, src TEXT NOT NULL, dst TEXT NOT NULL,"
    " at INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL);"
    "INSERT OR IGNORE INTO meta VALUES('version', 0);";

// Columns added since the first index format, with their defaults for old rows
// (a zero identity makes the next scan hash the file again).
constexpr struct {
  const char* name;
  const char* definition;
} kAddedColumns[] = {
    {"mtime_ns", "INTEGER NOT NULL DEFAULT 0"},
    {"ctime_ns", "INTEGER NOT NULL DEFAULT 0"},
    {"inode", "INTEGER NOT NULL DEFAULT 0"},
    {"recheck", "INTEGER NOT NULL DEFAULT 0"},
};

constexpr const char* kEntryColumns =
    "path, is_dir, size, mtime, hash, version, deleted, deleted_at, mtime_ns, ctime_ns, inode, recheck";

StoreEntry readEntry(Statement& st) {
  StoreEntry e{st.text(0), st.integer(1) != 0, st.integer(2), st.integer(3), st.text(4),
               st.integer(5), st.integer(6) != 0, st.integer(7)};
  e.mtimeNs = st.integer(8);
  e.ctimeNs = st.integer(9);
  e.inode = st.integer(10);
  e.recheck = st.integer(11) != 0;
  return e;
}

void addMissingColumns(sqlite3* db) {
  std::vector<std::string> have;
  Statement info(db, "PRAGMA table_info(entries)");
  while (info.step()) have.push_back(info.text(1));
  for (auto& column : kAddedColumns) {
    if (std::find(have.begin(), have.end(), column.name) != have.end()) continue;
    std::string sql = std::string("ALTER TABLE entries ADD COLUMN ") + column.name + " " + column.definition;
    execSql(db, sql.c_str());
  }
}

// The rows of path itself and of everything below it ('/' + 1 is '0').
constexpr const char* kSubtree = "(path = ?1 OR (path > ?1 || '/' AND path < ?1 || '0'))";

}  // namespace

SqliteIndex::SqliteIndex(const std::string& dbPath) : db_(openDatabase(dbPath)) {
  sqlite3_commit_hook(
      db_, [](void* self) {
        static_cast<SqliteIndex*>(self)->countCommit();
        return 0;
      },
      this);
  try {
    transaction([&] {
      exec(kSchema);
      addMissingColumns(db_);
    });
  } catch (...) {
    sqlite3_close(db_);
    throw;
  }
}

SqliteIndex::~SqliteIndex() {
  try {
    commitBatch();
  } catch (...) {
    // closing rolls the batch back; the next scan picks up what the store holds
  }
  sqlite3_close(db_);
}

void SqliteIndex::exec(const char* sql) { execSql(db_, sql); }

bool SqliteIndex::inTransaction() { return sqlite3_get_autocommit(db_) == 0; }

void SqliteIndex::rollback() noexcept {
  if (!inTransaction()) return;  // no transaction is open any more
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteIndex::rollbackToSavepoint() noexcept {
  sqlite3_exec(db_, "ROLLBACK TO step", nullptr, nullptr, nullptr);
  sqlite3_exec(db_, "RELEASE step", nullptr, nullptr, nullptr);
}

std::map<std::string, StoreEntry> SqliteIndex::entries() {
  std::map<std::string, StoreEntry> out;
  std::string sql = std::string("SELECT ") + kEntryColumns + " FROM entries";
  Statement st(db_, sql.c_str());
  while (st.step()) {
    StoreEntry e = readEntry(st);
    out[e.path] = std::move(e);
  }
  return out;
}

std::optional<StoreEntry> SqliteIndex::entry(std::string_view path) {
  std::string sql = std::string("SELECT ") + kEntryColumns + " FROM entries WHERE path = ?1";
  Statement st(db_, sql.c_str());
  st.bindView(1, path);
  if (!st.step()) return std::nullopt;
  return readEntry(st);
}

std::map<std::string, StoreEntry> SqliteIndex::subtree(const std::string& path) {
  std::map<std::string, StoreEntry> out;
  std::string sql = std::string("SELECT ") + kEntryColumns + " FROM entries WHERE " + kSubtree;
  Statement st(db_, sql.c_str());
  st.bind(1, path);
  while (st.step()) {
    StoreEntry e = readEntry(st);
    out[e.path] = std::move(e);
  }
  return out;
}

bool SqliteIndex::hasLiveEntries() {
  Statement st(db_, "SELECT 1 FROM entries WHERE deleted = 0 LIMIT 1");
  return st.step();
}

bool SqliteIndex::markerSeen() {
  Statement st(db_, "SELECT value FROM meta WHERE key = 'marker'");
  return st.step() && st.integer(0) != 0;
}

void SqliteIndex::setMarkerSeen() {
  write();
  exec("INSERT OR REPLACE INTO meta VALUES('marker', 1)");
}

std::map<std::string, std::vector<KnownCopy>> SqliteIndex::knownCopies() {
  std::map<std::string, std::vector<KnownCopy>> out;
  Statement st(db_, "SELECT path, size, mtime, hash FROM known");
  while (st.step()) out[st.text(0)].push_back({st.integer(1), st.integer(2), st.text(3)});
  return out;
}

std::map<std::string, std::vector<KnownCopy>> SqliteIndex::knownCopiesIn(const std::string& path) {
  std::map<std::string, std::vector<KnownCopy>> out;
  std::string sql = std::string("SELECT path, size, mtime, hash FROM known WHERE ") + kSubtree;
  Statement st(db_, sql.c_str());
  st.bind(1, path);
  while (st.step()) out[st.text(0)].push_back({st.integer(1), st.integer(2), st.text(3)});
  return out;
}

std::vector<MoveRecord> SqliteIndex::moves() {
  std::vector<MoveRecord> out;
  Statement st(db_, "SELECT src, dst, at FROM moves ORDER BY id");
  while (st.step()) out.push_back({st.text(0), st.text(1), st.integer(2)});
  return out;
}

std::int64_t SqliteIndex::currentVersion() {
  Statement st(db_, "SELECT value FROM meta WHERE key = 'version'");
  st.step();
  return st.integer(0);
}

std::int64_t SqliteIndex::nextVersion() {
  write();
  Statement(db_, "UPDATE meta SET value = value + 1 WHERE key = 'version'").step();
  Statement st(db_, "SELECT value FROM meta WHERE key = 'version'");
  st.step();
  return st.integer(0);
}

void SqliteIndex::put(const StoreEntry& e) {
  write();
  std::string sql = std::string("INSERT OR REPLACE INTO entries(") + kEntryColumns +
                    ") VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)";
  Statement st(db_, sql.c_str());
  st.bind(1, e.path).bind(2, std::int64_t(e.isDir)).bind(3, e.size).bind(4, e.mtime).bind(5, e.hash);
  st.bind(6, e.version).bind(7, std::int64_t(e.deleted)).bind(8, e.deletedAt).bind(9, e.mtimeNs);
  st.bind(10, e.ctimeNs).bind(11, e.inode).bind(12, std::int64_t(e.recheck)).step();
}

void SqliteIndex::tombstone(const std::string& path, std::int64_t at) {
  write();
  std::string sql = std::string("UPDATE entries SET deleted = 1, deleted_at = ?2 WHERE deleted = 0 AND ") + kSubtree;
  Statement st(db_, sql.c_str());
  st.bind(1, path).bind(2, at).step();
  if (sqlite3_changes(db_) > 0) nextVersion();
}

void SqliteIndex::moveKnown(const std::string& path, const std::string& target) {
  std::string sql = std::string("UPDATE OR REPLACE known SET path = ?2 || substr(path, length(?1) + 1) WHERE ") + kSubtree;
  Statement st(db_, sql.c_str());
  st.bind(1, path).bind(2, target).step();
}

void SqliteIndex::journalMove(const std::string& path, const std::string& target, std::int64_t at) {
  Statement journal(db_, "INSERT INTO moves(src, dst, at) VALUES(?1, ?2, ?3)");
  journal.bind(1, path).bind(2, target).bind(3, at).step();
}

void SqliteIndex::recordKnown(const std::string& path, const KnownCopy& copy) {
  write();
  Statement st(db_, "INSERT OR REPLACE INTO known VALUES(?1, ?2, ?3, ?4)");
  st.bind(1, path).bind(2, copy.size).bind(3, copy.mtime).bind(4, copy.hash).step();
}

}  // namespace kqs
