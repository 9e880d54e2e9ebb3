#include "pg_versions.h"

namespace kqs {

PgVersionList::PgVersionList(const std::string& url, std::string contract) : db_(url), contract_(std::move(contract)) {}

std::vector<KeptVersion> PgVersionList::select(const std::string& condition,
                                               const std::vector<std::optional<std::string>>& params) {
  auto r = db_.run("SELECT id, path, at, size, hash FROM versions WHERE contract = $1 " + condition, params);
  std::vector<KeptVersion> out;
  for (int row = 0; row < r.rows(); ++row) {
    out.push_back({r.integer(row, 0), r.text(row, 1), r.integer(row, 2), r.integer(row, 3), r.text(row, 4)});
  }
  return out;
}

KeptVersion PgVersionList::record(const std::string& path, std::int64_t at,
                                  const std::function<void(KeptVersion&)>& fill) {
  db_.exec("BEGIN");
  try {
    auto r = db_.run("INSERT INTO versions(contract, path, at, size, hash) VALUES($1, $2, $3, 0, '') RETURNING id",
                     {contract_, path, pgText(at)});
    KeptVersion v{r.integer(0, 0), path, at, 0, ""};
    fill(v);
    db_.run("UPDATE versions SET size = $2, hash = $3 WHERE id = $1", {pgText(v.id), pgText(v.size), v.hash});
    db_.exec("COMMIT");
    return v;
  } catch (...) {
    db_.rollbackQuietly();
    throw;
  }
}

std::vector<KeptVersion> PgVersionList::below(const std::string& path) {
  if (path.empty()) return select("ORDER BY path, at, id", {contract_});
  return select("AND (path = $2 OR (path > $2 || '/' AND path < $2 || '0')) ORDER BY path, at, id",
                {contract_, path});
}

std::optional<KeptVersion> PgVersionList::oldestAfter(const std::string& path, std::int64_t at) {
  auto found = select("AND path = $2 AND at > $3 ORDER BY at, id LIMIT 1", {contract_, path, pgText(at)});
  if (found.empty()) return std::nullopt;
  return found.front();
}

std::optional<KeptVersion> PgVersionList::latest(const std::string& path, std::int64_t at) {
  auto found = select("AND path = $2 AND at <= $3 ORDER BY at DESC, id DESC LIMIT 1", {contract_, path, pgText(at)});
  if (found.empty()) return std::nullopt;
  return found.front();
}

std::vector<KeptVersion> PgVersionList::olderThan(std::int64_t before) {
  return select("AND at < $2", {contract_, pgText(before)});
}

void PgVersionList::drop(std::int64_t id) {
  db_.run("DELETE FROM versions WHERE contract = $1 AND id = $2", {contract_, pgText(id)});
}

}  // namespace kqs
