#include "uninstall/uninstall_steps.h"

#include "config/client_config.h"
#include "installer/install_layout.h"

namespace kq::uninstall {

using namespace kq::installer;

namespace {

std::string normalised(const std::string& path) {
  std::string out;
  for (char c : path) {
    char n = c == '/' ? '\\' : (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    if (n == '\\' && !out.empty() && out.back() == '\\') continue;
    out.push_back(n);
  }
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

}  // namespace

bool isInside(const std::string& path, const std::string& folder) {
  std::string p = normalised(path), f = normalised(folder);
  if (p.empty() || f.empty() || p.compare(0, f.size(), f) != 0) return false;
  return p.size() == f.size() || p[f.size()] == '\\';
}

std::vector<std::string> Uninstallation::run() {
  left_.clear();
  atRestart_.clear();
  if (!system_.endClient()) left_.push_back("the running Korvalinq Drive client");
  if (!system_.removeService()) left_.push_back(std::string("the service ") + kServiceName);
  const std::string syncFolder = configuredSyncFolder();
  removeTree(kProgramFolder, syncFolder);
  const std::string appData = system_.environment("APPDATA");
  if (auto profile = system_.profileFolder()) removeFile(desktopShortcut(*profile));
  if (!appData.empty()) removeFile(startupShortcut(appData));
  if (!system_.deleteKey(kUninstallKey)) left_.push_back(std::string("HKEY_LOCAL_MACHINE\\") + kUninstallKey);
  if (!appData.empty()) removeTree(uninstallerFolder(appData), syncFolder);
  return left_;
}

// configuredSyncFolder is the sync folder named in the installed "filesync.cfg", empty when unknown.
std::string Uninstallation::configuredSyncFolder() {
  ClientConfig record = makeClientConfig(std::string(kProgramFolder) + "\\" + fileNameOf(kInstalledClient));
  ConfigFields fields;
  try {
    readConfig(record, kProgramFolder, fields, fs_);
  } catch (const ConfigError&) {
    return {};
  }
  return fields.syncFolder;
}

// removeTree removes a folder of the program with everything in it; when the
// sync folder lies inside, only the program's own files go and the folder stays.
void Uninstallation::removeTree(const std::string& path, const std::string& syncFolder) {
  if (!fs_.exists(path)) return;
  if (syncFolder.empty() || !isInside(syncFolder, path)) {
    if (!fs_.removeAll(path)) leftInPlace(path);
    return;
  }
  const std::string ownFiles[] = {fileNameOf(kInstalledClient), kServiceFile, kConfigFile, kUninstallerFile};
  for (const auto& name : ownFiles) removeFile(path + "\\" + name);
}

void Uninstallation::removeFile(const std::string& path) {
  if (fs_.exists(path) && !fs_.remove(path)) leftInPlace(path);
}

// leftInPlace: what is still in use goes at the next restart where Windows can arrange it.
void Uninstallation::leftInPlace(const std::string& path) {
  if (system_.removeAtRestart(path))
    atRestart_.push_back(path);
  else
    left_.push_back(path);
}

std::string reportText(const std::vector<std::string>& left, const std::vector<std::string>& atRestart) {
  std::string text = left.empty() ? kDoneText : kPartlyDoneText;
  for (const auto& item : left) text += "\n" + item;
  if (!left.empty()) text += kLeftAdvice;
  if (!atRestart.empty()) text += kAtRestartText;
  for (const auto& item : atRestart) text += "\n" + item;
  return text;
}

}  // namespace kq::uninstall
