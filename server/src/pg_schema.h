#pragma once
// The tables of kqsyncd's PostgreSQL database, shared by every node and every
// contract (rows are keyed by contract), and the migrations that build them.
// The schema's version is kept in the table schema_version; each migration
// runs in one transaction that also moves the version, so a node that stops
// half-way leaves the previous version whole. Nodes starting together take
// turns (a transaction advisory lock).
#include <string>

#include "pg_connection.h"

namespace kqs {

// kPgLockClass is the first key of every advisory lock kqsyncd takes (the
// second is the contract number; 0 for the schema).
constexpr int kPgLockClass = 0x4b51;

// pgSchemaKnown is the newest schema version this kqsyncd knows.
int pgSchemaKnown();
// pgSchemaVersion is the database's schema version (0: none yet).
int pgSchemaVersion(PgConnection& db);
// migrateSchema applies the migrations the database lacks; returns how many.
// Throws IndexError when the database holds a newer schema than this kqsyncd
// knows (newerSchemaText).
int migrateSchema(PgConnection& db);
std::string newerSchemaText(int found);

}  // namespace kqs
