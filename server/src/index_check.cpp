#include "index_check.h"

#include <sqlite3.h>

#include <filesystem>
#include <sstream>
#include <system_error>

#include "store.h"
#include "versions.h"

namespace fs = std::filesystem;

namespace kqs {

namespace {

// The files SQLite keeps beside an index in WAL mode.
constexpr const char* kJournalSuffixes[] = {"-wal", "-shm", "-journal"};

// firstComplaint is the first line of the quick check's report that names a
// page or a table (its report starts with a heading and runs over many lines).
std::string firstComplaint(const std::string& report) {
  std::istringstream lines(report);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.rfind("***", 0) != 0) return line;
  }
  return "the quick check failed";
}

// firstProblem runs SQLite's quick check (every page, no index cross-checks)
// and returns its first complaint, or "" when the file is sound.
std::string firstProblem(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &st, nullptr) != SQLITE_OK) return sqlite3_errmsg(db);
  std::string problem;
  int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    auto text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    std::string first = text ? text : "";
    if (first != "ok") problem = "database disk image is malformed: " + firstComplaint(first);
  } else if (rc != SQLITE_DONE) {
    problem = sqlite3_errmsg(db);
  }
  sqlite3_finalize(st);
  return problem;
}

void moveIfThere(const std::string& from, const std::string& to) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(from, ec))) return;
  fs::rename(from, to);
}

void removeWithJournals(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
  for (auto* suffix : kJournalSuffixes) fs::remove(path + suffix, ec);
}

}  // namespace

IndexHealth checkIndex(const std::string& path) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(path, ec))) return {};
  sqlite3* db = nullptr;
  IndexHealth health;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    health = {false, db ? sqlite3_errmsg(db) : "cannot be opened"};
  } else {
    sqlite3_busy_timeout(db, 5000);
    std::string problem = firstProblem(db);
    if (!problem.empty()) health = {false, problem};
  }
  sqlite3_close(db);
  return health;
}

std::string damagedIndexLine(const std::string& contract, const std::string& path, const std::string& problem) {
  return "not serving contract " + contract + ": its index " + path + " is damaged (" + problem +
         "); the other contracts are served; rebuild it with: kqsyncd index rebuild --contract " + contract;
}

RebuildResult rebuildIndex(const std::string& storeRoot, const std::string& indexPath,
                           const std::string& versionsFolder, std::int64_t now) {
  std::string fresh = indexPath + ".rebuild";
  removeWithJournals(fresh);  // left by a rebuild that was cut off
  RebuildResult result;
  std::error_code ec;
  if (!fs::is_directory(storeRoot, ec)) throw std::runtime_error("the store " + storeRoot + " is not a folder");
  try {
    // Versions are never pruned here: the server's own --keep-versions decides that.
    Store store(storeRoot, fresh, [](const std::string&) {}, versionsFolder, 36500);
    store.adoptMarker();
    std::string problem = storeProblem(storeRoot);
    if (!problem.empty()) throw std::runtime_error("the store " + storeRoot + " cannot be read: " + problem);
    store.scan(now);
    result.entries = store.index().entries().size();
  } catch (...) {
    removeWithJournals(fresh);
    throw;
  }  // the index is closed: its write-ahead log is folded into the file
  if (fs::exists(fs::symlink_status(indexPath, ec))) {
    std::string aside = indexPath + ".damaged-" + formatUtc(now);
    // The damaged file keeps its name until the fresh one takes it, so a
    // server looking meanwhile finds one index or the other, never none.
    fs::create_hard_link(indexPath, aside);
    for (auto* suffix : kJournalSuffixes) moveIfThere(indexPath + suffix, aside + suffix);
    result.keptAs = aside;
  }
  fs::rename(fresh, indexPath);
  return result;
}

}  // namespace kqs
