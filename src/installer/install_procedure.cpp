#include "installer/install_procedure.h"

#include <cstdio>

#include "installer/install_layout.h"
#include "installer/register_uninstall.h"

namespace kq::installer {

namespace {

std::string inFolder(const std::string& folder, const std::string& name) {
  return folder + "\\" + name;
}

// hexCode shows a shell result code the way Windows documents them: 0x80070003.
std::string hexCode(std::int32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

}  // namespace

InstallResult Installation::configure(const InstallerInput& input) {
  failures_.clear();
  fields_ = installerFields(input);
  if (!prepareFolders(input)) return InstallResult::Stopped;

  const std::string exePath = p_.shell.moduleFileName();
  const std::string sourceFolder = folderOf(exePath);
  const std::string exeName = fileNameOf(exePath);
  ClientConfig record = makeClientConfig(exePath);
  try {
    saveConfig(record, fields_, p_.fs);
  } catch (const ConfigError& e) {
    quietFailure(e.what());
  }
  copyProgram(sourceFolder, exeName);

  auto profile = p_.shell.profileFolder();
  if (!profile) {
    p_.messages.show(MessageKind::Error, "Can not get folder path!");
    return InstallResult::Stopped;
  }
  const std::string appData = p_.shell.environment("APPDATA");
  installUninstaller(sourceFolder, appData);
  createShortcuts(exeName, *profile, appData);
  if (registerUninstall(p_.registry, p_.fs, appData) != 1)
    quietFailure("Cannot register the uninstall entry");
  installService();
  return InstallResult::Installed;
}

// prepareFolders checks the input and creates the sync folder and the program
// folder. An empty sync folder is refused before anything is created.
bool Installation::prepareFolders(const InstallerInput& input) {
  if (auto problem = installerInputProblem(input)) {
    p_.messages.show(MessageKind::Information, *problem);
    return false;
  }
  if (auto warning = apiKeyWarning(input.apiKey); warning && !p_.messages.ask(*warning)) return false;
  if (!p_.fs.createFolders(fields_.syncFolder)) {
    p_.messages.show(MessageKind::Error, "Error in Filesync installation!");
    return false;
  }
  if (!p_.fs.createFolders(kProgramFolder) || !p_.fs.isFolder(kProgramFolder)) {
    p_.messages.show(MessageKind::Error, "Can not create directory for application!");
    return false;
  }
  return true;
}

// copyProgram copies the client, the service and the configuration into the
// program folder and removes the configuration from the source folder.
void Installation::copyProgram(const std::string& sourceFolder, const std::string& exeName) {
  const std::string sourceConfig = inFolder(sourceFolder, kConfigFile);
  copy(inFolder(sourceFolder, exeName), inFolder(kProgramFolder, exeName));
  copy(inFolder(sourceFolder, kServiceFile), inFolder(kProgramFolder, kServiceFile));
  copy(sourceConfig, inFolder(kProgramFolder, kConfigFile));
  if (!p_.shell.clearAttributes(sourceConfig))
    quietFailure("Cannot clear the attributes of " + sourceConfig);
  if (!p_.fs.remove(sourceConfig)) quietFailure("Cannot remove " + sourceConfig);
}

void Installation::installUninstaller(const std::string& sourceFolder, const std::string& appData) {
  const std::string folder = uninstallerFolder(appData);
  if (!p_.fs.isFolder(folder) && !p_.fs.createFolders(folder))
    quietFailure("Cannot create " + folder);
  copy(inFolder(sourceFolder, kUninstallerFile), uninstallerPath(appData));
}

void Installation::createShortcuts(const std::string& exeName, const std::string& profile,
                                   const std::string& appData) {
  const std::string desktop = desktopShortcut(profile);
  std::int32_t result =
      p_.shell.createShortcut(inFolder(kProgramFolder, exeName), desktop, kShortcutDescription);
  if (result != 0) quietFailure("Cannot create " + desktop + " (" + hexCode(result) + ")");
  // A fresh profile may lack the Startup folder; without it the client would not start at logon.
  const std::string startup = startupShortcut(appData);
  if (!p_.fs.createFolders(folderOf(startup))) quietFailure("Cannot create " + folderOf(startup));
  copy(desktop, startup);
}

void Installation::installService() {
  p_.shell.shellOpen("SC", kServiceCreateParameters);
  p_.shell.sleep(kServiceStartDelayMs);
  p_.shell.shellOpen("sc", kServiceStartParameters);
}

void Installation::copy(const std::string& from, const std::string& to) {
  if (!p_.shell.copyFile(from, to)) quietFailure("Cannot copy " + from + " to " + to);
}

}  // namespace kq::installer
