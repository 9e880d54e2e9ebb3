#include "pg_admin.h"

#include <unistd.h>

#include <filesystem>
#include <mutex>

#include "disk_file.h"
#include "held_deletions.h"
#include "pg_index.h"
#include "pg_lock.h"
#include "pg_schema.h"
#include "sqlite_index.h"
#include "store.h"
#include "versions.h"

namespace fs = std::filesystem;

namespace kqs {

DatabaseHealth checkDatabase(const std::string& url) {
  try {
    PgConnection db(url);
    int version = pgSchemaVersion(db);
    if (version > pgSchemaKnown()) return {false, newerSchemaText(version)};
    if (version < pgSchemaKnown()) {
      return {false, "the database's schema is version " + std::to_string(version) + ", not the current " +
                         std::to_string(pgSchemaKnown()) + ": a starting kqsyncd serve brings it up to date"};
    }
    auto accounts = db.run("SELECT contract, store FROM accounts ORDER BY contract");
    for (int row = 0; row < accounts.rows(); ++row) {
      std::string problem = storeProblem(accounts.text(row, 1));
      if (!problem.empty()) {
        return {false, "the store " + accounts.text(row, 1) + " of contract " + accounts.text(row, 0) +
                           " is not reachable (" + problem + ")"};
      }
    }
    return {true, "ok: the database " + db.where() + " answers, schema version " + std::to_string(version) + ", " +
                      std::to_string(accounts.rows()) + " contract(s), every store folder reachable"};
  } catch (const std::exception& e) {
    return {false, e.what()};
  }
}

namespace {

std::string flag(bool on) { return on ? "t" : "f"; }

void moveIndex(PgConnection& db, const std::string& contract, const std::string& indexPath, MovedContract& moved) {
  std::error_code ec;
  db.run("INSERT INTO contracts(contract) VALUES($1)", {contract});
  if (!fs::exists(indexPath, ec)) return;  // never served: the first scan makes it
  IndexHealth health = checkIndex(indexPath);
  if (!health.sound) {
    throw std::runtime_error("the index " + indexPath + " of contract " + contract + " is damaged (" + health.problem +
                             "): rebuild it first (kqsyncd index rebuild --contract " + contract + ")");
  }
  SqliteIndex index(indexPath);
  db.run("UPDATE contracts SET version = $2, marker = $3 WHERE contract = $1",
         {contract, pgText(index.currentVersion()), flag(index.markerSeen())});
  for (auto& [path, e] : index.entries()) {
    db.run("INSERT INTO entries(contract, path, is_dir, size, mtime, hash, version, deleted, deleted_at, mtime_ns,"
           " ctime_ns, inode, recheck) VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13)",
           {contract, e.path, flag(e.isDir), pgText(e.size), pgText(e.mtime), e.hash, pgText(e.version),
            flag(e.deleted), pgText(e.deletedAt), pgText(e.mtimeNs), pgText(e.ctimeNs), pgText(e.inode),
            flag(e.recheck)});
    ++moved.entries;
  }
  for (auto& [path, copies] : index.knownCopies()) {
    for (auto& c : copies) {
      db.run("INSERT INTO known(contract, path, size, mtime, hash) VALUES($1, $2, $3, $4, $5)",
             {contract, path, pgText(c.size), pgText(c.mtime), c.hash});
      ++moved.known;
    }
  }
  for (auto& m : index.moves()) {
    db.run("INSERT INTO moves(contract, src, dst, at) VALUES($1, $2, $3, $4)", {contract, m.from, m.to, pgText(m.at)});
    ++moved.moves;
  }
}

// moveVersions lists the kept versions in the database and copies their
// files to folder/files under the new ids; written records the copies (removed
// again when the migration fails).
void moveVersions(PgConnection& db, const std::string& contract, const std::string& fromFolder,
                  const std::string& folder, MovedContract& moved, std::vector<std::string>& written) {
  std::error_code ec;
  if (!fs::exists(fromFolder + "/versions.sqlite", ec)) return;
  Versions from(fromFolder, 36500);
  fs::create_directories(folder + "/files");
  for (auto& v : from.list("")) {
    auto row = db.run("INSERT INTO versions(contract, path, at, size, hash) VALUES($1, $2, $3, $4, $5) RETURNING id",
                      {contract, v.path, pgText(v.at), pgText(v.size), v.hash});
    std::string target = folder + "/files/" + row.text(0, 0);
    fs::remove(target, ec);
    if (::link(from.contentPath(v).c_str(), target.c_str()) != 0) copyDurably(from.contentPath(v), target);
    written.push_back(target);
    ++moved.versions;
  }
  if (!fsyncFolder(folder + "/files")) throw std::runtime_error("cannot flush " + folder + "/files");
}

}  // namespace

std::vector<MovedContract> migrateIntoDatabase(const std::string& fromDir, const std::string& url) {
  AccountBook from(fromDir);
  from.load();
  if (from.accounts().empty()) throw std::runtime_error("no accounts in " + fromDir + "/accounts.json: nothing to move");
  AccountBook into(fromDir, url);
  into.load();  // applies the schema
  PgConnection db(url);
  std::vector<MovedContract> done;
  std::vector<std::string> written;
  db.exec("BEGIN");
  try {
    db.exec("LOCK TABLE accounts, contracts IN EXCLUSIVE MODE");
    auto held = db.run("SELECT (SELECT count(*) FROM accounts) + (SELECT count(*) FROM contracts)");
    if (held.integer(0, 0) > 0) {
      throw std::runtime_error("the database " + db.where() +
                               " already holds contracts: kqsyncd migrate moves an installation into an empty one");
    }
    for (auto& a : from.accounts()) {
      MovedContract moved{a.contract};
      db.run("INSERT INTO accounts(contract, key_hash, store) VALUES($1, $2, $3)", {a.contract, a.keyHash, a.store});
      moveIndex(db, a.contract, from.indexPath(a.contract), moved);
      moveVersions(db, a.contract, from.versionsPath(a.contract), a.store + ".kqsyncd/versions", moved, written);
      HeldDeletions oldHeld(from.heldPath(a.contract));
      auto record = oldHeld.load();
      if (!record.roots.empty()) {
        fs::create_directories(a.store + ".kqsyncd/held");
        HeldDeletions(a.store + ".kqsyncd/held/" + a.contract + ".sqlite").save(record);
        moved.held = true;
      }
      done.push_back(moved);
    }
    db.exec("COMMIT");
  } catch (...) {
    db.rollbackQuietly();
    std::error_code ec;
    for (auto& file : written) fs::remove(file, ec);
    throw;
  }
  return done;
}

RebuildResult rebuildInDatabase(const AccountBook& book, const Account& account, std::int64_t now) {
  std::error_code ec;
  if (!fs::is_directory(account.store, ec)) throw std::runtime_error("the store " + account.store + " is not a folder");
  PgContractLock lock(book.databaseUrl(), account.contract);
  std::lock_guard hold(lock);
  auto index = std::make_unique<PgIndex>(book.databaseUrl(), account.contract);
  PgIndex& fresh = *index;
  // Versions are never pruned here: the server's own --keep-versions decides that.
  Store store(account.store, std::move(index), [](const std::string&) {}, book.openVersions(account.contract, 36500));
  RebuildResult result;
  fresh.transaction([&] {
    fresh.clear();
    store.adoptMarker();
    std::string problem = storeProblem(account.store);
    if (!problem.empty()) throw std::runtime_error("the store " + account.store + " cannot be read: " + problem);
    store.scan(now);
  });
  result.entries = fresh.entries().size();
  return result;
}

}  // namespace kqs
