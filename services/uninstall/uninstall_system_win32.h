#pragma once
// Win32UninstallSystem ends the client, removes the service through the
// service control manager and deletes registry keys below HKEY_LOCAL_MACHINE.
#include "uninstall/uninstall_steps.h"

namespace kq::uninstall {

class Win32UninstallSystem : public UninstallSystem {
 public:
  bool endClient() override;
  bool removeService() override;
  bool deleteKey(const std::string& key) override;
  std::optional<std::string> profileFolder() override;
  std::string environment(const std::string& name) override;
  bool removeAtRestart(const std::string& path) override;
};

}  // namespace kq::uninstall
