#pragma once
// ConfigStore holds the main window's ClientConfig record together with the
// configuration fields, and re-reads them from "filesync.cfg".
#include <functional>

#include "config/client_config.h"
#include "config/settings.h"

namespace kq {

class ConfigStore {
 public:
  ConfigStore(FileSystem& fs, ClientConfig main) : fs_(fs), main(std::move(main)) {}

  // NativeFolders turns a native sync folder ("/home/me/Sync", UTF-8) into
  // local path text ("Z:\home\me\Sync").
  using NativeFolders = std::function<std::string(const std::string& native)>;

  // acceptNativeFolders lets "KQDir" be a native path (the Linux client's
  // form); without it the value is local path text, as on Windows.
  void acceptNativeFolders(NativeFolders toLocal) { nativeFolders_ = std::move(toLocal); }

  // reload runs readConfig on the main record and the fields; throws ConfigError.
  // The file system then guards the sync folder: no link below it is followed.
  void reload() {
    readConfig(main, main.configFolder, fields, fs_);
    nativeFolder_.clear();
    if (nativeFolders_) takeNativeFolder();
    fs_.guardFolder(syncFolder());
  }
  // nativeFolder is the native "KQDir" of the last reload, empty when it was local path text.
  const std::string& nativeFolder() const { return nativeFolder_; }
  // configFileExists tells whether "filesync.cfg" is in the program folder.
  bool configFileExists() { return fs_.isFile(main.configFolder + "\\" + main.configFileName); }
  // syncFolder is syncFolderPath of the main record.
  std::string syncFolder() { return syncFolderPath(main); }
  // settingsPath is the path of "Filesync.ini", built from the sync folder field.
  std::string settingsPath() const { return kq::settingsPath(fields); }

 private:
  // takeNativeFolder reads a native "KQDir" (decoded as UTF-8, which the
  // 7-bit reading of readConfig cannot) as the sync folder's local path text.
  void takeNativeFolder() {
    auto bytes = fs_.readText(main.configFolder + "\\" + main.configFileName);
    auto native = bytes ? nativeSyncFolder(*bytes) : std::nullopt;
    if (!native) return;
    nativeFolder_ = *native;
    fields.syncFolder = nativeFolders_(*native);
    main.syncFolderRaw = fields.syncFolder;
    main.syncFolderCollapsed = true;
  }

  FileSystem& fs_;
  NativeFolders nativeFolders_;
  std::string nativeFolder_;

 public:
  ClientConfig main;
  ConfigFields fields;
};

}  // namespace kq
