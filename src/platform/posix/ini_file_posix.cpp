#include "platform/posix/ini_file_posix.h"

#include "platform/ini_text.h"

namespace kq {

std::optional<std::string> PosixIniFile::readText(const std::string& path, const std::string& section,
                                                  const std::string& key) {
  auto text = fs_.readText(path);
  if (!text) return std::nullopt;
  auto value = iniLookup(*text, section, key);
  if (!value || value->empty()) return std::nullopt;
  return value;
}

int PosixIniFile::readInt(const std::string& path, const std::string& section, const std::string& key,
                          int defaultValue) {
  auto text = fs_.readText(path);
  if (!text) return defaultValue;
  auto value = iniLookup(*text, section, key);
  if (!value) return defaultValue;
  return parseIniInteger(*value).value_or(defaultValue);
}

bool PosixIniFile::writeInt(const std::string& path, const std::string& section, const std::string& key,
                            int value) {
  std::string text;
  if (fs_.exists(path)) {
    auto old = fs_.readText(path);
    if (!old) return false;  // never replace a file that could not be read
    text = std::move(*old);
  }
  return fs_.writeText(path, iniWithValue(text, section, key, std::to_string(value)));
}

}  // namespace kq
