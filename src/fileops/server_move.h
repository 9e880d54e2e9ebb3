#pragma once
// ServerMove handles RQMOV: the server moved or renamed a folder. The member
// "sourcefilepath" names it before the move, "destinationfilepath" after it.
// The handler tests that the folder can be renamed at all (nothing holds it
// open), blocks both locations in the echo lists, moves the folder through the
// ProcessRunner and answers ANMOV when the source is gone afterwards, else FLMOV.
#include <string>

#include "engine/handler_ports.h"
#include "protocol/request_handler.h"
#include "transfer/server_path.h"

namespace kq {

// kMoveSettleMs is the pause after the folder move before the source is checked.
constexpr int kMoveSettleMs = 2500;

class ServerMove : public RequestHandler {
 public:
  explicit ServerMove(HandlerPorts& ports) : p_(ports) {}
  void onMember(const std::string& key, const std::string& value, PacketContext& packet) override;
  // endOfReadEvent forgets the remembered source: it lasts one read event.
  void endOfReadEvent() { source_ = LocalPath{}; sourceValue_.clear(); }

 private:
  void rememberSource(const std::string& value);
  [[nodiscard]] bool moveTo(const std::string& value);
  [[nodiscard]] bool moveFolder(const std::string& source, const std::string& destination);
  [[nodiscard]] bool renameTest(const std::string& source);
  void answer(bool failed, PacketContext& packet);

  HandlerPorts& p_;
  LocalPath source_;
  std::string sourceValue_;  // the source member's value; empty when none was given
};

}  // namespace kq
