#pragma once
// MemoryFileSystem is a FileSystem held in memory that reads local path text the
// way Windows does: "\" and "/" both separate, runs of separators count as one,
// "." and ".." segments are resolved, a trailing separator is ignored. Names are
// compared exactly (case-sensitive). Drive roots ("C:") exist only when mounted;
// "C:" is mounted from the start. Paths without a drive hang below an implicit
// root that always exists. Entries are enumerated in the order they were created
// (a renamed entry counts as new). Chosen operations can be made to fail.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/fs_op.h"

namespace kq::test {

// FsOp names the operations a test can make fail.
class MemoryFileSystem : public FileSystem {
 public:
  MemoryFileSystem();

  FileStatus status(const std::string& path) override;
  [[nodiscard]] bool createFolders(const std::string& path) override;
  [[nodiscard]] bool remove(const std::string& path) override;
  [[nodiscard]] bool removeAll(const std::string& path) override;
  [[nodiscard]] bool rename(const std::string& from, const std::string& to) override;
  [[nodiscard]] bool setAttributes(const std::string& path, bool hidden, bool system) override;
  std::pair<bool, bool> attributes(const std::string& path) override;
  std::unique_ptr<InputStream> openRead(const std::string& path) override;
  std::unique_ptr<OutputStream> openAppend(const std::string& path) override;
  std::unique_ptr<OutputStream> openWrite(const std::string& path) override;
  bool walk(const std::string& folder, const std::function<bool(const WalkEntry&)>& visit) override;

  // mountDrive makes a drive root such as "D:" exist; unmountDrive removes it and all below.
  void mountDrive(const std::string& drive);
  void unmountDrive(const std::string& drive);

  // failOn makes op fail on path and everything below it (every path when empty),
  // times times (-1: until clearFailures). For Rename both ends are checked.
  void failOn(FsOp op, const std::string& path = {}, int times = -1);
  void clearFailures() { rules_.clear(); }
  // calls counts the calls of op (failed ones included).
  int calls(FsOp op) const;

  // Test helpers that bypass failure rules: addFile creates parents as needed.
  void addFile(const std::string& path, const std::string& content = {});
  void addFolder(const std::string& path);
  // content of a file, nullopt when there is no file.
  std::optional<std::string> content(const std::string& path) const;
  // entries lists every entry's normalised path ("C:\a\b") in creation order.
  std::vector<std::string> entries() const;
  // setTime sets the modification time (seconds since 1970) given to later writes.
  void setTime(std::int64_t seconds, std::int64_t nanos = 0) {
    now_ = seconds;
    nowNanos_ = nanos;
  }
  void setModified(const std::string& path, std::int64_t seconds, std::int64_t nanos = 0);

  // normalize turns local path text into the key of an entry ("" is the implicit root).
  static std::string normalize(const std::string& path);

 private:
  struct Node {
    EntryType type = EntryType::None;
    std::string data;
    bool hidden = false, system = false;
    std::int64_t modified = 0;
    std::int64_t modifiedNanos = 0;
    std::uint64_t order = 0;
  };
  struct Rule {
    FsOp op;
    std::string key;  // normalised; empty = every path
    int times;
  };
  friend class MemoryOutput;

  bool failing(FsOp op, const std::string& key);
  Node* find(const std::string& key);
  const Node* find(const std::string& key) const;
  bool parentIsFolder(const std::string& key) const;
  bool isDriveKey(const std::string& key) const;
  Node& create(const std::string& key, EntryType type);
  std::vector<std::string> children(const std::string& key) const;
  std::unique_ptr<OutputStream> openOutput(const std::string& path, FsOp op, bool truncate);
  bool writeTo(const std::string& key, const char* data, std::size_t size);
  bool walkFolder(const std::string& text, const std::string& key,
                  const std::function<bool(const WalkEntry&)>& visit, bool& stopped);

  std::map<std::string, Node> nodes_;
  std::vector<Rule> rules_;
  std::map<FsOp, int> calls_;
  std::uint64_t nextOrder_ = 1;
  std::int64_t now_ = 1700000000;
  std::int64_t nowNanos_ = 0;
};

}  // namespace kq::test
