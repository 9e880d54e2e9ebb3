#pragma once
// The seams between the dispatcher and the request handlers of every subsystem.
#include <string>
#include <string_view>

#include "protocol/packet.h"

namespace kq {

// ProtocolState is the process-wide protocol state shared by the dispatcher and
// the handlers. It lives as long as the engine and is never reset when the
// connection ends or is re-made.
struct ProtocolState {
  int lastPacketType = 0;          // type code of the last packet that had one
  std::string lastHeaderText;      // text view of the last recognised header
  RequestId currentRequestId{};    // echoed by every answer
  bool fileDataMode = false;       // an RQFDA transfer is under way
  bool initialSyncDone = false;    // the first full synchronisation is done
};

// PacketContext is the per-packet state handed to the handlers.
struct PacketContext {
  int typeCode = 0;
  std::string answerType;  // header-only answer the dispatcher sends at the end
};

// RequestHandler is called once per member of a request's JSON body: key in its
// quoted JSON form ("\"filepath\""), value as JSON text without its first and
// last character (escapes kept, so "/" arrives as "\/").
class RequestHandler {
 public:
  virtual ~RequestHandler() = default;
  virtual void onMember(const std::string& key, const std::string& value,
                        PacketContext& packet) = 0;
};

// SessionObserver hears two moments of a server session: a request header has
// arrived (so the server has what was answered before it), and the connection
// closed (so what was answered since the last request may never have arrived).
class SessionObserver {
 public:
  virtual ~SessionObserver() = default;
  virtual void onRequestHeader(int code) = 0;
  virtual void onSessionClosed() = 0;
};

// FileDataReceiver takes RQFDA headers and the file data that follows them.
class FileDataReceiver {
 public:
  virtual ~FileDataReceiver() = default;
  // onHeader gets a whole read that starts with an RQFDA header (17 bytes or more),
  // after the dispatcher has taken currentRequestId from it. It returns how many
  // bytes of the read it consumed (header included); see onData.
  virtual std::size_t onHeader(std::string_view read, PacketContext& packet) = 0;
  // onData gets a read while fileDataMode is on. It returns how many bytes it
  // consumed as file data; bytes beyond the announced size are handed back to the
  // dispatcher, which processes them as the next packet in the same event.
  virtual std::size_t onData(std::string_view read, PacketContext& packet) = 0;
  // closeOpenFile closes a received file that is still open (RQFLS, read errors).
  virtual void closeOpenFile() = 0;
  // onConnectionClosed ends an unfinished transfer: file closed, partial file
  // removed, data mode left, counters reset.
  virtual void onConnectionClosed() = 0;
};

}  // namespace kq
