#pragma once
// IniFile is the port for "Filesync.ini"-style settings files: integer values in
// named sections. A missing file, section or key, or a value that is not a
// number, reads as the default. Writing creates the file and the section and
// keeps every other key and section. The folder must exist.
#include <optional>
#include <string>
#include <string_view>

namespace kq {

// parseIniInteger reads a value as an INI-file object's ReadInteger does: the
// whole value (blanks and one pair of enclosing quotes already removed) must be
// an optional sign and decimal digits, or "$" / "0x" and hexadecimal digits, in
// the 32-bit range; anything else ("12abc", "", "1.5") is nullopt.
std::optional<int> parseIniInteger(std::string_view value);

class IniFile {
 public:
  virtual ~IniFile() = default;
  virtual int readInt(const std::string& path, const std::string& section,
                      const std::string& key, int defaultValue) = 0;
  [[nodiscard]] virtual bool writeInt(const std::string& path, const std::string& section,
                                      const std::string& key, int value) = 0;
  // readText reads a value as text; nullopt when the key is missing or empty.
  virtual std::optional<std::string> readText(const std::string& path, const std::string& section,
                                              const std::string& key) {
    (void)path, (void)section, (void)key;
    return std::nullopt;
  }
};

}  // namespace kq
