#pragma once
// FileReceiver takes the files and folders the server pushes: the RQPUT request
// (a folder is created; a file is announced and its parent folders made), the
// RQFDA header and the file data that follows it in any number of reads. Data
// goes to a temporary file beside the target as it arrives, one write per read,
// and replaces the target only when every announced byte was written; memory
// does not grow with the file size.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/handler_ports.h"
#include "protocol/request_handler.h"
#include "transfer/incoming_file.h"
#include "transfer/receive_state.h"
#include "transfer/server_path.h"

namespace kq {

class FileReceiver : public RequestHandler, public FileDataReceiver {
 public:
  explicit FileReceiver(HandlerPorts& ports) : p_(ports) {}

  // onMember handles one member of an RQPUT body.
  void onMember(const std::string& key, const std::string& value, PacketContext& packet) override;
  std::size_t onHeader(std::string_view read, PacketContext& packet) override;
  std::size_t onData(std::string_view read, PacketContext& packet) override;
  void closeOpenFile() override;
  // onConnectionClosed ends an unfinished transfer: the temporary file is
  // removed, the target stays as it was, data mode ends.
  void onConnectionClosed() override;
  // removeLeftovers removes the temporary files that an earlier run left in the
  // sync folder (one log line each).
  void removeLeftovers();

  ReceiveMode mode() const { return mode_; }
  // The receive state (fileDataMode in ProtocolState mirrors the mode).
  std::uint64_t receivedFileBytes = 0;
  std::uint64_t expectedFileSize = 0;
  std::string receivingFileName;
  // refusedBytesLeft counts the data of a refused RQFDA still to be dropped.
  std::uint64_t refusedBytesLeft = 0;
  bool fileOpen() const { return file_ && file_->open(); }

 private:
  void enter(ReceiveEvent event);
  void refuse(std::string_view value, const LocalPath& local, PacketContext& packet);
  void putFolder(const LocalPath& local, PacketContext& packet);
  void putFile(const LocalPath& local, PacketContext& packet);
  void showReceiveStatus(const std::string& path);
  void makeParentFolders(const std::string& path);
  std::size_t refuseTransfer(std::string_view read, PacketContext& packet);
  void dataBlock(std::string_view chunk, PacketContext& packet);
  void writeChunk(std::string_view chunk);
  void completeTransfer(PacketContext& packet);
  void finishFile();
  [[nodiscard]] bool setAsideFolder(const std::string& target);
  void resetTransfer();

  HandlerPorts& p_;
  ReceiveMode mode_ = ReceiveMode::Idle;
  std::unique_ptr<IncomingFile> file_;  // the file of the transfer under way
};

}  // namespace kq
