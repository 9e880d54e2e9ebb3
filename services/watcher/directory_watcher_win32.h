#pragma once
// DirectoryWatcher watches the sync folder and everything below it with
// ReadDirectoryChangesW and reports what changes to a ChangeReporter, as local
// path text. A rename arrives as its old name followed by its new name; an old
// name without a new one is a removal. A lost batch of changes (the buffer
// overflowed) is logged. While the folder is missing it tries again every second.
// Every second it also checks that the path still names the folder it watches:
// a sync folder moved away, deleted or unmounted is not reported as emptied
// (the removals that wait in the ChangeReporter are dropped), and is watched
// again when it comes back, without reports for the time it was away.
//
// A file being written is reported once (see QuietWrites): at the end of the
// batch in which its writer closed it (a read-only open that shares only
// reading then succeeds), or once no change of it came for 2 s. Any other
// change of the path (removal, rename) first reports the write.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "watcher/quiet_writes.h"

namespace kq {

class ChangeReporter;
class Log;

class DirectoryWatcher {
 public:
  static constexpr DWORD kRetryMs = 1000;
  static constexpr DWORD kBufferBytes = 64 * 1024;

  using Clock = std::function<std::int64_t()>;  // milliseconds of a steady clock

  DirectoryWatcher(std::string root, ChangeReporter& reporter, Log& log, Clock clock = {});
  ~DirectoryWatcher();
  DirectoryWatcher(const DirectoryWatcher&) = delete;
  DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

  // event is signalled when a batch of changes has arrived.
  HANDLE event() const { return overlapped_.hEvent; }
  // onEvent reads the finished batch, reports it and asks for the next one.
  void onEvent();
  // poll opens the folder when it is not watched yet, checks the watched one and
  // sends the reports that waited long enough (held removals, writes gone
  // quiet); returns the milliseconds until it wants to be called again.
  DWORD poll();
  bool watching() const { return folder_ != INVALID_HANDLE_VALUE; }

 private:
  bool open();
  bool request();
  void checkRoot();
  void rootLost(const std::string& why);
  DWORD untilNextPoll(ULONGLONG now) const;
  void close(const std::string& why);
  void report(const BYTE* data, DWORD size);
  void handle(DWORD action, const std::string& path);
  void reportWrite(const QuietWrites::Write& write);
  void reportWritesBelow(const std::string& path);

  std::string root_;
  ChangeReporter& reporter_;
  Log& log_;
  Clock clock_;
  QuietWrites writing_;                   // files with an unreported write
  std::vector<std::string> batchWrites_;  // the files written in the batch being read
  HANDLE folder_ = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped_{};
  std::vector<DWORD> buffer_;  // DWORD-aligned, as the call requires
  std::optional<std::string> pendingOldName_;
  bool missingLogged_ = false;
  ULONGLONG holdUntil_ = 0;   // when the waiting reports go out (0: none wait)
  ULONGLONG nextCheck_ = 0;   // when the watched folder is checked next
  BY_HANDLE_FILE_INFORMATION identity_{};
};

}  // namespace kq
