#pragma once
// loadClientSetup finds and checks the configuration the client runs with:
// "filesync.cfg" beside the executable, else in the user's configuration
// folder. A configuration that cannot work is refused before anything starts,
// with its real path and what is wrong; the reason also goes to the log when
// the sync folder is known.
#include <string>

#include "ui/headless/client_app.h"

namespace kq {

struct ClientSetup {
  ClientApp::Setup app;
  std::string problem;  // empty when the client can start
};

ClientSetup loadClientSetup(const std::string& exeNativePath);

}  // namespace kq
