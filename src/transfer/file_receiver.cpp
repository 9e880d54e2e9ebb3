#include "transfer/file_receiver.h"

#include <algorithm>

#include "fileops/server_delete.h"
#include "transfer/own_folders.h"
#include "transfer/partial_file.h"
#include "transfer/unsynced_names.h"

namespace kq {

namespace {

const char* const kFilepathKey = "\"filepath\"";

std::string parentOf(const std::string& path) {
  auto pos = path.find_last_of('\\');
  return pos == std::string::npos ? std::string() : path.substr(0, pos);
}

// looksLikeFolder tells whether a delivered value ends in a separator.
bool looksLikeFolder(const std::string& value) {
  return !value.empty() && (value.back() == '/' || value.back() == '\\');
}

}  // namespace

void FileReceiver::enter(ReceiveEvent event) {
  mode_ = nextMode(mode_, event);
  p_.protocol.fileDataMode = inDataMode(mode_);
}

void FileReceiver::onMember(const std::string& key, const std::string& value,
                            PacketContext& packet) {
  p_.tracker.setServerBusy();
  if (key != kFilepathKey) return;
  try {
    p_.log.writeLog("filepath=" + value, true);
    LocalPath local = localPathToChange(p_.syncFolder(), value);
    if (local.ok() && !local.folder && isPartialFileName(local.path)) {
      local.refusal = "the name ends in " + std::string(kPartialSuffix) +
                      ", the mark of a file still being received";
    }
    // Nothing is written through a link or onto a link, a FIFO or a device.
    if (local.ok()) local.refusal = unsyncedReason(p_.fs.status(local.path).type);
    if (!local.ok()) {
      refuse(value, local, packet);
    } else if (local.folder) {
      putFolder(local, packet);
    } else {
      putFile(local, packet);
    }
  } catch (...) {
    p_.log.writeLog("Error on parsing RQPUT command! Continue flow with ANPUT command...", true);
    packet.answerType = "ANPUT";
  }
}

void FileReceiver::refuse(std::string_view value, const LocalPath& local, PacketContext& packet) {
  kq::refuse(p_, value, local);
  if (!looksLikeFolder(std::string(value))) {
    enter(ReceiveEvent::FileRefused);  // the RQFDA that follows is answered and dropped
    receivingFileName.clear();
  }
  packet.answerType = "ANPUT";
}

void FileReceiver::putFolder(const LocalPath& local, PacketContext& packet) {
  packet.answerType = "ANPUT";
  std::string plain = local.withSlash();
  if (p_.fs.exists(local.path) && !p_.fs.isFolder(local.path)) {
    LocalPath file = local;
    file.folder = false;
    if (!setAsideReplaced(p_, file)) {
      p_.log.writeLog("Error on received directory creating", true);
      return;
    }
  }
  if (!p_.fs.createFolders(local.path)) {
    p_.log.writeLog("Error on received directory creating", true);
    return;
  }
  p_.log.writeLog("Remember directory creating from Server: ", true);
  p_.log.writeLog(plain, true);
  p_.tracker.addServerPath(plain);
  p_.status.setPanel(1, "Creating directory");
}

// putFile announces a file. Nothing at its path is touched yet: the older copy
// stays until the new one is complete.
void FileReceiver::putFile(const LocalPath& local, PacketContext& packet) {
  receivingFileName = local.path;
  p_.log.writeLog("File name received", true);
  showReceiveStatus(local.path);
  packet.answerType = "ANPUT";
  if (p_.isExcluded(local.path)) {
    p_.log.writeLog("Ignoring file transfer from Server due restrictions. RQFDA is blocked.", true);
    enter(ReceiveEvent::FileRefused);
    return;
  }
  p_.log.writeLog("Saving file transfer from Server.", true);
  p_.log.writeLog(local.path, true);
  p_.tracker.addServerPath(local.path);
  makeParentFolders(local.path);
  enter(ReceiveEvent::FileAccepted);
}

void FileReceiver::showReceiveStatus(const std::string& path) {
  if (!p_.protocol.initialSyncDone) {
    p_.status.setPanel(1, "Initial server sync...");
    return;
  }
  try {
    p_.status.setPanel(1, p_.fs.exists(path) ? "Updating file" : "Receiving file");
  } catch (...) {
    p_.log.writeLog("Error on checking file existance.", true);
  }
}

void FileReceiver::makeParentFolders(const std::string& path) {
  std::string parent = parentOf(path);
  if (!p_.fs.isFolder(parent) && !p_.fs.createFolders(parent)) {
    p_.log.writeLog("Error on received file", true);
  }
}

std::size_t FileReceiver::onHeader(std::string_view read, PacketContext& packet) {
  if (mode_ == ReceiveMode::Refusing) return refuseTransfer(read, packet);
  std::uint64_t size = payloadLength(read);
  std::uint64_t available = read.size() > kHeaderSize ? read.size() - kHeaderSize : 0;
  auto take = static_cast<std::size_t>(std::min(available, size));
  enter(ReceiveEvent::Header);
  p_.tracker.setServerBusy();
  receivedFileBytes = take;
  expectedFileSize = size;
  file_.reset();
  if (!receivingFileName.empty()) file_ = std::make_unique<IncomingFile>(p_.fs, receivingFileName);
  p_.log.writeLog("File size to receive: " + std::to_string(expectedFileSize), true);
  dataBlock(read.substr(kHeaderSize, take), packet);
  return kHeaderSize + take;
}

// refuseTransfer answers the RQFDA of a refused file at once and drops its data,
// in this read and, by its announced size, in the reads that follow.
std::size_t FileReceiver::refuseTransfer(std::string_view read, PacketContext& packet) {
  p_.log.writeLog("RQFDA is unblocked.", true);
  packet.answerType = "ANFDA";
  std::uint64_t size = payloadLength(read);
  std::uint64_t available = read.size() > kHeaderSize ? read.size() - kHeaderSize : 0;
  std::uint64_t take = std::min(available, size);
  refusedBytesLeft = size - take;
  enter(ReceiveEvent::Header);
  if (refusedBytesLeft == 0) enter(ReceiveEvent::LastByte);
  return kHeaderSize + static_cast<std::size_t>(take);
}

std::size_t FileReceiver::onData(std::string_view read, PacketContext& packet) {
  if (read.empty()) return 0;
  if (mode_ == ReceiveMode::Dropping) {
    auto take = static_cast<std::size_t>(std::min<std::uint64_t>(read.size(), refusedBytesLeft));
    refusedBytesLeft -= take;
    if (refusedBytesLeft == 0) enter(ReceiveEvent::LastByte);
    return take;
  }
  if (receivedFileBytes == 0) p_.log.writeLog("Received data packet from server", false);  // once a file
  std::uint64_t remaining = expectedFileSize - std::min(receivedFileBytes, expectedFileSize);
  auto take = static_cast<std::size_t>(std::min<std::uint64_t>(read.size(), remaining));
  receivedFileBytes += take;
  dataBlock(read.substr(0, take), packet);
  return take;
}

// dataBlock's progress lines are written for the first block and the last of a
// file, not for every read.
void FileReceiver::dataBlock(std::string_view chunk, PacketContext& packet) {
  if (receivedFileBytes == chunk.size() || receivedFileBytes == expectedFileSize) {
    p_.log.writeLog("Received: " + std::to_string(receivedFileBytes) + " of " +
                        std::to_string(expectedFileSize), false);
    p_.log.writeLog("Receiving file data...", false);
  }
  p_.status.setPanel(1, p_.protocol.initialSyncDone ? "Receiving file data..." : "Initial server sync...");
  if (file_ && !file_->failed()) writeChunk(chunk);
  if (receivedFileBytes == expectedFileSize) completeTransfer(packet);
}

// writeChunk opens the temporary file when it is not open (created at the first
// block, appended to when reopened) and writes the chunk. The first failure
// removes the temporary file; the rest of the data is counted and dropped.
void FileReceiver::writeChunk(std::string_view chunk) {
  if (!file_->open()) {
    bool opened = file_->openStream();
    p_.log.writeLog("File opened to write.", false);
    if (!opened) {
      p_.log.writeLog("ERROR: Can not open the temporary file " + file_->temporary(), true);
      return;
    }
  }
  if (!file_->write(chunk)) p_.log.writeLog("ERROR: Can not write the temporary file " + file_->temporary(), true);
}

void FileReceiver::completeTransfer(PacketContext& packet) {
  if (file_) {
    finishFile();
  } else {
    // Data without an announced file is counted and dropped.
    p_.log.writeLog("File " + receivingFileName + " received successfully", true);
    p_.status.setPanel(1, "File received");
  }
  packet.answerType = "ANFDA";
  enter(ReceiveEvent::LastByte);
  resetTransfer();
}

// finishFile closes the temporary file and renames it over the target; only a
// file that took every byte replaces the older copy.
void FileReceiver::finishFile() {
  bool wasOpen = file_->open();
  IncomingFile::Outcome outcome = file_->commit([this] { return setAsideFolder(file_->target()); });
  if (wasOpen) p_.log.writeLog("File closed.", true);
  const std::string& target = file_->target();
  switch (outcome) {
    case IncomingFile::Outcome::Done:
      p_.tracker.noteServerWriteDone(target);
      received(p_, target);
      p_.log.writeLog("File " + target + " received successfully", true);
      p_.status.setPanel(1, "File received");
      return;
    case IncomingFile::Outcome::WriteFailed:
      if (file_->outOfSpace()) {
        p_.log.writeLog("ERROR: The disk is full: " + target + " was not received; the file stays as it was", true);
        fail(p_, target, kDiskFullReason);
        break;
      }
      p_.log.writeLog("ERROR: Received data could not be written completely to file " + target, true);
      fail(p_, target, "received data could not be written completely");
      break;
    case IncomingFile::Outcome::ReplaceFailed:
      p_.log.writeLog("ERROR: Can not replace " + target + " with the received file; the file stays as it was",
                      true);
      fail(p_, target, "cannot be replaced with the received file");
      break;
  }
  if (!file_->discard()) p_.log.writeLog("ERROR: Can not remove the temporary file " + file_->temporary(), true);
  p_.status.setPanel(1, "File not received");
}

// setAsideFolder clears the way for a received file where a folder stands.
bool FileReceiver::setAsideFolder(const std::string& target) {
  std::string root = p_.syncFolder();
  if (target.size() <= root.size() || target.compare(0, root.size(), root) != 0) return false;
  LocalPath folder;
  folder.path = target;
  folder.relative = target.substr(root.size());
  folder.folder = true;
  return setAsideReplaced(p_, folder);
}

void FileReceiver::resetTransfer() {
  receivedFileBytes = 0;
  receivingFileName.clear();
  file_.reset();
}

void FileReceiver::closeOpenFile() {
  if (file_) file_->closeStream();
}

void FileReceiver::onConnectionClosed() {
  if (mode_ == ReceiveMode::Receiving) {
    if (file_ && file_->started()) {
      const char* what = file_->discard() ? "partial file removed: " : "partial file could not be removed: ";
      p_.log.writeLog("Transfer cut off by the closed connection, " + std::string(what) + file_->temporary(), true);
    } else {
      p_.log.writeLog("Transfer cut off by the closed connection.", true);
    }
  }
  enter(ReceiveEvent::ConnectionClosed);
  refusedBytesLeft = 0;
  resetTransfer();
}

void FileReceiver::removeLeftovers() {
  try {
    removeLeftoverPartialFiles(p_.fs, p_.log, p_.syncFolder());
  } catch (...) {
    p_.log.writeLog("Error: removeLeftovers()", true);
  }
}

}  // namespace kq
