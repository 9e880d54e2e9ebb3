#include "platform/win32/links_win32.h"

namespace kq {

// activate starts a connect. A socket that is connected or still connecting
// keeps going when host and port are unchanged and refuses another target.
void Win32ServerLink::activate(const std::string& host, int port) {
  if (socket_.attempting()) {
    if (host == socket_.host() && port == socket_.port()) return;
    throw LinkError("Cannot change Host or Port on an active connection");
  }
  socket_.open(host, port);
}

}  // namespace kq
