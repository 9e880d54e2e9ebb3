#include "installer/register_uninstall.h"

#include "installer/install_layout.h"

namespace kq::installer {

int registerUninstall(Registry& registry, FileSystem& fs, const std::string& appData) {
  const std::string folder = uninstallerFolder(appData);
  bool ok = registry.createKey(kUninstallKey) &&
            registry.setDword(kControlKey, "ServicesPipeTimeout", kServicesPipeTimeoutMs) &&
            registry.setString(kUninstallKey, "DisplayName", kProductName) &&
            (fs.isFolder(folder) || fs.createFolders(folder)) &&
            registry.setString(kUninstallKey, "UninstallString", uninstallerPath(appData)) &&
            registry.setString(kUninstallKey, "Publisher", kPublisher) &&
            registry.setString(kUninstallKey, "DisplayVersion", kVersion) &&
            registry.setString(kUninstallKey, "InstallLocation", kInstallLocation) &&
            registry.setString(kUninstallKey, "DisplayIcon", kDisplayIcon) &&
            registry.setString(kUninstallKey, "DisplayName", "Korvalinq Drive Filesync");
  return ok ? 1 : 0;
}

}  // namespace kq::installer
