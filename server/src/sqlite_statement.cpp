#include "sqlite_statement.h"

namespace kqs {

void execSql(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "unknown error";
    sqlite3_free(error);
    throw IndexError(message);
  }
}

sqlite3* openDatabase(const std::string& dbPath) {
  sqlite3* db = nullptr;
  if (sqlite3_open(dbPath.c_str(), &db) != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw IndexError("cannot open " + dbPath + ": " + message);
  }
  sqlite3_busy_timeout(db, 5000);
  try {
    execSql(db, "PRAGMA journal_mode=WAL");
    execSql(db, "PRAGMA synchronous=FULL");
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  return db;
}

}  // namespace kqs
