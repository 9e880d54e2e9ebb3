#pragma once
// Statement wraps one prepared SQLite statement (bind indexes start at 1);
// openDatabase opens a file with the settings every index of the server uses.
#include <sqlite3.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "store_index.h"  // IndexError

namespace kqs {

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) throw IndexError(sqlite3_errmsg(db));
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement& bind(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // bindView does not copy: the text must outlive the statement's use.
  Statement& bindView(int i, std::string_view v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
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

// openDatabase opens (creating) dbPath in WAL mode with full syncs and a busy
// timeout, so that a second process (the command line) can use it meanwhile.
sqlite3* openDatabase(const std::string& dbPath);
// execSql runs one or more statements without results.
void execSql(sqlite3* db, const char* sql);

}  // namespace kqs
