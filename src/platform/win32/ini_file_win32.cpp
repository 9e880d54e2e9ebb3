#include "platform/win32/ini_file_win32.h"

#include <windows.h>

#include "platform/win32/ansi_text.h"

namespace kq {

std::optional<std::string> Win32IniFile::readText(const std::string& path, const std::string& section,
                                                  const std::string& key) {
  if (path.empty()) return std::nullopt;
  wchar_t buffer[512];
  DWORD n = GetPrivateProfileStringW(ansiToWide(section).c_str(), ansiToWide(key).c_str(), L"", buffer, 512,
                                     ansiToWide(path).c_str());
  if (n == 0) return std::nullopt;
  return wideToAnsi(std::wstring(buffer, n));
}

int Win32IniFile::readInt(const std::string& path, const std::string& section, const std::string& key,
                          int defaultValue) {
  if (path.empty()) return defaultValue;
  wchar_t buffer[512];
  DWORD n = GetPrivateProfileStringW(ansiToWide(section).c_str(), ansiToWide(key).c_str(), L"", buffer, 512,
                                     ansiToWide(path).c_str());
  if (n >= 511) return defaultValue;  // cut off: far too long for a number
  return parseIniInteger(wideToAnsi(std::wstring(buffer, n))).value_or(defaultValue);
}

bool Win32IniFile::writeInt(const std::string& path, const std::string& section, const std::string& key,
                            int value) {
  if (path.empty()) return false;
  return WritePrivateProfileStringW(ansiToWide(section).c_str(), ansiToWide(key).c_str(),
                                    std::to_wstring(value).c_str(), ansiToWide(path).c_str()) != 0;
}

}  // namespace kq
