#include <cstdio>

#include "installer/win32/installer_ports_win32.h"
#include "platform/win32/ansi_text.h"

namespace kq::installer {

namespace {

// writeValue opens key below HKEY_LOCAL_MACHINE for writing, writes one value and closes it.
bool writeValue(const std::string& key, const std::string& name, DWORD type, const BYTE* data,
                DWORD size) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ansiToWide(key).c_str(), 0, KEY_WRITE, &handle) != ERROR_SUCCESS)
    return false;
  LONG result = RegSetValueExW(handle, ansiToWide(name).c_str(), 0, type, data, size);
  RegCloseKey(handle);
  return result == ERROR_SUCCESS;
}

}  // namespace

bool Win32Registry::createKey(const std::string& key) {
  HKEY handle = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, ansiToWide(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &handle, &disposition) != ERROR_SUCCESS) {
    std::printf("Error opening or creating key.\n");
    std::fflush(stdout);
    return false;
  }
  RegCloseKey(handle);
  return true;
}

bool Win32Registry::setDword(const std::string& key, const std::string& name, std::uint32_t value) {
  DWORD data = value;
  return writeValue(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

bool Win32Registry::setString(const std::string& key, const std::string& name, const std::string& value) {
  std::wstring data = ansiToWide(value);
  // The size is in bytes and counts the terminating null.
  auto size = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
  return writeValue(key, name, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), size);
}

}  // namespace kq::installer
