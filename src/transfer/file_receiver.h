#pragma once
// FileReceiver takes the files and folders the server pushes: the RQPUT request
// (make room for a file, or create a folder), the RQFDA header and the file data
// that follows it in any number of reads. Data goes to disk as it arrives, one
// write per read; memory does not grow with the file size.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/handler_ports.h"
#include "protocol/request_handler.h"
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
  void onConnectionClosed() override;

  // The receive state (fileDataMode itself lives in ProtocolState).
  std::uint64_t receivedFileBytes = 0;
  std::uint64_t expectedFileSize = 0;
  std::string receivingFileName;
  bool rqfdaBlocked = false;
  // refusedBytesLeft counts the data of a refused RQFDA still to be dropped.
  std::uint64_t refusedBytesLeft = 0;
  bool fileOpen() const { return receivingFile_ != nullptr; }

 private:
  void putFolder(const LocalPath& local, PacketContext& packet);
  void putFile(const LocalPath& local, PacketContext& packet);
  void showReceiveStatus(const std::string& path);
  void makeRoom(const std::string& path);
  std::size_t refuseTransfer(std::string_view read, PacketContext& packet);
  void dataBlock(std::string_view chunk, PacketContext& packet);
  void openReceivingFile();
  void completeTransfer(PacketContext& packet);
  void resetTransfer();

  HandlerPorts& p_;
  std::unique_ptr<OutputStream> receivingFile_;
  bool fileStarted_ = false;  // the file of this transfer was created; reopening appends
  bool dataLost_ = false;     // some data of this transfer did not reach the file
};

}  // namespace kq
