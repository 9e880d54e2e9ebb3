#pragma once
// SyncFolderGuard is the file system the server-request handlers act through:
// it passes every call on, except that it never creates the sync folder
// itself. While the sync folder is missing (moved away, deleted, its disk
// unplugged) no folder is created inside it, so nothing the server orders in
// that moment makes an empty sync folder appear in its place.
#include <functional>
#include <string>

#include "platform/file_system.h"

namespace kq {

class SyncFolderGuard : public FileSystem {
 public:
  SyncFolderGuard(FileSystem& inner, std::function<std::string()> syncFolder)
      : inner_(inner), syncFolder_(std::move(syncFolder)) {}

  FileStatus status(const std::string& path) override { return inner_.status(path); }
  [[nodiscard]] bool createFolders(const std::string& path) override;
  [[nodiscard]] bool remove(const std::string& path) override { return inner_.remove(path); }
  [[nodiscard]] bool removeAll(const std::string& path) override { return inner_.removeAll(path); }
  [[nodiscard]] bool rename(const std::string& from, const std::string& to) override {
    return inner_.rename(from, to);
  }
  [[nodiscard]] bool setAttributes(const std::string& path, bool hidden, bool system) override {
    return inner_.setAttributes(path, hidden, system);
  }
  std::pair<bool, bool> attributes(const std::string& path) override { return inner_.attributes(path); }
  std::unique_ptr<InputStream> openRead(const std::string& path) override { return inner_.openRead(path); }
  std::unique_ptr<OutputStream> openAppend(const std::string& path) override { return inner_.openAppend(path); }
  std::unique_ptr<OutputStream> openWrite(const std::string& path) override { return inner_.openWrite(path); }
  std::optional<std::string> readText(const std::string& path) override { return inner_.readText(path); }
  [[nodiscard]] bool writeText(const std::string& path, const std::string& content) override {
    return inner_.writeText(path, content);
  }
  [[nodiscard]] bool appendText(const std::string& path, const std::string& content) override {
    return inner_.appendText(path, content);
  }
  bool walk(const std::string& folder, const std::function<bool(const WalkEntry&)>& visit) override {
    return inner_.walk(folder, visit);
  }

 private:
  FileSystem& inner_;
  std::function<std::string()> syncFolder_;
};

}  // namespace kq
