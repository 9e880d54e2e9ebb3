#pragma once
// Store is one contract's files: a plain folder tree that an administrator can
// look at and edit, and its SQLite index. Every write lands in a temporary
// file inside the store's ".kqsyncd.tmp" folder, is flushed to disk and then
// renamed into place, so the tree never holds a half-written file.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "planner.h"
#include "sha256.h"
#include "store_index.h"

namespace kqs {

// IncomingFile is a temporary file being filled; it is removed unless the store takes it.
class IncomingFile {
 public:
  IncomingFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~IncomingFile();
  IncomingFile(const IncomingFile&) = delete;
  IncomingFile& operator=(const IncomingFile&) = delete;
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

enum class AcceptOutcome { Unchanged, Updated, ConflictClientWon, ConflictStoreKept, Refused };

struct AcceptResult {
  AcceptOutcome outcome = AcceptOutcome::Refused;
  std::string conflictPath;  // where the losing copy was kept
  StoreEntry entry;          // the entry now at the path (or the conflict copy when the store was kept)
};

class Store {
 public:
  using Logger = std::function<void(const std::string&)>;
  Store(std::string root, const std::string& indexPath, Logger log);

  const std::string& root() const { return root_; }
  std::string diskPath(const std::string& path) const { return root_ + path; }
  StoreIndex& index() { return index_; }

  // scan picks up changes made directly in the folder tree; returns how many entries changed.
  int scan(std::int64_t now);
  // fill sets the store, known copies and moves of a planner input.
  void fill(PlanInput& in);

  std::unique_ptr<IncomingFile> beginIncoming();
  // accept takes a fetched client copy of path (clientMtime 0 when unknown).
  AcceptResult accept(const std::string& path, IncomingFile& file, FetchMode mode, std::int64_t clientMtime,
                      std::int64_t now);
  void makeFolder(const std::string& path, std::int64_t now);
  void remove(const std::string& path, std::int64_t now);
  // rename moves a file or folder; an item in the way is kept under a conflict name.
  [[nodiscard]] bool rename(const std::string& path, const std::string& target, std::int64_t now);
  void recordKnown(const std::string& path, std::int64_t size, std::int64_t mtime, const std::string& hash);
  std::string conflictName(const std::string& path, std::int64_t now) const;

 private:
  void install(IncomingFile& file, const std::string& path, std::int64_t mtime);
  void ensureParents(const std::string& path);
  StoreEntry statEntry(const std::string& path, bool isDir, const std::string& hash);
  void keepAside(const std::string& path, std::int64_t now);
  bool scanFile(const std::string& path, const StoreEntry* known);

  std::string root_;
  StoreIndex index_;
  Logger log_;
};

}  // namespace kqs
