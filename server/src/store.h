#pragma once
// Store is one contract's files: a plain folder tree that an administrator can
// look at and edit, and its SQLite index. Every write lands in a temporary
// file inside the store's ".kqsyncd.tmp" folder, is flushed to disk and then
// renamed into place, so the tree never holds a half-written file. A marker
// file in the store's root tells the store folder from an empty or unmounted
// one; every file the server overwrites or deletes is kept as a version first.
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "planner.h"
#include "sha256.h"
#include "store_index.h"
#include "store_watch.h"
#include "versions.h"

namespace kqs {

// The names the server keeps in the root of every store (never synchronised).
constexpr const char* kStoreTempFolder = "/.kqsyncd.tmp";
constexpr const char* kStoreMarker = "/.kqsyncd~store";

// storeProblem says why root cannot be used as a store now ("missing", "not a
// folder", "cannot be read: ...", "no marker file ..."); empty when it can.
std::string storeProblem(const std::string& root);
// writeStoreMarker creates root when needed and its marker file (flushed).
void writeStoreMarker(const std::string& root);

// ScanError: a store scan stopped; nothing it saw was recorded.
struct ScanError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// StoreIncoming is a temporary file being filled; it is removed unless the store takes it.
class StoreIncoming {
 public:
  StoreIncoming(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~StoreIncoming();
  StoreIncoming(const StoreIncoming&) = delete;
  StoreIncoming& operator=(const StoreIncoming&) = delete;
  // write appends data; false when the disk refuses it.
  [[nodiscard]] bool write(std::string_view data);
  std::int64_t size() const { return size_; }
  const std::string& hash();  // finishes the hash on first call
  const std::string& path() const { return path_; }
  int fd() const { return fd_; }
  void taken() { taken_ = true; }

 private:
  std::string path_;
  int fd_;
  std::int64_t size_ = 0;
  Sha256 sha_;
  std::string hash_;
  bool taken_ = false;
};

// DeletionStands: a reported change (no client time) whose content is the one
// deleted at that path: an echo of an earlier push, not a new version.
enum class AcceptOutcome { Unchanged, Updated, ConflictClientWon, ConflictStoreKept, Refused, DeletionStands };

struct AcceptResult {
  AcceptOutcome outcome = AcceptOutcome::Refused;
  std::string conflictPath;  // where the losing copy was kept
  StoreEntry entry;          // the entry now at the path (or the conflict copy when the store was kept)
};

class Store {
 public:
  using Logger = std::function<void(const std::string&)>;
  // versionsFolder holds the previous versions of this store's files, kept keepDays.
  Store(std::string root, const std::string& indexPath, Logger log, const std::string& versionsFolder,
        int keepDays = Versions::kDefaultKeepDays);
  // The same over an index and versions opened elsewhere (accounts.h: AccountBook opens them for either back end).
  Store(std::string root, std::unique_ptr<StoreIndex> index, Logger log, std::unique_ptr<Versions> versions);

  const std::string& root() const { return root_; }
  std::string diskPath(const std::string& path) const { return root_ + path; }
  StoreIndex& index() { return index_; }
  StoreWatch& watch() { return *watch_; }
  // scansDone counts the full scans (for tests and the bench).
  std::int64_t scansDone() const { return scansDone_; }
  Versions& versions() { return versions_; }

  // adoptMarker gives a store without a marker file its marker, once: when
  // the folder is missing and the index never held anything (a new store, the
  // folder is created), or when it is readable and holds files or the index
  // never held anything. An empty or missing folder of a store that held files
  // (a disk that is not mounted) gets none.
  void adoptMarker();
  // prepareCycle checks that the store can be used, removes expired versions
  // once a day and scans when the store watch says a scan is due; returns how
  // many entries the scan changed (0 without a scan), nullopt when the cycle
  // must be skipped. A problem is logged once when it starts
  // and once when it ends.
  std::optional<int> prepareCycle(std::int64_t now);
  // pruneIfDue removes expired versions when a day has passed since it last did.
  void pruneIfDue(std::int64_t now);
  // scan picks up changes made directly in the folder tree; returns how many
  // entries changed. Throws ScanError (and records nothing) when any folder or
  // file cannot be read.
  int scan(std::int64_t now);
  // fill sets the store, known copies and moves of a planner input.
  void fill(PlanInput& in);
  // fillAround adds to a planner input what the index holds at path, below it
  // and at its ancestors (entries) and its known copies: enough to plan a
  // change report of that path without reading the whole index (the journal
  // of folder renames is for listings and is left out).
  void fillAround(PlanInput& in, const std::string& path);

  std::unique_ptr<StoreIncoming> beginIncoming();
  // accept takes a fetched client copy of path (clientMtime 0 when unknown).
  AcceptResult accept(const std::string& path, StoreIncoming& file, FetchMode mode, std::int64_t clientMtime,
                      std::int64_t now);
  void makeFolder(const std::string& path, std::int64_t now);
  // replaceFileByFolder makes a folder where the store holds a file: the file
  // is kept as a version (mode ClientChanged) or under a conflict name (Merge).
  void replaceFileByFolder(const std::string& path, FetchMode mode, std::int64_t now);
  void remove(const std::string& path, std::int64_t now);
  // rename moves a file or folder; an item in the way is kept under a conflict name.
  [[nodiscard]] bool rename(const std::string& path, const std::string& target, std::int64_t now);
  void recordKnown(const std::string& path, std::int64_t size, std::int64_t mtime, const std::string& hash);
  // recordPushed records, durably, that the client now holds a copy of hash
  // (size bytes) at path, stamped by the client somewhere in [from, to]
  // (seconds): the copy a push left there is known after a restart, before
  // any listing showed it. A push that ran longer than kMaxPushedStamps
  // seconds is left to the next listing.
  static constexpr std::int64_t kMaxPushedStamps = 64;
  void recordPushed(const std::string& path, std::int64_t size, const std::string& hash, std::int64_t from,
                    std::int64_t to);
  std::string conflictName(const std::string& path, std::int64_t now) const;

  // Batched writes. Once on, the index changes of many steps are committed
  // together: commitIfDue commits when the batch holds limits.changes index
  // changes (a fetched file makes about four) or is limits.ms old; commitWrites at once. Before each commit the folders
  // that got new names since the last one are flushed, so the index never
  // holds a name whose rename a crash could undo; a file renamed into place
  // before a crash is picked up by the scan at start.
  struct BatchLimits {
    int changes = 1024;
    std::int64_t ms = 1000;
  };
  void batchWrites(BatchLimits limits);
  // commitIfDue and commitWrites never throw: a commit that fails is logged,
  // its changes are gone from the index and the next cycle scans in full.
  void commitIfDue(std::int64_t steadyMs);
  bool commitWrites();

 private:
  // changedSinceScan is true when the item on disk at path is not the one
  // the index holds (known; nullptr when it holds none): written since the last scan.
  bool changedSinceScan(const std::string& path, const StoreEntry* known) const;
  // createFolder makes the folder at path and indexes it (inside a transaction).
  void createFolder(const std::string& path);
  // clearFolderForFile keeps every file below the folder at path as a version
  // and removes the folder (inside a transaction), so that a file can take its place.
  void clearFolderForFile(const std::string& path, std::int64_t now);
  void install(StoreIncoming& file, const std::string& path, std::int64_t mtime, std::int64_t now);
  void ensureParents(const std::string& path);
  StoreEntry statEntry(const std::string& path, bool isDir, const std::string& hash);
  void keepAside(const std::string& path, std::int64_t now);
  // keepVersions keeps the file at path, or every file below the folder at path, as a version.
  void keepVersions(const std::string& path, std::int64_t now);
  void keepVersion(const std::string& path, const struct stat& st, std::int64_t now);
  bool scanFile(const std::string& path, const StoreEntry* known, const struct stat& st, std::int64_t scanSecond);
  void scanFolders(const std::map<std::string, StoreEntry>& entries, std::set<std::string>& seen, int& changed,
                   std::int64_t scanSecond);
  void reportProblem(const std::string& problem);
  // flushFolder makes the names in folder durable: at once, or before the
  // batch's commit when batching.
  void flushFolder(const std::string& folder);
  void checkReserved(const std::string& path) const;

  std::string root_;
  std::unique_ptr<StoreIndex> ownIndex_;
  StoreIndex& index_;
  std::unique_ptr<Versions> ownVersions_;
  Versions& versions_;
  Logger log_;
  std::string problem_;          // the problem logged last; empty while the store is usable
  std::int64_t lastPrune_ = -1;  // when expired versions were last removed
  std::unique_ptr<StoreWatch> watch_;
  std::int64_t scansDone_ = 0;
  bool recheckPending_ = false;  // a file hashed within its own second: the next cycle scans again
  bool batching_ = false;
  BatchLimits limits_;
  std::int64_t batchSeenMs_ = -1;     // when commitIfDue first saw the open batch
  std::set<std::string> unflushed_;  // folders with names not yet flushed (batching)
};

}  // namespace kqs
