#pragma once
// CycleEnd is the RQFLS member handler: the server's cycle is over. It records
// the first full synchronisation once in "Filesync.ini", closes a received file
// left open and lets change tracking go back to listening. RQFLS gets no answer.
#include <stdexcept>
#include <string>

#include "protocol/request_handler.h"

namespace kq {

class ChangeTracker;
class ConfigStore;
class Dispatcher;
class IniFile;

struct SettingsWriteError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class CycleEnd : public RequestHandler {
 public:
  CycleEnd(ProtocolState& state, ChangeTracker& tracker, ConfigStore& config, IniFile& ini,
           Dispatcher& dispatcher)
      : state_(state), tracker_(tracker), config_(config), ini_(ini), dispatcher_(dispatcher) {}

  // onMember throws SettingsWriteError when InitialSync cannot be written; the
  // dispatcher then ends the read and the remaining steps wait for a later RQFLS.
  void onMember(const std::string& key, const std::string& value, PacketContext& packet) override;

 private:
  ProtocolState& state_;
  ChangeTracker& tracker_;
  ConfigStore& config_;
  IniFile& ini_;
  Dispatcher& dispatcher_;
};

}  // namespace kq
