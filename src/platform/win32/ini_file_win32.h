#pragma once
// Win32IniFile reads and writes INI files with the private-profile functions.
// Values are read as text and parsed with parseIniInteger, as an INI-file
// object's ReadInteger does. Paths must be full paths (a bare name would land
// in the Windows folder).
#include "platform/ini_file.h"

namespace kq {

class Win32IniFile : public IniFile {
 public:
  std::optional<std::string> readText(const std::string& path, const std::string& section,
                                      const std::string& key) override;
  int readInt(const std::string& path, const std::string& section, const std::string& key,
              int defaultValue) override;
  bool writeInt(const std::string& path, const std::string& section, const std::string& key,
                int value) override;
};

}  // namespace kq
