#pragma once
// ServerDelete handles RQDEL: the server deleted an item, and the user's
// deletion policy ("Basic"/"filedeletion" of Filesync.ini, read afresh for every
// request) decides what happens to the local copy: 0 moved into the hidden
// "_trash" folder, 1 kept, 2 deleted. The path enters the echo lists before the
// disk is touched; the answer is always ANDEL.
#include <string>

#include "engine/handler_ports.h"
#include "protocol/request_handler.h"
#include "transfer/server_path.h"

namespace kq {

// setAsideReplaced moves the item at local out of the way of a server item of
// the other kind (a folder where a file of the server goes, or a file where its
// folder goes). The deletion policy decides where it goes: deleted under
// "delete", into "_trash" otherwise (under "keep" too, since it cannot stay
// where the server's item goes). Its removal is not reported back. True when
// the path is free.
[[nodiscard]] bool setAsideReplaced(HandlerPorts& ports, const LocalPath& local);

class ServerDelete : public RequestHandler {
 public:
  explicit ServerDelete(HandlerPorts& ports) : p_(ports) {}
  void onMember(const std::string& key, const std::string& value, PacketContext& packet) override;

 private:
  void deleteItem(const LocalPath& local, PacketContext& packet);

  HandlerPorts& p_;
};

}  // namespace kq
