#pragma once
// ServerMove handles RQMOV: the server moved or renamed a folder. The member
// "sourcefilepath" names it before the move, "destinationfilepath" after it.
// The handler tests that the folder can be renamed at all (nothing holds it
// open), blocks both locations in the echo lists, moves the folder through the
// ProcessRunner and answers ANMOV when the source is gone afterwards, else FLMOV.
//
// The source is looked at kMoveSettleMs after the move, without holding the
// thread: the answer waits on the engine's timer (tick) while other events go
// on being handled. It goes out with the request's id once the time is up, at
// once when the server sends its next request first, and not at all when the
// connection closes before (the line "The answer to RQMOV is dropped: the
// connection closed" says so).
#include <cstdint>
#include <optional>
#include <string>

#include "engine/handler_ports.h"
#include "protocol/request_handler.h"
#include "transfer/server_path.h"

namespace kq {

// kMoveSettleMs is the pause after the folder move before the source is checked.
constexpr int kMoveSettleMs = 2500;

class ServerMove : public RequestHandler, public SessionObserver {
 public:
  explicit ServerMove(HandlerPorts& ports) : p_(ports) {}
  void onMember(const std::string& key, const std::string& value, PacketContext& packet) override;
  // endOfReadEvent forgets the remembered source: it lasts one read event.
  void endOfReadEvent() { source_ = LocalPath{}; sourceValue_.clear(); }
  // tick sends the waiting answer once its time has come (the engine's timer).
  void tick();
  bool answerPending() const { return pending_.has_value(); }
  void onRequestHeader(int code) override;
  void onSessionClosed() override;

 private:
  // Settling is a finished move whose source is checked at dueMs.
  struct Settling {
    std::int64_t dueMs = 0;
    std::string source;
    std::string detail;  // what the move left behind, as the mover said
    RequestId requestId{};
  };

  void rememberSource(const std::string& value);
  [[nodiscard]] bool moveTo(const std::string& value);
  [[nodiscard]] bool moveFolder(const std::string& source, const std::string& destination);
  [[nodiscard]] bool renameTest(const std::string& source);
  [[nodiscard]] bool refuseUnsynced(const std::string& value, LocalPath local);
  void settle();
  void answer(bool failed, std::string& answerType);

  HandlerPorts& p_;
  LocalPath source_;
  std::string sourceValue_;  // the source member's value; empty when none was given
  std::optional<Settling> pending_;
  bool deferred_ = false;  // the member just handled left its answer to settle()
};

}  // namespace kq
