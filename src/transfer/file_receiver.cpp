#include "transfer/file_receiver.h"

#include <algorithm>

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

void FileReceiver::onMember(const std::string& key, const std::string& value,
                            PacketContext& packet) {
  p_.tracker.setServerBusy();
  if (key != kFilepathKey) return;
  try {
    p_.log.writeLog("filepath=" + value, true);
    LocalPath local = localPathFromServer(p_.syncFolder(), value);
    if (!local.ok()) {
      logRefusal(p_.log, value, local);
      if (!looksLikeFolder(value)) {
        rqfdaBlocked = true;  // the RQFDA that follows is answered and dropped
        receivingFileName.clear();
      }
      packet.answerType = "ANPUT";
      return;
    }
    if (local.folder) {
      putFolder(local, packet);
    } else {
      putFile(local, packet);
    }
  } catch (...) {
    p_.log.writeLog("Error on parsing RQPUT command! Continue flow with ANPUT command...", true);
    packet.answerType = "ANPUT";
  }
}

void FileReceiver::putFolder(const LocalPath& local, PacketContext& packet) {
  packet.answerType = "ANPUT";
  std::string plain = local.withSlash();
  if (!p_.fs.createFolders(local.path)) {
    p_.log.writeLog("Error on received directory creating", true);
    return;
  }
  p_.log.writeLog("Remember directory creating from Server: ", true);
  p_.log.writeLog(plain, true);
  p_.tracker.addServerPath(plain);
  p_.status.setPanel(1, "Creating directory");
}

void FileReceiver::putFile(const LocalPath& local, PacketContext& packet) {
  receivingFileName = local.path;
  p_.log.writeLog("File name received", true);
  showReceiveStatus(local.path);
  if (p_.isExcluded(local.path)) {
    p_.log.writeLog("Ignoring file transfer from Server due restrictions. RQFDA is blocked.", true);
    rqfdaBlocked = true;
    packet.answerType = "ANPUT";
    return;
  }
  p_.log.writeLog("Saving file transfer from Server.", true);
  p_.log.writeLog(local.path, true);
  p_.tracker.addServerPath(local.path);
  makeRoom(local.path);
  packet.answerType = "ANPUT";
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

// makeRoom creates the missing parent folders and removes whatever stands at path.
void FileReceiver::makeRoom(const std::string& path) {
  std::string parent = parentOf(path);
  if (!p_.fs.isFolder(parent) && !p_.fs.createFolders(parent)) {
    p_.log.writeLog("Error on received file", true);
    return;
  }
  if (!p_.fs.exists(path)) return;
  if (!p_.fs.remove(path)) {
    p_.log.writeLog("Error on received file", true);
    return;
  }
  if (p_.fs.exists(path)) p_.log.writeLog("ERROR: Can not remove file on update from Server!", true);
}

std::size_t FileReceiver::onHeader(std::string_view read, PacketContext& packet) {
  std::uint64_t size = payloadLength(read);
  std::uint64_t available = read.size() > kHeaderSize ? read.size() - kHeaderSize : 0;
  auto take = static_cast<std::size_t>(std::min(available, size));
  if (rqfdaBlocked) return refuseTransfer(read, packet);
  p_.protocol.fileDataMode = true;
  p_.tracker.setServerBusy();
  receivedFileBytes = take;
  expectedFileSize = size;
  p_.log.writeLog("File size to receive: " + std::to_string(expectedFileSize), true);
  dataBlock(read.substr(kHeaderSize, take), packet);
  return kHeaderSize + take;
}

// refuseTransfer answers the RQFDA of a refused file at once and drops its data,
// in this read and, by its announced size, in the reads that follow.
std::size_t FileReceiver::refuseTransfer(std::string_view read, PacketContext& packet) {
  rqfdaBlocked = false;
  p_.log.writeLog("RQFDA is unblocked.", true);
  packet.answerType = "ANFDA";
  std::uint64_t size = payloadLength(read);
  std::uint64_t available = read.size() > kHeaderSize ? read.size() - kHeaderSize : 0;
  std::uint64_t take = std::min(available, size);
  refusedBytesLeft = size - take;
  p_.protocol.fileDataMode = refusedBytesLeft > 0;
  return kHeaderSize + static_cast<std::size_t>(take);
}

std::size_t FileReceiver::onData(std::string_view read, PacketContext& packet) {
  if (read.empty()) return 0;
  if (refusedBytesLeft > 0) {
    auto take = static_cast<std::size_t>(std::min<std::uint64_t>(read.size(), refusedBytesLeft));
    refusedBytesLeft -= take;
    if (refusedBytesLeft == 0) p_.protocol.fileDataMode = false;
    return take;
  }
  p_.log.writeLog("Received data packet from server", false);
  std::uint64_t remaining = expectedFileSize - std::min(receivedFileBytes, expectedFileSize);
  auto take = static_cast<std::size_t>(std::min<std::uint64_t>(read.size(), remaining));
  receivedFileBytes += take;
  dataBlock(read.substr(0, take), packet);
  return take;
}

void FileReceiver::dataBlock(std::string_view chunk, PacketContext& packet) {
  p_.log.writeLog("Received: " + std::to_string(receivedFileBytes) + " of " +
                      std::to_string(expectedFileSize), false);
  p_.log.writeLog("Receiving file data...", false);
  p_.status.setPanel(1, p_.protocol.initialSyncDone ? "Receiving file data..." : "Initial server sync...");
  if (!receivingFile_ && !receivingFileName.empty()) openReceivingFile();
  if (!chunk.empty() && !receivingFileName.empty()) {
    if (!receivingFile_ || !receivingFile_->write(chunk.data(), chunk.size())) dataLost_ = true;
  }
  if (receivedFileBytes == expectedFileSize) completeTransfer(packet);
}

// openReceivingFile creates the file at the first block of a transfer and
// appends to it when it is reopened later in the same transfer.
void FileReceiver::openReceivingFile() {
  receivingFile_ = fileStarted_ ? p_.fs.openAppend(receivingFileName)
                                : p_.fs.openWrite(receivingFileName);
  if (receivingFile_) fileStarted_ = true;
  p_.log.writeLog("File opened to write.", false);
}

void FileReceiver::completeTransfer(PacketContext& packet) {
  if (receivingFile_) {
    if (!receivingFile_->close()) dataLost_ = true;
    receivingFile_.reset();
    p_.log.writeLog("File closed.", true);
  }
  if (dataLost_) {
    p_.log.writeLog("ERROR: Received data could not be written completely to file " +
                        receivingFileName, true);
  }
  if (!dataLost_ && !receivingFileName.empty()) p_.tracker.noteServerWriteDone(receivingFileName);
  p_.log.writeLog("File " + receivingFileName + " received successfully", true);
  p_.status.setPanel(1, "File received");
  packet.answerType = "ANFDA";
  p_.protocol.fileDataMode = false;
  resetTransfer();
}

void FileReceiver::resetTransfer() {
  receivedFileBytes = 0;
  receivingFileName.clear();
  fileStarted_ = false;
  dataLost_ = false;
}

void FileReceiver::closeOpenFile() {
  if (!receivingFile_) return;
  (void)receivingFile_->close();
  receivingFile_.reset();
}

void FileReceiver::onConnectionClosed() {
  bool receiving = p_.protocol.fileDataMode && refusedBytesLeft == 0;
  closeOpenFile();
  if (receiving && fileStarted_ && !receivingFileName.empty()) {
    bool removed = p_.fs.remove(receivingFileName);
    p_.log.writeLog(std::string(removed ? "Transfer cut off by the closed connection, partial file removed: "
                                        : "Transfer cut off by the closed connection, partial file could not be removed: ") +
                        receivingFileName, true);
  } else if (receiving) {
    p_.log.writeLog("Transfer cut off by the closed connection.", true);
  }
  p_.protocol.fileDataMode = false;
  refusedBytesLeft = 0;
  rqfdaBlocked = false;
  resetTransfer();
}

}  // namespace kq
