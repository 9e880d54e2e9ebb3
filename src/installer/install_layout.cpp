#include "installer/install_layout.h"

namespace kq::installer {

std::string uninstallerFolder(const std::string& appData) { return appData + "\\Korvalinq Drive"; }

std::string uninstallerPath(const std::string& appData) {
  return uninstallerFolder(appData) + "\\" + kUninstallerFile;
}

std::string desktopShortcut(const std::string& profileFolder) {
  return profileFolder + "\\Desktop\\Filesync.lnk";
}

std::string startupShortcut(const std::string& appData) {
  return appData + "\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\Filesync.lnk";
}

std::string defaultSyncFolder(const std::string& profileFolder) {
  return profileFolder.empty() ? std::string() : profileFolder + "\\Korvalinq Drive";
}

std::string folderOf(const std::string& path) {
  auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string fileNameOf(const std::string& path) {
  auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace kq::installer
