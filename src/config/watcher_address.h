#pragma once
// The watcher address of the Linux programs: where zrservice listens and
// kqfilesync connects, from the "Watcher" member of "filesync.cfg", so that
// each user of a machine has a watcher of their own.
//
//   "Watcher":"unix"    a UNIX-domain socket, $XDG_RUNTIME_DIR/kqfilesync/zrservice.sock
//                       (the folder of mode 0700: no other user can reach it)
//   "Watcher":"11112"   TCP on 127.0.0.1, that port
//   (no member)         TCP on 127.0.0.1:11111, the address of the Windows programs
#include <optional>
#include <string>
#include <string_view>

namespace kq {

struct WatcherAddress {
  static constexpr int kDefaultPort = 11111;
  std::string socketPath;  // a UNIX-domain socket; empty for TCP
  int port = kDefaultPort;  // TCP on 127.0.0.1
  // text is what messages show: "127.0.0.1:11111" or the socket's path.
  std::string text() const { return socketPath.empty() ? "127.0.0.1:" + std::to_string(port) : socketPath; }
  // folder is the socket's folder ("" for TCP).
  std::string folder() const;
  bool operator==(const WatcherAddress&) const = default;
};

// watcherSetting is the "Watcher" member of a configuration file's bytes (a
// string or a number, as text); nullopt when there is none.
std::optional<std::string> watcherSetting(std::string_view fileBytes);

// watcherAddress reads a setting ("unix" or a port 1..65535; nullopt: the
// default); runtimeDir is $XDG_RUNTIME_DIR. Throws std::invalid_argument with
// the reason for a setting that cannot work.
WatcherAddress watcherAddress(const std::optional<std::string>& setting, const char* runtimeDir);

// withWatcherSetting adds the member to the JSON text of a configuration as
// configText writes it.
std::string withWatcherSetting(const std::string& configJson, const std::string& setting);

}  // namespace kq
