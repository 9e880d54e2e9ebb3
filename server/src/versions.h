#pragma once
// Versions keeps the previous content of every store file that the server
// overwrites or deletes, in the data folder (one folder per contract: a SQLite
// list "versions.sqlite" and the kept files "files/<id>"), for a number of days.
#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kqs {

struct KeptVersion {
  std::int64_t id = 0;
  std::string path;     // store path, "/a/b.txt"
  std::int64_t at = 0;  // when it was superseded (seconds since 1970, UTC)
  std::int64_t size = 0;
  std::string hash;     // SHA-256 hex
};

class Versions {
 public:
  static constexpr int kDefaultKeepDays = 30;
  Versions(std::string folder, int keepDays = kDefaultKeepDays);
  ~Versions();
  Versions(const Versions&) = delete;
  Versions& operator=(const Versions&) = delete;

  // keep records the file at diskPath as the previous version of path,
  // superseded at `at`. It shares the file's content (a hard link) when the
  // folders share a disk and copies it otherwise; knownHash may be empty.
  // Throws when the version cannot be kept: the caller must then leave the
  // file alone.
  KeptVersion keep(const std::string& path, const std::string& diskPath, const std::string& knownHash,
                   std::int64_t at);
  // list is every version of path and of everything below it (all when path
  // is empty), by path, then time.
  std::vector<KeptVersion> list(const std::string& path);
  // oldestAfter is the oldest version of exactly path superseded after `at`:
  // the content path held at `at`.
  std::optional<KeptVersion> oldestAfter(const std::string& path, std::int64_t at);
  // latest is the newest version of exactly path at or before `at`.
  std::optional<KeptVersion> latest(const std::string& path, std::int64_t at);
  std::string contentPath(const KeptVersion& v) const;
  // prune removes the versions superseded more than the kept days before now;
  // returns how many went.
  int prune(std::int64_t now);
  int keepDays() const { return keepDays_; }

 private:
  std::string folder_;
  int keepDays_;
  sqlite3* db_ = nullptr;
};

// restoreVersion puts the newest version of path at or before `at` back into
// the store at storeRoot through a temporary file (the file there, if any, is
// kept as a version first); the server's next scan takes it like any edit.
// unchanged: the store already held that content. Throws with the reason.
struct RestoreResult {
  KeptVersion version;
  bool unchanged = false;
};
RestoreResult restoreVersion(Versions& versions, const std::string& storeRoot, const std::string& path,
                             std::int64_t at, std::int64_t now);

// restoreKept puts version back into the store like restoreVersion.
RestoreResult restoreKept(Versions& versions, const std::string& storeRoot, const KeptVersion& version,
                          std::int64_t now);

// FolderRestore is what restoring a folder did: each file put back or found
// already so, and each that could not be put back with the reason.
struct FolderRestore {
  std::vector<RestoreResult> done;
  std::vector<std::pair<std::string, std::string>> failed;  // path, reason
};
// restoreFolder puts the files kept below folder back into the store. With
// `at`: each as it stood then (the oldest version superseded after `at`),
// where the store holds other content or none now; files created since are
// not removed. Without: every file below folder that the store no longer
// holds, with its newest version (a folder deleted whole comes back whole).
// Throws when the store is not there.
FolderRestore restoreFolder(Versions& versions, const std::string& storeRoot, const std::string& folder,
                            std::optional<std::int64_t> at, std::int64_t now);

// deletedBelow is the newest version of each file below folder (all when
// empty) that the store no longer holds, by path.
std::vector<KeptVersion> deletedBelow(Versions& versions, const std::string& storeRoot, const std::string& folder);

// formatUtc writes 2026-12-10T14:03:05Z; parseUtc reads it back (nullopt when malformed).
std::string formatUtc(std::int64_t seconds);
std::optional<std::int64_t> parseUtc(const std::string& text);

// versionLine is the listing line of a version: TIME, SIZE, SHA-256, PATH, tab-separated.
std::string versionLine(const KeptVersion& v);

}  // namespace kqs
