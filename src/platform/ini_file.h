#pragma once
// IniFile is the port for "Filesync.ini"-style settings files: integer values in
// named sections. A missing file, section or key, or a value that is not a
// number, reads as the default. Writing creates the file and the section and
// keeps every other key and section. The folder must exist.
#include <string>

namespace kq {

class IniFile {
 public:
  virtual ~IniFile() = default;
  virtual int readInt(const std::string& path, const std::string& section,
                      const std::string& key, int defaultValue) = 0;
  [[nodiscard]] virtual bool writeInt(const std::string& path, const std::string& section,
                                      const std::string& key, int value) = 0;
};

}  // namespace kq
