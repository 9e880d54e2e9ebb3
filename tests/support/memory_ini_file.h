#pragma once
// MemoryIniFile is an IniFile held in memory. Values are kept as text, so a test
// can store one that is not a number. When given a FileSystem, a write fails
// unless the file's folder exists there, as with the profile functions.
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>

#include "platform/file_system.h"
#include "platform/ini_file.h"

namespace kq::test {

class MemoryIniFile : public IniFile {
 public:
  explicit MemoryIniFile(FileSystem* fs = nullptr) : fs_(fs) {}

  int readInt(const std::string& path, const std::string& section, const std::string& key,
              int defaultValue) override {
    ++reads;
    auto it = values.find({path, section, key});
    if (it == values.end() || it->second.empty()) return defaultValue;
    char* end = nullptr;
    long v = std::strtol(it->second.c_str(), &end, 10);
    return *end == '\0' ? static_cast<int>(v) : defaultValue;
  }

  std::optional<std::string> readText(const std::string& path, const std::string& section,
                                      const std::string& key) override {
    ++reads;
    auto it = values.find({path, section, key});
    if (it == values.end() || it->second.empty()) return std::nullopt;
    return it->second;
  }

  bool writeInt(const std::string& path, const std::string& section, const std::string& key,
                int value) override {
    ++writes;
    if (fs_ && !fs_->isFolder(path.substr(0, path.find_last_of("\\/") + 1))) return false;
    values[{path, section, key}] = std::to_string(value);
    return true;
  }

  // set stores raw text for a key.
  void set(const std::string& path, const std::string& section, const std::string& key,
           const std::string& text) {
    values[{path, section, key}] = text;
  }

  std::map<std::tuple<std::string, std::string, std::string>, std::string> values;
  int reads = 0, writes = 0;

 private:
  FileSystem* fs_;
};

}  // namespace kq::test
