#pragma once
// The fixed names and places of an installation: the program folder, the
// uninstaller, the shortcuts, the uninstall registry entry and the watcher
// service. Paths are local path text (ANSI code page).
#include <string>

namespace kq::installer {

constexpr const char* kVersion = "0.4.2";
constexpr const char* kProductName = "Korvalinq Drive";
constexpr const char* kWindowCaption = "Configure Korvalinq Drive";

constexpr const char* kProgramFolder = "C:\\Program files (x86)\\Korvalinq Drive";
constexpr const char* kInstalledClient = "C:\\Program files (x86)\\Korvalinq Drive\\KQFilesyncClient.exe";
constexpr const char* kServiceFile = "zrservice.exe";
constexpr const char* kUninstallerFile = "uninstall.exe";
constexpr const char* kConfigFile = "filesync.cfg";
constexpr const char* kShortcutDescription = "Korvalinq Drive Client";

constexpr const char* kUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvalinq Drive";
constexpr const char* kControlKey = "SYSTEM\\CurrentControlSet\\Control";
constexpr const char* kInstallLocation = "C:\\Program Files (x86)\\Korvalinq Drive\\";
constexpr const char* kDisplayIcon = "C:\\Program Files (x86)\\Korvalinq Drive\\KQFilesyncClient.exe";
constexpr const char* kPublisher = "Halmo";

constexpr const char* kServiceName = "ZRService";
constexpr const char* kServiceCreateParameters =
    "CREATE \"ZRService\" binPath= \"C:\\Program files (x86)\\Korvalinq Drive\\zrservice.exe\" "
    "DisplayName= \"Korvalinq Drive Service\" start=auto";
constexpr const char* kServiceStartParameters = "start ZRService";
constexpr int kServiceStartDelayMs = 2000;

// kMaxPath is the longest path (with its terminating null) a shortcut file may have.
constexpr std::size_t kMaxPath = 260;

// uninstallerFolder is APPDATA + "\Korvalinq Drive".
std::string uninstallerFolder(const std::string& appData);
// uninstallerPath is the uninstaller folder + "\uninstall.exe".
std::string uninstallerPath(const std::string& appData);
// desktopShortcut is the profile folder + "\Desktop\Filesync.lnk".
std::string desktopShortcut(const std::string& profileFolder);
// startupShortcut is APPDATA + "\Microsoft\Windows\Start Menu\Programs\Startup\Filesync.lnk".
std::string startupShortcut(const std::string& appData);
// defaultSyncFolder is the profile folder + "\Korvalinq Drive", empty without a profile folder.
std::string defaultSyncFolder(const std::string& profileFolder);

// folderOf is the folder part of a file path, without its last separator.
std::string folderOf(const std::string& path);
// fileNameOf is the text after the last "\" or "/".
std::string fileNameOf(const std::string& path);

}  // namespace kq::installer
