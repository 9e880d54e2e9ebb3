#pragma once
// Sending files and the log to the server: the RQFIL and RQLOG handlers and
// sendDataPacket, which answers with one data packet (ANFIL or ANLOG): the
// header announcing the size, then exactly that many bytes, streamed in
// bounded chunks.
#include <cstddef>
#include <string>

#include "engine/handler_ports.h"
#include "protocol/request_handler.h"

namespace kq {

// kSendChunkSize bounds each read and send of a data packet.
constexpr std::size_t kSendChunkSize = 1 << 20;

// sendDataPacket sends the file at path (local path text) as "ANLOG" (isLog) or
// "ANFIL". The size announced is the file's size when it is opened (0 when it
// cannot be opened); a file that grows is sent up to that size, one that shrinks
// or fails to read is padded with zero bytes. Never throws.
void sendDataPacket(HandlerPorts& ports, const RequestId& requestId, const std::string& path,
                    bool isLog, std::size_t chunkSize = kSendChunkSize);

// FileRequestHandler answers RQFIL: the member "filepath" names the file.
class FileRequestHandler : public RequestHandler {
 public:
  explicit FileRequestHandler(HandlerPorts& ports) : p_(ports) {}
  void onMember(const std::string& key, const std::string& value, PacketContext& packet) override;

 private:
  HandlerPorts& p_;
};

// LogRequestHandler answers RQLOG (member "logfile") with the current log file.
class LogRequestHandler : public RequestHandler {
 public:
  explicit LogRequestHandler(HandlerPorts& ports) : p_(ports) {}
  void onMember(const std::string& key, const std::string& value, PacketContext& packet) override;

 private:
  HandlerPorts& p_;
};

}  // namespace kq
