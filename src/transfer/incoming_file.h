#pragma once
// IncomingFile is one pushed file on its way to disk. Its bytes go into the
// temporary file beside the target (partialFileName); commit() flushes and
// closes it and renames it over the target, so the older copy stays in place
// until the new one is whole. A file that fails is removed, never renamed.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace kq {

class Log;

class IncomingFile {
 public:
  enum class Outcome { Done, WriteFailed, ReplaceFailed };

  IncomingFile(FileSystem& fs, std::string target);
  ~IncomingFile();
  IncomingFile(const IncomingFile&) = delete;
  IncomingFile& operator=(const IncomingFile&) = delete;

  const std::string& target() const { return target_; }
  const std::string& temporary() const { return temporary_; }
  bool open() const { return stream_ != nullptr; }
  // started is true once the temporary file was created.
  bool started() const { return started_; }
  // failed is true once a write (or the open before it) failed; later bytes are dropped.
  bool failed() const { return failed_; }
  // outOfSpace: the failure was a full disk.
  bool outOfSpace() const { return outOfSpace_; }

  // openStream creates the temporary file at the first call and appends to it
  // when it is reopened later; false (and failed) when it cannot be opened.
  bool openStream();
  // write appends chunk; on the first failure the temporary file is closed and
  // removed at once (a full disk gets its space back) and false is returned.
  bool write(std::string_view chunk);
  // closeStream closes the temporary file and keeps it; the next write reopens it.
  void closeStream();
  // commit writes the temporary file through to the disk, closes it and
  // renames it over the target. An empty folder in the target's place is
  // removed first; a folder with content is handed to makeRoom, which clears
  // the path (false: it could not). On failure the temporary file is removed
  // and the target is left as it was.
  Outcome commit(const std::function<bool()>& makeRoom = {});
  // discard closes and removes the temporary file; true when none is left.
  bool discard();

 private:
  void fail();

  FileSystem& fs_;
  std::string target_;
  std::string temporary_;
  std::unique_ptr<OutputStream> stream_;
  bool started_ = false;  // the temporary file was created
  bool failed_ = false;
  bool outOfSpace_ = false;
  bool settled_ = false;  // renamed or removed: nothing left to clean up
};

// removeLeftoverPartialFiles removes every temporary file of an unfinished
// receive below folder, logging one line per file; returns how many it removed.
std::size_t removeLeftoverPartialFiles(FileSystem& fs, Log& log, const std::string& folder);

}  // namespace kq
