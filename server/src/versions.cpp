#include "versions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "disk_file.h"
#include "sqlite_statement.h"
#include "store.h"
#include "wire_text.h"

namespace fs = std::filesystem;

namespace kqs {

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS versions(id INTEGER PRIMARY KEY AUTOINCREMENT, path TEXT NOT NULL,"
    " at INTEGER NOT NULL, size INTEGER NOT NULL, hash TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS versions_by_path ON versions(path, at);"
    "CREATE INDEX IF NOT EXISTS versions_by_age ON versions(at);";

constexpr const char* kColumns = "SELECT id, path, at, size, hash FROM versions ";

KeptVersion readVersion(Statement& st) {
  return {st.integer(0), st.text(1), st.integer(2), st.integer(3), st.text(4)};
}

// shareContent links diskPath to target; false when the two cannot share an
// inode (another disk, no hard links there), so that a copy is needed.
bool shareContent(const std::string& diskPath, const std::string& target) {
  if (::link(diskPath.c_str(), target.c_str()) == 0) return true;
  if (errno == EXDEV || errno == EPERM || errno == EMLINK || errno == ENOTSUP || errno == EOPNOTSUPP) return false;
  throw std::runtime_error("cannot keep " + diskPath + " as " + target + ": " + errnoText());
}

// SqliteVersionList is the list in a SQLite file beside the kept files.
class SqliteVersionList : public VersionList {
 public:
  explicit SqliteVersionList(const std::string& path) : db_(openDatabase(path)) {
    try {
      execSql(db_, kSchema);
    } catch (...) {
      sqlite3_close(db_);
      throw;
    }
  }
  ~SqliteVersionList() override { sqlite3_close(db_); }

  KeptVersion record(const std::string& path, std::int64_t at,
                     const std::function<void(KeptVersion&)>& fill) override {
    execSql(db_, "BEGIN IMMEDIATE");
    try {
      Statement insert(db_, "INSERT INTO versions(path, at, size, hash) VALUES(?1, ?2, 0, '')");
      insert.bind(1, path).bind(2, at).step();
      KeptVersion v{sqlite3_last_insert_rowid(db_), path, at, 0, ""};
      fill(v);
      Statement update(db_, "UPDATE versions SET size = ?2, hash = ?3 WHERE id = ?1");
      update.bind(1, v.id).bind(2, v.size).bind(3, v.hash).step();
      execSql(db_, "COMMIT");
      return v;
    } catch (...) {
      execSql(db_, "ROLLBACK");
      throw;
    }
  }

  std::vector<KeptVersion> below(const std::string& path) override {
    std::string sql = std::string(kColumns) +
                      (path.empty() ? "" : "WHERE path = ?1 OR (path > ?1 || '/' AND path < ?1 || '0') ") +
                      "ORDER BY path, at, id";
    Statement st(db_, sql.c_str());
    if (!path.empty()) st.bind(1, path);
    return readAll(st);
  }

  std::optional<KeptVersion> latest(const std::string& path, std::int64_t at) override {
    std::string sql = std::string(kColumns) + "WHERE path = ?1 AND at <= ?2 ORDER BY at DESC, id DESC LIMIT 1";
    Statement st(db_, sql.c_str());
    st.bind(1, path).bind(2, at);
    if (!st.step()) return std::nullopt;
    return readVersion(st);
  }

  std::optional<KeptVersion> oldestAfter(const std::string& path, std::int64_t at) override {
    std::string sql = std::string(kColumns) + "WHERE path = ?1 AND at > ?2 ORDER BY at, id LIMIT 1";
    Statement st(db_, sql.c_str());
    st.bind(1, path).bind(2, at);
    if (!st.step()) return std::nullopt;
    return readVersion(st);
  }

  std::vector<KeptVersion> olderThan(std::int64_t before) override {
    std::string sql = std::string(kColumns) + "WHERE at < ?1";
    Statement st(db_, sql.c_str());
    st.bind(1, before);
    return readAll(st);
  }

  void drop(std::int64_t id) override {
    Statement st(db_, "DELETE FROM versions WHERE id = ?1");
    st.bind(1, id).step();
  }

 private:
  static std::vector<KeptVersion> readAll(Statement& st) {
    std::vector<KeptVersion> out;
    while (st.step()) out.push_back(readVersion(st));
    return out;
  }
  sqlite3* db_ = nullptr;
};

}  // namespace

std::unique_ptr<VersionList> openSqliteVersionList(const std::string& folder) {
  return std::make_unique<SqliteVersionList>(folder + "/versions.sqlite");
}

Versions::Versions(std::string folder, int keepDays, std::unique_ptr<VersionList> list)
    : folder_(std::move(folder)), keepDays_(keepDays), list_(std::move(list)) {
  std::error_code ec;
  fs::create_directories(folder_ + "/files", ec);
  if (ec) throw std::runtime_error("cannot create " + folder_ + "/files: " + ec.message());
}

namespace {

std::unique_ptr<VersionList> sqliteListIn(const std::string& folder) {
  std::error_code ec;
  fs::create_directories(folder + "/files", ec);
  if (ec) throw std::runtime_error("cannot create " + folder + "/files: " + ec.message());
  return openSqliteVersionList(folder);
}

}  // namespace

Versions::Versions(std::string folder, int keepDays) : Versions(folder, keepDays, sqliteListIn(folder)) {}

Versions::~Versions() = default;

std::string Versions::contentPath(const KeptVersion& v) const { return folder_ + "/files/" + std::to_string(v.id); }

KeptVersion Versions::keep(const std::string& path, const std::string& diskPath, const std::string& knownHash,
                           std::int64_t at) {
  return list_->record(path, at, [&](KeptVersion& v) {
    v.hash = knownHash;
    std::string target = contentPath(v);
    ::unlink(target.c_str());  // left by a crash before its row was committed
    if (shareContent(diskPath, target)) {
      if (v.hash.empty()) v.hash = hashOfFile(target).value_or("");
      if (v.hash.empty()) throw std::runtime_error("cannot read " + diskPath + ": " + errnoText());
    } else {
      v.hash = copyDurably(diskPath, target);
    }
    struct stat st{};
    if (::stat(target.c_str(), &st) != 0) throw std::runtime_error("cannot keep " + target + ": " + errnoText());
    v.size = static_cast<std::int64_t>(st.st_size);
    if (!fsyncFolder(folder_ + "/files")) throw std::runtime_error("cannot flush " + folder_ + "/files");
  });
}

std::vector<KeptVersion> Versions::list(const std::string& path) { return list_->below(path); }

std::optional<KeptVersion> Versions::latest(const std::string& path, std::int64_t at) {
  return list_->latest(path, at);
}

int Versions::prune(std::int64_t now) {
  std::int64_t before = now - std::int64_t(keepDays_) * 86400;
  auto old = list_->olderThan(before);
  for (auto& v : old) {
    list_->drop(v.id);
    if (::unlink(contentPath(v).c_str()) != 0 && errno != ENOENT) {
      throw std::runtime_error("cannot remove " + contentPath(v) + ": " + errnoText());
    }
  }
  return static_cast<int>(old.size());
}

std::optional<KeptVersion> Versions::oldestAfter(const std::string& path, std::int64_t at) {
  return list_->oldestAfter(path, at);
}

namespace {

void requireStore(const std::string& storeRoot) {
  std::string problem = storeProblem(storeRoot);
  if (!problem.empty()) throw std::runtime_error("store " + storeRoot + " is not available (" + problem + ")");
}

bool inStore(const std::string& storeRoot, const std::string& path) {
  struct stat st{};
  return ::lstat((storeRoot + path).c_str(), &st) == 0;
}

// newestPerPath keeps the last of each run of one path (list is by path, then time).
std::vector<KeptVersion> newestPerPath(std::vector<KeptVersion> all) {
  std::vector<KeptVersion> out;
  for (auto& v : all) {
    if (!out.empty() && out.back().path == v.path) out.back() = std::move(v);
    else out.push_back(std::move(v));
  }
  return out;
}

}  // namespace

RestoreResult restoreVersion(Versions& versions, const std::string& storeRoot, const std::string& path,
                             std::int64_t at, std::int64_t now) {
  requireStore(storeRoot);
  auto version = versions.latest(path, at);
  if (!version) throw std::runtime_error("no version of " + path + " at or before " + formatUtc(at));
  return restoreKept(versions, storeRoot, *version, now);
}

RestoreResult restoreKept(Versions& versions, const std::string& storeRoot, const KeptVersion& version,
                          std::int64_t now) {
  const std::string& path = version.path;
  RestoreResult result{version, false};
  std::string target = storeRoot + path;
  struct stat st{};
  if (::lstat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) throw std::runtime_error(path + " is not a file in the store");
    auto current = hashOfFile(target);
    if (!current) throw std::runtime_error("cannot read " + target + ": " + errnoText());
    if (*current == version.hash) {
      result.unchanged = true;
      return result;
    }
    versions.keep(path, target, *current, now);
  } else if (errno != ENOENT) {
    throw std::runtime_error("cannot read " + target + ": " + errnoText());
  }
  std::error_code ec;
  std::string folder = storeRoot + parentOf(path);
  fs::create_directories(folder, ec);
  if (ec) throw std::runtime_error("cannot create " + folder + ": " + ec.message());
  std::string tempFolder = storeRoot + kStoreTempFolder;
  fs::create_directories(tempFolder, ec);
  if (ec) throw std::runtime_error("cannot create " + tempFolder + ": " + ec.message());
  std::string temp = tempFolder + "/restore-" + std::to_string(::getpid());
  ::unlink(temp.c_str());
  std::string hash = copyDurably(versions.contentPath(version), temp);
  if (hash != version.hash || ::chmod(temp.c_str(), 0644) != 0) {
    ::unlink(temp.c_str());
    throw std::runtime_error("the kept version of " + path + " is damaged or unreadable");
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    std::string why = errnoText();
    ::unlink(temp.c_str());
    throw std::runtime_error("cannot move into place " + target + ": " + why);
  }
  if (!fsyncFolder(folder)) throw std::runtime_error("cannot flush folder " + folder);
  return result;
}

FolderRestore restoreFolder(Versions& versions, const std::string& storeRoot, const std::string& folder,
                            std::optional<std::int64_t> at, std::int64_t now) {
  requireStore(storeRoot);
  std::vector<KeptVersion> chosen;
  if (!at) {
    chosen = deletedBelow(versions, storeRoot, folder);
  } else {
    for (const auto& newest : newestPerPath(versions.list(folder)))
      if (auto stood = versions.oldestAfter(newest.path, *at)) chosen.push_back(*stood);
  }
  FolderRestore out;
  for (const auto& version : chosen) {
    try {
      out.done.push_back(restoreKept(versions, storeRoot, version, now));
    } catch (const std::exception& e) {
      out.failed.emplace_back(version.path, e.what());
    }
  }
  return out;
}

std::vector<KeptVersion> deletedBelow(Versions& versions, const std::string& storeRoot, const std::string& folder) {
  std::vector<KeptVersion> out;
  for (auto& v : newestPerPath(versions.list(folder)))
    if (v.path != folder && !inStore(storeRoot, v.path)) out.push_back(std::move(v));
  return out;
}

std::string formatUtc(std::int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

std::optional<std::int64_t> parseUtc(const std::string& text) {
  std::tm tm{};
  char* end = ::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm);
  if (end == nullptr || *end != '\0' || text.size() != 20) return std::nullopt;
  std::int64_t seconds = static_cast<std::int64_t>(::timegm(&tm));
  if (formatUtc(seconds) != text) return std::nullopt;  // 2026-02-30 and the like
  return seconds;
}

std::string versionLine(const KeptVersion& v) {
  return formatUtc(v.at) + "\t" + std::to_string(v.size) + "\t" + v.hash + "\t" + v.path;
}

}  // namespace kqs
