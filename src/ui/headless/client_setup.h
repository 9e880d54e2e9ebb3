#pragma once
// loadClientSetup finds and checks the configuration the client runs with:
// configFile when given, else "filesync.cfg" in the user's configuration
// folder, else beside the executable. A configuration that cannot work is refused before anything starts,
// with its real path and what is wrong; the reason also goes to the log when
// the sync folder is known.
#include <string>

#include "ui/headless/client_app.h"

namespace kq {

struct ClientSetup {
  ClientApp::Setup app;
  std::string problem;  // empty when the client can start
};

ClientSetup loadClientSetup(const std::string& exeNativePath, const std::string& configFile = {});

}  // namespace kq
