#pragma once
// Dispatcher is the read event of the server link (FilesyncSocketRead): it tells
// request headers, JSON bodies and RQFDA file data apart, hands each member of a
// body to the request handler of its type, RQFDA headers and file data to the
// FileDataReceiver, and sends the header-only answer chosen for each packet.
#include <array>
#include <string>
#include <vector>
#include <string_view>

#include "protocol/request_handler.h"

namespace kq {

class Log;
class ServerLink;

class Dispatcher {
 public:
  // kReadSize is the most a platform read hands over in one event.
  static constexpr std::size_t kReadSize = kq::kReadSize;

  Dispatcher(ProtocolState& state, ServerLink& link, Log& log)
      : state_(state), link_(link), log_(log) {}

  // setHandler registers the member handler of a request type code (1..16);
  // nullptr removes it. Members of a type without a handler are read and ignored.
  void setHandler(int code, RequestHandler* handler);
  // setReceiver registers the RQFDA receiver. While none is registered an RQFDA
  // is refused: "ANFDA" at once, its bytes dropped, data mode never entered.
  void setReceiver(FileDataReceiver* receiver) { receiver_ = receiver; }
  FileDataReceiver* receiver() const { return receiver_; }

  // FilesyncSocketRead processes the bytes of one read event. It never throws.
  void FilesyncSocketRead(std::string_view bytes);
  // addObserver registers a session observer (it must live as long as the dispatcher).
  void addObserver(SessionObserver& observer) { observers_.push_back(&observer); }
  // onConnectionClosed forgets a partial request header held from the old
  // connection, ends the receiver's transfer and tells the observers.
  void onConnectionClosed();
  // heldBytes is the start of a request header waiting for its remaining bytes.
  const std::string& heldBytes() const { return held_; }

 private:
  struct Split {
    std::string jsonBody;  // empty: nothing to parse
    std::string next;      // a carried-over next packet
  };

  void readEvent(std::string bytes);
  // processPacket runs one packet and returns the bytes to process next.
  std::string processPacket(std::string_view buffer);
  bool holdPartialHeader(std::string_view buffer);
  std::size_t takeFileData(std::string_view buffer, PacketContext& packet);
  std::size_t takeRqfdaHeader(std::string_view buffer, PacketContext& packet);
  Split splitJsonRead(std::string_view buffer, PacketContext& packet);
  void answerForLastHeader(PacketContext& packet);
  void processJson(const std::string& body, int code, PacketContext& packet);

  ProtocolState& state_;
  ServerLink& link_;
  Log& log_;
  std::array<RequestHandler*, 17> handlers_{};
  FileDataReceiver* receiver_ = nullptr;
  std::vector<SessionObserver*> observers_;
  std::string held_;          // a request header still missing some of its 17 bytes
  bool heldIsPrefix_ = false; // held_ is only the start of a type name
};

}  // namespace kq
