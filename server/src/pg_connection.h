#pragma once
// PgConnection is one libpq connection to kqsyncd's PostgreSQL database, with
// the calls the back end needs: a statement with text parameters, its rows as
// text, and the transaction status. Every failure throws IndexError with the
// server's own words; a connection found broken is reset once before a
// statement that opens no transaction of its own.
#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store_index.h"  // IndexError

namespace kqs {

// isDatabaseUrl: the text names a PostgreSQL database (postgresql:// or postgres://).
bool isDatabaseUrl(const std::string& text);

// PgResult holds the rows of one statement.
class PgResult {
 public:
  explicit PgResult(PGresult* result) : result_(result, &PQclear) {}
  int rows() const { return PQntuples(result_.get()); }
  std::string text(int row, int col) const { return PQgetvalue(result_.get(), row, col); }
  std::int64_t integer(int row, int col) const;
  bool flag(int row, int col) const { return text(row, col) == "t"; }
  bool null(int row, int col) const { return PQgetisnull(result_.get(), row, col) != 0; }
  // affected is the number of rows an INSERT, UPDATE or DELETE touched.
  std::int64_t affected() const;

 private:
  std::unique_ptr<PGresult, void (*)(PGresult*)> result_;
};

class PgConnection {
 public:
  // Connects at once; throws IndexError naming the database when it cannot.
  explicit PgConnection(std::string url);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // run executes sql with the parameters ($1, $2, ... as text; nullopt is NULL).
  PgResult run(const std::string& sql, const std::vector<std::optional<std::string>>& params = {});
  // exec runs one or more statements without parameters or results.
  void exec(const std::string& sql);
  // inTransaction: a transaction is open (also one that failed and waits for its rollback).
  bool inTransaction() const;
  // rollbackQuietly ends an open transaction; never throws (a lost
  // connection took its transaction with it).
  void rollbackQuietly() noexcept;
  // alive: the connection is up (a broken one is not reset here).
  bool alive() const { return PQstatus(conn_) == CONNECTION_OK; }
  // resetIfBroken reconnects a broken connection outside a transaction; false when it stays broken.
  bool resetIfBroken();
  PGconn* raw() { return conn_; }
  const std::string& url() const { return url_; }
  // where names the database for messages, without a password.
  std::string where() const;

 private:
  // check throws IndexError for a result that is not a success, and frees it.
  PGresult* check(PGresult* raw);
  std::string url_;
  PGconn* conn_ = nullptr;
};

std::string pgText(std::int64_t value);

}  // namespace kqs
