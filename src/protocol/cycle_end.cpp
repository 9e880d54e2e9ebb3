#include "protocol/cycle_end.h"

#include "config/config_store.h"
#include "config/settings.h"
#include "protocol/dispatcher.h"
#include "tracking/change_tracker.h"

namespace kq {

void CycleEnd::onMember(const std::string& key, const std::string&, PacketContext&) {
  if (!state_.initialSyncDone) {
    std::string path = config_.settingsPath();
    if (!writeInitialSync(ini_, path, 1)) throw SettingsWriteError("cannot write " + path);
    state_.initialSyncDone = true;
  }
  if (FileDataReceiver* receiver = dispatcher_.receiver()) receiver->closeOpenFile();
  tracker_.onServerRoundFinished(key);
}

}  // namespace kq
