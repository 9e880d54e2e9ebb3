#pragma once
// Where the client keeps what "kqfilesync status" reads: outside the sync
// folder, so that status still tells the truth while the folder is missing.
// The folder is $XDG_STATE_HOME/kqfilesync ($HOME/.local/state/kqfilesync
// without it, the configuration's folder without either); each sync folder has
// its own files there, named after its path ("/home/me/Sync" gives
// "home-me-Sync.status.json" and "home-me-Sync.lock").
#include <string>

namespace kq {

// stateFolder is the folder of the state files; configFolder is the fallback.
std::string stateFolder(const std::string& configFolder);

// stateName is the sync folder's path as one file name: the leading "/"
// dropped, every "/" a "-", every "-" and "\" as \x2d and \x5c.
std::string stateName(const std::string& syncFolderNative);

struct StateFiles {
  std::string status;  // the published state (JSON)
  std::string lock;    // held by the running client for its whole run
};
StateFiles stateFiles(const std::string& configFolder, const std::string& syncFolderNative);

}  // namespace kq
