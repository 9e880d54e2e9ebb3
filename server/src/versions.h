#pragma once
// Versions keeps the previous content of every store file that the server
// overwrites or deletes, for a number of days: the kept files "files/<id>" in
// a folder of the contract's, and their list (VersionList) beside them in a
// SQLite file "versions.sqlite", or in the PostgreSQL database of a cluster.
#include <cstdint>
#include <functional>
#include <memory>
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

// VersionList is where the kept versions are listed.
class VersionList {
 public:
  virtual ~VersionList() = default;
  // record adds a row for path superseded at `at` and hands it (with its id)
  // to fill, which keeps the file and sets size and hash; the row is
  // committed with them, or is gone when fill throws.
  virtual KeptVersion record(const std::string& path, std::int64_t at,
                             const std::function<void(KeptVersion&)>& fill) = 0;
  // below: every version of path and below it (all when path is empty), by path, then time.
  virtual std::vector<KeptVersion> below(const std::string& path) = 0;
  virtual std::optional<KeptVersion> oldestAfter(const std::string& path, std::int64_t at) = 0;
  virtual std::optional<KeptVersion> latest(const std::string& path, std::int64_t at) = 0;
  // olderThan: the versions superseded before `before`.
  virtual std::vector<KeptVersion> olderThan(std::int64_t before) = 0;
  virtual void drop(std::int64_t id) = 0;
};

// openSqliteVersionList opens (creating) the list folder/versions.sqlite.
std::unique_ptr<VersionList> openSqliteVersionList(const std::string& folder);

class Versions {
 public:
  static constexpr int kDefaultKeepDays = 30;
  // The list in folder/versions.sqlite.
  Versions(std::string folder, int keepDays = kDefaultKeepDays);
  Versions(std::string folder, int keepDays, std::unique_ptr<VersionList> list);
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
  std::unique_ptr<VersionList> list_;
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
