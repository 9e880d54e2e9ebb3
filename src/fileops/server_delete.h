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

class ServerDelete : public RequestHandler {
 public:
  explicit ServerDelete(HandlerPorts& ports) : p_(ports) {}
  void onMember(const std::string& key, const std::string& value, PacketContext& packet) override;

 private:
  void deleteItem(const LocalPath& local, PacketContext& packet);
  int readPolicy();
  [[nodiscard]] bool moveToTrash(const LocalPath& local);
  [[nodiscard]] bool moveFolderToTrash(const std::string& folder, const std::string& destination);
  void removeItem(const std::string& localPath, const std::string& diskPath);

  HandlerPorts& p_;
};

}  // namespace kq
