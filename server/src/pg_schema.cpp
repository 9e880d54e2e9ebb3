#include "pg_schema.h"

#include <vector>

namespace kqs {

namespace {

// Migration n brings the schema from version n - 1 to n. Paths compare byte by
// byte (COLLATE "C"): the rows below a folder are a range of them.
const std::vector<const char*> kMigrations = {
    // 1: accounts, the index of every contract, the versions kept
    "CREATE TABLE accounts(contract text PRIMARY KEY, key_hash text NOT NULL, store text NOT NULL);"
    "CREATE TABLE contracts(contract text PRIMARY KEY, version bigint NOT NULL DEFAULT 0,"
    " marker boolean NOT NULL DEFAULT false);"
    "CREATE TABLE entries(contract text NOT NULL, path text COLLATE \"C\" NOT NULL, is_dir boolean NOT NULL,"
    " size bigint NOT NULL, mtime bigint NOT NULL, hash text NOT NULL, version bigint NOT NULL,"
    " deleted boolean NOT NULL, deleted_at bigint NOT NULL, mtime_ns bigint NOT NULL DEFAULT 0,"
    " ctime_ns bigint NOT NULL DEFAULT 0, inode bigint NOT NULL DEFAULT 0, recheck boolean NOT NULL DEFAULT false,"
    " PRIMARY KEY(contract, path));"
    "CREATE TABLE known(contract text NOT NULL, path text COLLATE \"C\" NOT NULL, size bigint NOT NULL,"
    " mtime bigint NOT NULL, hash text NOT NULL, PRIMARY KEY(contract, path, size, mtime));"
    "CREATE TABLE moves(id bigserial PRIMARY KEY, contract text NOT NULL, src text NOT NULL, dst text NOT NULL,"
    " at bigint NOT NULL);"
    "CREATE INDEX moves_of_contract ON moves(contract, id);"
    "CREATE TABLE versions(id bigserial PRIMARY KEY, contract text NOT NULL, path text COLLATE \"C\" NOT NULL,"
    " at bigint NOT NULL, size bigint NOT NULL, hash text NOT NULL);"
    "CREATE INDEX versions_of_path ON versions(contract, path, at);",
};

}  // namespace

int pgSchemaKnown() { return static_cast<int>(kMigrations.size()); }

std::string newerSchemaText(int found) {
  return "the database's schema is version " + std::to_string(found) + ", newer than this kqsyncd knows (" +
         std::to_string(pgSchemaKnown()) + "): run a kqsyncd as new as the one that set it up";
}

int pgSchemaVersion(PgConnection& db) {
  auto table = db.run("SELECT to_regclass('schema_version') IS NOT NULL");
  if (!table.flag(0, 0)) return 0;
  auto found = db.run("SELECT coalesce(max(version), 0) FROM schema_version");
  return static_cast<int>(found.integer(0, 0));
}

int migrateSchema(PgConnection& db) {
  int applied = 0;
  for (;;) {
    db.exec("BEGIN");
    try {
      db.run("SELECT pg_advisory_xact_lock($1, 0)", {std::to_string(kPgLockClass)});
      db.exec("CREATE TABLE IF NOT EXISTS schema_version(version integer NOT NULL)");
      int version = pgSchemaVersion(db);
      if (version > pgSchemaKnown()) throw IndexError(newerSchemaText(version));
      if (version == pgSchemaKnown()) {
        db.exec("COMMIT");
        return applied;
      }
      db.exec(kMigrations[static_cast<std::size_t>(version)]);
      db.exec("DELETE FROM schema_version");
      db.run("INSERT INTO schema_version VALUES($1)", {std::to_string(version + 1)});
      db.exec("COMMIT");
      ++applied;
    } catch (...) {
      db.rollbackQuietly();
      throw;
    }
  }
}

}  // namespace kqs
