#pragma once
// ClientEvents is what the main window hands its socket events, timer ticks
// and menu commands to: the synchronisation engine. The window holds no sync
// logic; it only routes events and shows what the engine publishes.
#include <string_view>

namespace kq::win {

class ClientEvents {
 public:
  virtual ~ClientEvents() = default;
  virtual void FilesyncSocketConnecting() = 0;
  virtual void FilesyncSocketConnect() = 0;
  virtual void FilesyncSocketDisconnect() = 0;
  virtual void FilesyncSocketRead(std::string_view bytes) = 0;
  virtual void FilesyncSocketError(int code) = 0;
  virtual void ReconnectTimer() = 0;
  virtual void Connect1Click() = 0;
  virtual void ClientSocket1Connect() = 0;
  virtual void ClientSocket1Read(std::string_view bytes) = 0;
  virtual void CheckChangesTimer() = 0;
  virtual void ItemA1Click() = 0;
  virtual void Synchronizeall1Click() = 0;
  virtual void ItmeB1Click() = 0;
  // reconnectEnabled is the state the engine wants the Reconnect timer in.
  virtual bool reconnectEnabled() const = 0;
};

}  // namespace kq::win
