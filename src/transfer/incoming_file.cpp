#include "transfer/incoming_file.h"

#include <vector>

#include "log/log.h"
#include "transfer/partial_file.h"

namespace kq {

IncomingFile::IncomingFile(FileSystem& fs, std::string target)
    : fs_(fs), target_(std::move(target)), temporary_(partialFileName(target_)) {}

IncomingFile::~IncomingFile() { discard(); }

bool IncomingFile::openStream() {
  if (failed_ || settled_) return false;
  if (stream_) return true;
  stream_ = started_ ? fs_.openAppend(temporary_) : fs_.openWrite(temporary_);
  if (!stream_) {
    fail();
    return false;
  }
  started_ = true;
  return true;
}

bool IncomingFile::write(std::string_view chunk) {
  if (!openStream()) return false;
  if (chunk.empty() || stream_->write(chunk.data(), chunk.size())) return true;
  fail();
  return false;
}

void IncomingFile::closeStream() {
  if (!stream_) return;
  if (!stream_->close()) fail();
  stream_.reset();
}

IncomingFile::Outcome IncomingFile::commit(const std::function<bool()>& makeRoom) {
  if (!failed_ && !openStream()) return Outcome::WriteFailed;  // a file of no bytes is still created
  if (!failed_ && !stream_->sync()) fail();  // on the disk before it takes the target's place
  closeStream();
  if (failed_) return Outcome::WriteFailed;
  bool cleared = !fs_.isFolder(target_) || fs_.remove(target_) || (makeRoom && makeRoom());
  if (!cleared || !fs_.rename(temporary_, target_)) {
    discard();
    return Outcome::ReplaceFailed;
  }
  settled_ = true;
  return Outcome::Done;
}

bool IncomingFile::discard() {
  if (stream_) {
    (void)stream_->close();
    stream_.reset();
  }
  if (settled_) return true;
  bool gone = !fs_.exists(temporary_) || fs_.remove(temporary_);
  settled_ = gone;
  return gone;
}

void IncomingFile::fail() {
  failed_ = true;
  if (stream_ && stream_->outOfSpace()) outOfSpace_ = true;
  discard();
}

std::size_t removeLeftoverPartialFiles(FileSystem& fs, Log& log, const std::string& folder) {
  if (folder.empty() || !fs.isFolder(folder)) return 0;
  std::vector<std::string> found;
  (void)fs.walk(folder, [&](const WalkEntry& entry) {
    if (entry.type == EntryType::File && isPartialFileName(entry.path)) found.push_back(entry.path);
    return true;
  });
  std::size_t removed = 0;
  for (const auto& path : found) {
    if (fs.remove(path)) {
      ++removed;
      log.writeLog("Removed the temporary file of an unfinished transfer: " + path, true);
    } else {
      log.writeLog("ERROR: Can not remove the temporary file of an unfinished transfer: " + path, true);
    }
  }
  return removed;
}

}  // namespace kq
