#pragma once
// The start-up decision: which role this run of the executable plays.
#include <string>

namespace kq::win {

enum class Role {
  FolderAction,              // the client runs: open the sync folder in Explorer
  Client,                    // "filesync.cfg" next to the executable: run the tray client
  InstallerAlreadyRunning,   // say so and end
  Installer,                 // first run with "install": the installer window
  NotSetUp,                  // no "filesync.cfg" and no "install": offer the set-up
  Nothing,                   // end at once, silently
};

struct StartupFacts {
  bool clientRunning = false;     // a top-level window "Korvalinq Drive Client" exists
  bool configExists = false;      // "filesync.cfg" is in the program folder
  bool installerRunning = false;  // a top-level window "Configure Korvalinq Drive" exists
  std::wstring argument;          // first command-line argument, as given
};

// lowerAscii lower-cases the letters A to Z.
std::wstring lowerAscii(std::wstring text);
// decideRole applies the checks in order: running client, configuration file,
// running installer, "install" argument.
Role decideRole(const StartupFacts& facts);

}  // namespace kq::win
