#include "store_index.h"

#include <sqlite3.h>

namespace kqs {

namespace {

// Statement wraps one prepared statement; bind indexes start at 1.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
      throw IndexError(sqlite3_errmsg(db));
    }
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement& bind(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& bind(int i, std::int64_t v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  bool step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw IndexError(sqlite3_errmsg(db_));
  }
  std::string text(int col) {
    auto p = sqlite3_column_text(stmt_, col);
    return p == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(p),
                                                      static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)));
  }
  std::int64_t integer(int col) { return sqlite3_column_int64(stmt_, col); }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

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

// The rows of path itself and of everything below it ('/' + 1 is '0').
constexpr const char* kSubtree = "(path = ?1 OR (path > ?1 || '/' AND path < ?1 || '0'))";

}  // namespace

StoreIndex::StoreIndex(const std::string& dbPath) {
  if (sqlite3_open(dbPath.c_str(), &db_) != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw IndexError("cannot open index " + dbPath + ": " + message);
  }
  sqlite3_busy_timeout(db_, 5000);
  exec("PRAGMA journal_mode=WAL");
  exec("PRAGMA synchronous=FULL");
  exec(kSchema);
}

StoreIndex::~StoreIndex() { sqlite3_close(db_); }

void StoreIndex::exec(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw IndexError(message);
  }
}

void StoreIndex::rollback() noexcept {
  if (sqlite3_get_autocommit(db_) != 0) return;  // no transaction is open any more
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::map<std::string, StoreEntry> StoreIndex::entries() {
  std::map<std::string, StoreEntry> out;
  Statement st(db_, "SELECT path, is_dir, size, mtime, hash, version, deleted, deleted_at FROM entries");
  while (st.step()) {
    StoreEntry e{st.text(0), st.integer(1) != 0, st.integer(2), st.integer(3), st.text(4),
                 st.integer(5), st.integer(6) != 0, st.integer(7)};
    out[e.path] = e;
  }
  return out;
}

std::optional<StoreEntry> StoreIndex::entry(const std::string& path) {
  Statement st(db_, "SELECT path, is_dir, size, mtime, hash, version, deleted, deleted_at FROM entries WHERE path = ?1");
  st.bind(1, path);
  if (!st.step()) return std::nullopt;
  return StoreEntry{st.text(0), st.integer(1) != 0, st.integer(2), st.integer(3), st.text(4),
                    st.integer(5), st.integer(6) != 0, st.integer(7)};
}

std::map<std::string, std::vector<KnownCopy>> StoreIndex::knownCopies() {
  std::map<std::string, std::vector<KnownCopy>> out;
  Statement st(db_, "SELECT path, size, mtime, hash FROM known");
  while (st.step()) out[st.text(0)].push_back({st.integer(1), st.integer(2), st.text(3)});
  return out;
}

std::vector<MoveRecord> StoreIndex::moves() {
  std::vector<MoveRecord> out;
  Statement st(db_, "SELECT src, dst, at FROM moves ORDER BY id");
  while (st.step()) out.push_back({st.text(0), st.text(1), st.integer(2)});
  return out;
}

std::int64_t StoreIndex::currentVersion() {
  Statement st(db_, "SELECT value FROM meta WHERE key = 'version'");
  st.step();
  return st.integer(0);
}

std::int64_t StoreIndex::nextVersion() {
  Statement(db_, "UPDATE meta SET value = value + 1 WHERE key = 'version'").step();
  Statement st(db_, "SELECT value FROM meta WHERE key = 'version'");
  st.step();
  return st.integer(0);
}

void StoreIndex::put(const StoreEntry& e) {
  Statement st(db_, "INSERT OR REPLACE INTO entries VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
  st.bind(1, e.path).bind(2, std::int64_t(e.isDir)).bind(3, e.size).bind(4, e.mtime).bind(5, e.hash);
  st.bind(6, e.version).bind(7, std::int64_t(e.deleted)).bind(8, e.deletedAt).step();
}

void StoreIndex::tombstone(const std::string& path, std::int64_t at) {
  std::string sql = std::string("UPDATE entries SET deleted = 1, deleted_at = ?2 WHERE deleted = 0 AND ") + kSubtree;
  Statement st(db_, sql.c_str());
  st.bind(1, path).bind(2, at).step();
  if (sqlite3_changes(db_) > 0) nextVersion();  // the counter moves with deletions too
}

void StoreIndex::rename(const std::string& path, const std::string& target, bool isDir, std::int64_t at) {
  std::vector<StoreEntry> moved;
  for (auto& [p, e] : entries()) {
    if (!e.deleted && (p == path || isUnder(p, path))) moved.push_back(e);
  }
  tombstone(path, at);
  for (auto e : moved) {
    e.path = target + e.path.substr(path.size());
    e.version = nextVersion();
    put(e);
  }
  std::string sql = std::string("UPDATE OR REPLACE known SET path = ?2 || substr(path, length(?1) + 1) WHERE ") + kSubtree;
  Statement st(db_, sql.c_str());
  st.bind(1, path).bind(2, target).step();
  if (isDir) {
    Statement journal(db_, "INSERT INTO moves(src, dst, at) VALUES(?1, ?2, ?3)");
    journal.bind(1, path).bind(2, target).bind(3, at).step();
  }
}

void StoreIndex::recordKnown(const std::string& path, const KnownCopy& copy) {
  Statement st(db_, "INSERT OR REPLACE INTO known VALUES(?1, ?2, ?3, ?4)");
  st.bind(1, path).bind(2, copy.size).bind(3, copy.mtime).bind(4, copy.hash).step();
}

}  // namespace kqs
