#pragma once
// ConfigStore holds the main window's ClientConfig record together with the
// configuration fields, and re-reads them from "filesync.cfg".
#include "config/client_config.h"
#include "config/settings.h"

namespace kq {

class ConfigStore {
 public:
  ConfigStore(FileSystem& fs, ClientConfig main) : fs_(fs), main(std::move(main)) {}

  // reload runs readConfig on the main record and the fields; throws ConfigError.
  // The file system then guards the sync folder: no link below it is followed.
  void reload() {
    readConfig(main, main.configFolder, fields, fs_);
    fs_.guardFolder(syncFolder());
  }
  // configFileExists tells whether "filesync.cfg" is in the program folder.
  bool configFileExists() { return fs_.isFile(main.configFolder + "\\" + main.configFileName); }
  // syncFolder is syncFolderPath of the main record.
  std::string syncFolder() { return syncFolderPath(main); }
  // settingsPath is the path of "Filesync.ini", built from the sync folder field.
  std::string settingsPath() const { return kq::settingsPath(fields); }

 private:
  FileSystem& fs_;

 public:
  ClientConfig main;
  ConfigFields fields;
};

}  // namespace kq
