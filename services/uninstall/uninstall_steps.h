#pragma once
// Uninstallation undoes an installation: it ends a running client, stops and
// deletes the service "ZRService", removes the program folder, both shortcuts,
// the uninstall registry entry and the uninstaller's own folder. It never
// touches the user's sync folder: when that folder lies inside the program
// folder, only the program's own files are removed there.
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace kq::uninstall {

constexpr const char* kConfirmCaption = "Uninstall Korvalinq Drive";
constexpr const char* kConfirmText =
    "Do you want to remove Korvalinq Drive from this computer?\n\n"
    "The program, the watcher service ZRService, the shortcuts and the uninstall entry are removed.\n"
    "Your sync folder and the files in it are left untouched.";
constexpr const char* kDoneText =
    "Korvalinq Drive has been removed from this computer.\nYour sync folder was left untouched.";
constexpr const char* kPartlyDoneText = "Korvalinq Drive could not be removed completely. Left in place:\n";
constexpr const char* kLeftAdvice =
    "\n\nRestart Windows and run the uninstaller again, or delete what is left by hand.";
constexpr const char* kAtRestartText =
    "\n\nStill in use, and removed by Windows at the next restart:\n";

// UninstallSystem is the port to what lies beyond the file system.
class UninstallSystem {
 public:
  virtual ~UninstallSystem() = default;
  // endClient ends every running client; true when none runs afterwards.
  [[nodiscard]] virtual bool endClient() = 0;
  // removeService stops and deletes the service; true when it is gone.
  [[nodiscard]] virtual bool removeService() = 0;
  // deleteKey deletes a key below HKEY_LOCAL_MACHINE; true when it is gone.
  [[nodiscard]] virtual bool deleteKey(const std::string& key) = 0;
  virtual std::optional<std::string> profileFolder() = 0;
  virtual std::string environment(const std::string& name) = 0;
  // removeAtRestart has Windows remove path, with everything in it, at the next
  // restart; true when that is arranged.
  [[nodiscard]] virtual bool removeAtRestart(const std::string& path) = 0;
};

// isInside tells whether path is folder or lies below it (compared without
// regard to case, "\" and "/" alike, as Windows does).
bool isInside(const std::string& path, const std::string& folder);

// Uninstallation::run does every step, also after a failure, and returns what
// could not be removed (empty when everything is gone).
class Uninstallation {
 public:
  Uninstallation(FileSystem& fs, UninstallSystem& system) : fs_(fs), system_(system) {}
  std::vector<std::string> run();
  // atRestart lists what was in use and goes at the next restart.
  const std::vector<std::string>& atRestart() const { return atRestart_; }

 private:
  std::string configuredSyncFolder();
  void removeFile(const std::string& path);
  void removeTree(const std::string& path, const std::string& syncFolder);
  void leftInPlace(const std::string& path);

  FileSystem& fs_;
  UninstallSystem& system_;
  std::vector<std::string> left_;
  std::vector<std::string> atRestart_;
};

// reportText is the closing message for what was left in place and what goes
// at the next restart.
std::string reportText(const std::vector<std::string>& left, const std::vector<std::string>& atRestart = {});

}  // namespace kq::uninstall
