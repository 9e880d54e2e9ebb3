#include "pg_index.h"

namespace kqs {

namespace {

constexpr const char* kEntryColumns =
    "path, is_dir, size, mtime, hash, version, deleted, deleted_at, mtime_ns, ctime_ns, inode, recheck";

// The rows of path ($2) itself and of everything below it ('/' + 1 is '0').
constexpr const char* kSubtree = "(path = $2 OR (path > $2 || '/' AND path < $2 || '0'))";

StoreEntry readEntry(const PgResult& r, int row) {
  StoreEntry e{r.text(row, 0), r.flag(row, 1), r.integer(row, 2), r.integer(row, 3), r.text(row, 4),
               r.integer(row, 5), r.flag(row, 6), r.integer(row, 7)};
  e.mtimeNs = r.integer(row, 8);
  e.ctimeNs = r.integer(row, 9);
  e.inode = r.integer(row, 10);
  e.recheck = r.flag(row, 11);
  return e;
}

std::string flagText(bool on) { return on ? "t" : "f"; }

}  // namespace

PgIndex::PgIndex(const std::string& url, std::string contract)
    : db_(url), contract_(std::move(contract)), feed_(PgChangeFeed::forUrl(url)) {
  // Looked for first: the insert would wait for a node whose open batch changed the row.
  if (db_.run("SELECT 1 FROM contracts WHERE contract = $1", {contract_}).rows() == 0) {
    db_.run("INSERT INTO contracts(contract) VALUES($1) ON CONFLICT DO NOTHING", {contract_});
  }
}

PgIndex::~PgIndex() {
  try {
    commitBatch();
  } catch (...) {
    // closing rolls the batch back; the next scan picks up what the store holds
  }
}

std::function<bool()> PgIndex::changesElsewhere() {
  auto flag = feed_->subscribe(contract_);
  return [flag] { return flag->exchange(false); };
}

void PgIndex::changed() {
  if (db_.inTransaction()) {
    unannounced_ = true;
    return;
  }
  countCommit();
  try {
    pgAnnounce(db_, contract_);
  } catch (const IndexError&) {
    // the change is committed; the other nodes see it at their next safety scan
  }
}

void PgIndex::commit() {
  if (unannounced_) pgAnnounce(db_, contract_);  // delivered with the commit, not before
  db_.exec("COMMIT");
  unannounced_ = false;
  countCommit();
}

void PgIndex::rollback() noexcept {
  unannounced_ = false;
  db_.rollbackQuietly();
}

void PgIndex::rollbackToSavepoint() noexcept {
  try {
    db_.exec("ROLLBACK TO SAVEPOINT step");
    db_.exec("RELEASE SAVEPOINT step");
  } catch (...) {
    // a transaction the server ended: the caller sees it is gone
  }
}

std::map<std::string, StoreEntry> PgIndex::entriesWhere(const std::string& condition, const std::string& path) {
  std::map<std::string, StoreEntry> out;
  std::string sql = std::string("SELECT ") + kEntryColumns + " FROM entries WHERE contract = $1" + condition;
  auto r = condition.empty() ? db_.run(sql, {contract_}) : db_.run(sql, {contract_, path});
  for (int row = 0; row < r.rows(); ++row) {
    StoreEntry e = readEntry(r, row);
    out[e.path] = std::move(e);
  }
  return out;
}

std::map<std::string, StoreEntry> PgIndex::entries() { return entriesWhere("", ""); }

std::optional<StoreEntry> PgIndex::entry(std::string_view path) {
  auto found = entriesWhere(" AND path = $2", std::string(path));
  if (found.empty()) return std::nullopt;
  return std::move(found.begin()->second);
}

std::map<std::string, StoreEntry> PgIndex::subtree(const std::string& path) {
  return entriesWhere(std::string(" AND ") + kSubtree, path);
}

bool PgIndex::hasLiveEntries() {
  return db_.run("SELECT 1 FROM entries WHERE contract = $1 AND NOT deleted LIMIT 1", {contract_}).rows() > 0;
}

bool PgIndex::markerSeen() {
  auto r = db_.run("SELECT marker FROM contracts WHERE contract = $1", {contract_});
  return r.rows() > 0 && r.flag(0, 0);
}

void PgIndex::setMarkerSeen() {
  write();
  db_.run("UPDATE contracts SET marker = true WHERE contract = $1", {contract_});
  changed();
}

std::map<std::string, std::vector<KnownCopy>> PgIndex::knownWhere(const std::string& condition,
                                                                  const std::string& path) {
  std::map<std::string, std::vector<KnownCopy>> out;
  std::string sql = "SELECT path, size, mtime, hash FROM known WHERE contract = $1" + condition;
  auto r = condition.empty() ? db_.run(sql, {contract_}) : db_.run(sql, {contract_, path});
  for (int row = 0; row < r.rows(); ++row) {
    out[r.text(row, 0)].push_back({r.integer(row, 1), r.integer(row, 2), r.text(row, 3)});
  }
  return out;
}

std::map<std::string, std::vector<KnownCopy>> PgIndex::knownCopies() { return knownWhere("", ""); }

std::map<std::string, std::vector<KnownCopy>> PgIndex::knownCopiesIn(const std::string& path) {
  return knownWhere(std::string(" AND ") + kSubtree, path);
}

std::vector<MoveRecord> PgIndex::moves() {
  std::vector<MoveRecord> out;
  auto r = db_.run("SELECT src, dst, at FROM moves WHERE contract = $1 ORDER BY id", {contract_});
  for (int row = 0; row < r.rows(); ++row) out.push_back({r.text(row, 0), r.text(row, 1), r.integer(row, 2)});
  return out;
}

std::int64_t PgIndex::currentVersion() {
  auto r = db_.run("SELECT version FROM contracts WHERE contract = $1", {contract_});
  return r.rows() > 0 ? r.integer(0, 0) : 0;
}

std::int64_t PgIndex::nextVersion() {
  write();
  auto r = db_.run("UPDATE contracts SET version = version + 1 WHERE contract = $1 RETURNING version", {contract_});
  if (r.rows() == 0) throw IndexError("contract " + contract_ + " has no row in the database");
  changed();
  return r.integer(0, 0);
}

void PgIndex::put(const StoreEntry& e) {
  write();
  db_.run(std::string("INSERT INTO entries(contract, ") + kEntryColumns +
              ") VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13)"
              " ON CONFLICT(contract, path) DO UPDATE SET is_dir = EXCLUDED.is_dir, size = EXCLUDED.size,"
              " mtime = EXCLUDED.mtime, hash = EXCLUDED.hash, version = EXCLUDED.version,"
              " deleted = EXCLUDED.deleted, deleted_at = EXCLUDED.deleted_at, mtime_ns = EXCLUDED.mtime_ns,"
              " ctime_ns = EXCLUDED.ctime_ns, inode = EXCLUDED.inode, recheck = EXCLUDED.recheck",
          {contract_, e.path, flagText(e.isDir), pgText(e.size), pgText(e.mtime), e.hash, pgText(e.version),
           flagText(e.deleted), pgText(e.deletedAt), pgText(e.mtimeNs), pgText(e.ctimeNs), pgText(e.inode),
           flagText(e.recheck)});
  changed();
}

void PgIndex::tombstone(const std::string& path, std::int64_t at) {
  write();
  auto r = db_.run(std::string("UPDATE entries SET deleted = true, deleted_at = $3 WHERE contract = $1"
                               " AND NOT deleted AND ") + kSubtree,
                   {contract_, path, pgText(at)});
  if (r.affected() > 0) nextVersion();
}

void PgIndex::moveKnown(const std::string& path, const std::string& target) {
  // A copy already known at the target with the same size and time gives way (as a replace would).
  db_.run(std::string("DELETE FROM known k USING known s WHERE k.contract = $1 AND s.contract = $1"
                      " AND (s.path = $2 OR (s.path > $2 || '/' AND s.path < $2 || '0'))"
                      " AND k.path = $3 || substr(s.path, length($2) + 1) AND k.size = s.size AND k.mtime = s.mtime"),
          {contract_, path, target});
  db_.run(std::string("UPDATE known SET path = $3 || substr(path, length($2) + 1) WHERE contract = $1 AND ") +
              kSubtree,
          {contract_, path, target});
  changed();
}

void PgIndex::journalMove(const std::string& path, const std::string& target, std::int64_t at) {
  db_.run("INSERT INTO moves(contract, src, dst, at) VALUES($1, $2, $3, $4)", {contract_, path, target, pgText(at)});
  changed();
}

void PgIndex::recordKnown(const std::string& path, const KnownCopy& copy) {
  write();
  db_.run("INSERT INTO known(contract, path, size, mtime, hash) VALUES($1, $2, $3, $4, $5)"
          " ON CONFLICT(contract, path, size, mtime) DO UPDATE SET hash = EXCLUDED.hash",
          {contract_, path, pgText(copy.size), pgText(copy.mtime), copy.hash});
  changed();
}

void PgIndex::clear() {
  write();
  for (const char* table : {"entries", "known", "moves"}) {
    db_.run(std::string("DELETE FROM ") + table + " WHERE contract = $1", {contract_});
  }
  db_.run("UPDATE contracts SET marker = false WHERE contract = $1", {contract_});
  changed();
}

}  // namespace kqs
