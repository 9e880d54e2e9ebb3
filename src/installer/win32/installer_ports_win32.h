#pragma once
// The Win32 implementations of the installer's ports: shell and files,
// HKEY_LOCAL_MACHINE and message boxes.
#include <windows.h>

#include "installer/install_ports.h"

namespace kq::installer {

class Win32InstallerShell : public InstallerShell {
 public:
  explicit Win32InstallerShell(HWND owner = nullptr) : owner_(owner) {}
  void setOwner(HWND owner) { owner_ = owner; }
  std::string moduleFileName() override;
  std::optional<std::string> profileFolder() override;
  std::string environment(const std::string& name) override;
  bool copyFile(const std::string& from, const std::string& to) override;
  bool clearAttributes(const std::string& path) override;
  std::int32_t createShortcut(const std::string& target, const std::string& linkPath,
                              const std::string& description) override;
  void shellOpen(const std::string& file, const std::string& parameters) override;
  void sleep(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }

 private:
  HWND owner_;
};

// Win32Registry writes below HKEY_LOCAL_MACHINE; a key that cannot be created
// is reported on the standard output as "Error opening or creating key.".
class Win32Registry : public Registry {
 public:
  bool createKey(const std::string& key) override;
  bool setDword(const std::string& key, const std::string& name, std::uint32_t value) override;
  bool setString(const std::string& key, const std::string& name, const std::string& value) override;
};

class Win32InstallerMessages : public InstallerMessages {
 public:
  explicit Win32InstallerMessages(HWND owner = nullptr) : owner_(owner) {}
  void setOwner(HWND owner) { owner_ = owner; }
  void show(MessageKind kind, const std::string& text) override;
  bool ask(const std::string& text) override;

 private:
  HWND owner_;
};

}  // namespace kq::installer
