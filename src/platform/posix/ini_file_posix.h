#pragma once
// PosixIniFile reads and writes INI files through a FileSystem, behaving as the
// Windows private-profile functions do (see ini_text.h); values are read as
// text and parsed with parseIniInteger.
#include "platform/file_system.h"
#include "platform/ini_file.h"

namespace kq {

class PosixIniFile : public IniFile {
 public:
  explicit PosixIniFile(FileSystem& fs) : fs_(fs) {}
  std::optional<std::string> readText(const std::string& path, const std::string& section,
                                      const std::string& key) override;
  int readInt(const std::string& path, const std::string& section, const std::string& key,
              int defaultValue) override;
  bool writeInt(const std::string& path, const std::string& section, const std::string& key,
                int value) override;

 private:
  FileSystem& fs_;
};

}  // namespace kq
