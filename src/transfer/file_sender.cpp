#include "transfer/file_sender.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "transfer/server_path.h"
#include "transfer/unsynced_names.h"

namespace kq {

namespace {

// DataPacketSender streams one data packet: header first, then the file's bytes
// up to the announced size, zero padding for whatever the file cannot deliver.
// The first send the link refuses ends it: nothing more is read or sent.
class DataPacketSender {
 public:
  DataPacketSender(HandlerPorts& p, std::size_t chunkSize) : p_(p), chunkSize_(chunkSize) {}

  void send(const RequestId& requestId, const std::string& path, bool isLog) {
    auto in = p_.fs.openRead(path);
    FileStatus st = in ? p_.fs.status(path) : FileStatus{};
    size_ = st.type == EntryType::File ? st.size : 0;
    if (!in) {
      p_.log.writeLog("Error: can not open the file for reading", true);
      fail(p_, path, "cannot be opened for reading");
    }
    path_ = isLog ? std::string() : path;
    p_.log.writeLog("File size: " + std::to_string(size_), true);
    p_.log.writeLog("Sending file to Server...", true);
    header_ = encodeHeader(PacketHeader{isLog ? "ANLOG" : "ANFIL", requestId, size_});
    hexDump(header_, 16, false, &p_.log);
    if (in) {
      sendFileData(*in);
    } else {
      p_.log.writeLog("Sended 0 bytes of 0", true);
    }
    if (!broken_) finish();
    if (!broken_) p_.log.writeLog("The file has been sent to Server...", true);
    progress(size_);  // the send is over
  }

  // progress tells the status how far the file's send is.
  void progress(std::uint64_t done) {
    if (!path_.empty() && p_.sendProgress) p_.sendProgress(path_, done, size_);
  }

 private:
  // buffer is the read buffer: no larger than the file needs, and not filled
  // with anything before the file's bytes are read into it.
  char* buffer() {
    if (!buffer_) {
      bufferSize_ = static_cast<std::size_t>(std::max<std::uint64_t>(1, std::min<std::uint64_t>(chunkSize_, size_)));
      buffer_ = std::make_unique_for_overwrite<char[]>(bufferSize_);
    }
    return buffer_.get();
  }

  // sendFileData logs its progress once, when the reading ends ("Sended N
  // bytes of M"), not for every chunk.
  void sendFileData(InputStream& in) {
    do {
      std::uint64_t remaining = size_ - total_;
      char* data = buffer();
      auto want = static_cast<std::size_t>(std::min<std::uint64_t>(bufferSize_, remaining));
      std::int64_t n = want == 0 ? 0 : in.read(data, want);
      if (n < 0) {
        p_.log.writeLog("Error in fin.read()", true);
        return;
      }
      if (n == 0 && sentHeader_) return;  // the file ended before its announced size
      total_ += static_cast<std::uint64_t>(n);
      progress(total_);
      const bool last = n == 0 || total_ >= size_;
      if (last) logProgress();
      if (!sendHeaderOnce() || n == 0 || !sendBytes(std::string_view(data, static_cast<std::size_t>(n)))) {
        if (!last) logProgress();  // stopped early: how far it got
        return;
      }
    } while (total_ < size_);
  }

  void logProgress() {
    p_.log.writeLog("Sended " + std::to_string(total_) + " bytes of " + std::to_string(size_), true);
  }

  // finish keeps the framing: the header always goes out, and the bytes the file
  // did not deliver are sent as zero bytes.
  void finish() {
    if (!sendHeaderOnce()) return;
    if (total_ >= size_) return;
    std::uint64_t missing = size_ - total_;
    p_.log.writeLog("ERROR: The file delivered " + std::to_string(total_) + " of " +
                        std::to_string(size_) + " bytes; padding " + std::to_string(missing) +
                        " bytes with zeros", true);
    char* zeros = buffer();
    std::fill(zeros, zeros + bufferSize_, '\0');
    while (total_ < size_) {
      auto n = static_cast<std::size_t>(std::min<std::uint64_t>(bufferSize_, size_ - total_));
      if (!sendBytes(std::string_view(zeros, n))) return;
      total_ += n;
    }
  }

  bool sendHeaderOnce() {
    if (sentHeader_) return true;
    sentHeader_ = sendBytes(header_);
    return sentHeader_;
  }

  // sendBytes hands bytes to the link; a refusal is logged once and ends the packet.
  bool sendBytes(std::string_view bytes) {
    if (broken_) return false;
    if (p_.server.send(bytes)) {
      sent_ += bytes.size();
      return true;
    }
    broken_ = true;
    p_.log.writeLog("ERROR: Sending to the server failed after " + std::to_string(sent_) + " of " +
                        std::to_string(kHeaderSize + size_) + " bytes; the send stopped", true);
    return false;
  }

  HandlerPorts& p_;
  std::string path_;  // the file sent, empty for the log
  std::size_t chunkSize_;
  std::unique_ptr<char[]> buffer_;
  std::size_t bufferSize_ = 0;
  std::string header_;
  std::uint64_t size_ = 0;
  std::uint64_t total_ = 0;
  std::uint64_t sent_ = 0;  // bytes the link took, header included
  bool sentHeader_ = false;
  bool broken_ = false;
};

// sendEmptyAnswer answers with a data packet that carries no data.
void sendEmptyAnswer(HandlerPorts& p, const char* type) {
  try {
    if (!p.server.send(encodeHeader(PacketHeader{type, p.protocol.currentRequestId, 0})))
      p.log.writeLog("Error in sendDataPacket()", true);
  } catch (...) {
    p.log.writeLog("Error in sendDataPacket()", true);
  }
}

}  // namespace

void sendDataPacket(HandlerPorts& ports, const RequestId& requestId, const std::string& path,
                    bool isLog, std::size_t chunkSize) {
  try {
    ports.tracker.setServerBusy();
    ports.log.writeLog("Reading file:", true);
    ports.log.writeLog(path, true);
    DataPacketSender sender(ports, std::max<std::size_t>(chunkSize, 1));
    sender.send(requestId, path, isLog);
  } catch (...) {
    ports.log.writeLog("Error in sendDataPacket()", true);
  }
}

void FileRequestHandler::onMember(const std::string& key, const std::string& value,
                                  PacketContext&) {
  if (key == "\"filepath\"") {
    p_.log.writeLog("Preparing the file for sending: " + value, true);
    p_.status.setPanel(1, "Sending file...");
    LocalPath local = localPathFromServer(p_.syncFolder(), value);
    if (local.ok() && !local.folder) local.refusal = unsyncedReason(p_.fs.status(local.path).type);
    if (local.ok() && !local.folder) {
      sendDataPacket(p_, p_.protocol.currentRequestId, local.path, false);
    } else {
      if (local.ok()) local.refusal = "it names a folder";
      refuse(p_, value, local);
      sendEmptyAnswer(p_, "ANFIL");
    }
  }
  p_.tracker.setServerBusy();
}

void LogRequestHandler::onMember(const std::string& key, const std::string&, PacketContext&) {
  if (key == "\"logfile\"") {
    std::string path = p_.syncFolder() + "\\_log" + "\\Filesync.log";
    p_.status.setPanel(1, "Sending LOG file to Server");
    sendDataPacket(p_, p_.protocol.currentRequestId, path, true);
  }
  p_.tracker.setServerBusy();
}

}  // namespace kq
