#pragma once
// ServerEchoes remembers what the client left on the disk for the server: the
// files it finished writing (path, size, modification time) and the paths it
// removed. A watcher report for such a path is an echo of the server's own
// work only while the path still holds exactly that: the same size and time
// for a written file, nothing at all for a removed path. Anything else is the
// user's change; the record is then forgotten. A removal's report may come
// late (the watcher holds it, a cycle ends first): its record stays until the
// path is filled again or kRemovalRounds idle rounds of the change timer have
// passed. A removed folder explains the removal reports of what was inside it.
// The set is bounded: past kMaxRecords the oldest record is forgotten first.
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

#include "platform/file_system.h"

namespace kq {

class ServerEchoes {
 public:
  static constexpr std::size_t kMaxRecords = 10000;
  // kRemovalRounds: idle rounds a removal's record waits for its report (the
  // change timer's 5 s each: a minute).
  static constexpr std::uint64_t kRemovalRounds = 12;

  // noteWritten remembers the file at path as the server's write (status is what
  // the file system reports for it now); anything but a file is not remembered.
  void noteWritten(const std::string& path, const FileStatus& status);
  // noteRemoved remembers that the client removed path for the server.
  void noteRemoved(const std::string& path);
  // noteReplaced remembers that the client removed path to put the server's
  // item of the other kind there: a report of the removal is an echo although
  // something stands there again.
  void noteReplaced(const std::string& path);

  // isWriteEcho: a report that path was added or modified is an echo when the
  // client wrote path for the server and it still holds exactly that file, or
  // removed path for the server and nothing stands there.
  bool isWriteEcho(const std::string& path, FileSystem& fs);
  // isRemovalEcho: a report that path was removed is an echo when the client
  // removed path (or a folder above it) for the server and nothing stands
  // there now, or when path still holds exactly the file the client wrote for
  // the server (a late report of the older copy's removal).
  bool isRemovalEcho(const std::string& path, FileSystem& fs);

  // goneSinceWritten: the client wrote path for the server, removed nothing
  // there or above it since, and nothing stands there now: someone else
  // deleted the file.
  bool goneSinceWritten(const std::string& path, FileSystem& fs) const;

  // ageRemovals ends one idle round: the records of removals that waited
  // kRemovalRounds rounds for their reports are dropped; written files stay
  // remembered.
  void ageRemovals();
  bool hasRemovals() const { return removals_ > 0; }
  std::size_t size() const { return records_.size(); }

 private:
  struct Record {
    bool removed = false;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t modifiedNanos = 0;
    std::list<std::string>::iterator age;
    bool replaced = false;  // removed for the server's item of the other kind
    std::uint64_t round = 0;  // removals: the idle round in which it was made
  };

  static bool holdsWritten(const Record& r, const std::string& path, FileSystem& fs);
  bool removedAbove(const std::string& path) const;
  void put(const std::string& path, Record record);
  void forget(std::unordered_map<std::string, Record>::iterator it);

  std::unordered_map<std::string, Record> records_;
  std::list<std::string> order_;  // oldest first
  std::size_t removals_ = 0;
  std::uint64_t round_ = 0;
};

}  // namespace kq
