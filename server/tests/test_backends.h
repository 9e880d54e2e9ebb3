#pragma once
// The two storage back ends for tests that run as a table over both: SQLite
// files in a scratch folder, and the PostgreSQL server that ctest starts for
// the run (scripts/pg-test-server.sh; its URL in KQ_TEST_DB). A PostgreSQL
// case without that server fails with the reason: it is never skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "pg_connection.h"
#include "pg_index.h"
#include "pg_schema.h"
#include "pg_versions.h"
#include "sqlite_index.h"
#include "versions.h"

namespace kqs::test {

enum class Backend { Sqlite, Postgres };

inline std::string backendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
}

// testDatabaseUrl is the test server's URL with its schema current; empty
// (and the test failed, fatally: the body does not run) when there is none.
inline std::string testDatabaseUrl() {
  const char* url = std::getenv("KQ_TEST_DB");
  if (url == nullptr || *url == '\0') {
    [] { FAIL() << "KQ_TEST_DB is not set: the PostgreSQL cases need the test server that ctest starts "
                     "(scripts/pg-test-server.sh start DIR prints the URL; scripts/install-deps.sh installs "
                     "PostgreSQL)"; }();
    return "";
  }
  try {
    PgConnection db(url);
    migrateSchema(db);
  } catch (const std::exception& e) {
    [&] { FAIL() << "the PostgreSQL test server at " << url << " cannot be used: " << e.what(); }();
    return "";
  }
  return url;
}

// freshContract is a contract number of this test alone, its rows in the test database removed.
inline std::string freshContract(const std::string& url) {
  static int next = 9000;
  std::string contract = std::to_string(next++);
  PgConnection db(url);
  for (const char* table : {"entries", "known", "moves", "contracts", "versions", "accounts"}) {
    db.run(std::string("DELETE FROM ") + table + " WHERE contract = $1", {contract});
  }
  return contract;
}

// TestBackend opens a contract's index and versions list for one back end.
struct TestBackend {
  Backend kind;
  std::string folder;  // the SQLite files go here
  std::string url;     // PostgreSQL
  std::string contract;

  // open: false (and the test failed) when the back end cannot be used.
  bool open(Backend k, const std::string& scratch) {
    kind = k;
    folder = scratch;
    if (kind == Backend::Sqlite) return true;
    url = testDatabaseUrl();
    if (url.empty()) return false;
    contract = freshContract(url);
    return true;
  }
  std::unique_ptr<StoreIndex> index() const {
    if (kind == Backend::Sqlite) return std::make_unique<SqliteIndex>(folder + "/index.sqlite");
    return std::make_unique<PgIndex>(url, contract);
  }
  std::unique_ptr<Versions> versions(const std::string& versionsFolder, int keepDays = Versions::kDefaultKeepDays) const {
    if (kind == Backend::Sqlite) return std::make_unique<Versions>(versionsFolder, keepDays);
    return std::make_unique<Versions>(versionsFolder, keepDays, std::make_unique<PgVersionList>(url, contract));
  }
};

}  // namespace kqs::test
