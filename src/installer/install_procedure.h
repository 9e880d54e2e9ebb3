#pragma once
// Installation is what "Configure" does: it takes the values of the installer
// window, checks them, writes "filesync.cfg", copies the client, the watcher
// service and the uninstaller into place, creates the shortcuts, registers the
// uninstall entry and creates and starts the service "ZRService".
//
// Input problems and the two folder checks stop it with a message box. Once
// the program folder exists, no later step stops it or reports to the user:
// installing without administrator rights lets those steps fail quietly. Their
// failures are kept in `quietFailures` (the installer prints them on its
// standard output) and nothing done before is undone.
#include <string>
#include <vector>

#include "config/client_config.h"
#include "config/installer_fields.h"
#include "installer/install_ports.h"
#include "platform/file_system.h"

namespace kq::installer {

struct InstallerPorts {
  FileSystem& fs;
  InstallerShell& shell;
  Registry& registry;
  InstallerMessages& messages;
};

enum class InstallResult {
  Stopped,    // an input problem or a folder failure was shown with a message box
  Installed,  // all steps ran; the window shows its second page
};

class Installation {
 public:
  // fields are the configuration window's fields, filled before the checks.
  Installation(InstallerPorts ports, ConfigFields& fields) : p_(ports), fields_(fields) {}

  // configure runs the whole procedure for what the user entered (8-bit text).
  InstallResult configure(const InstallerInput& input);
  // quietFailures describes the steps of the last run that failed without a message.
  const std::vector<std::string>& quietFailures() const { return failures_; }

 private:
  bool prepareFolders(const InstallerInput& input);
  void copyProgram(const std::string& sourceFolder, const std::string& exeName);
  void installUninstaller(const std::string& sourceFolder, const std::string& appData);
  void createShortcuts(const std::string& exeName, const std::string& profile,
                       const std::string& appData);
  void installService();
  void copy(const std::string& from, const std::string& to);
  void quietFailure(std::string what) { failures_.push_back(std::move(what)); }

  InstallerPorts p_;
  ConfigFields& fields_;
  std::vector<std::string> failures_;
};

}  // namespace kq::installer
