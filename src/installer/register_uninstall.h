#pragma once
// registerUninstall writes the uninstall entry of the program and the service
// start time-out below HKEY_LOCAL_MACHINE, step by step; each step runs only
// when the previous one succeeded. Returns 1 when all succeeded, else 0.
#include <string>

#include "installer/install_ports.h"
#include "platform/file_system.h"

namespace kq::installer {

constexpr std::uint32_t kServicesPipeTimeoutMs = 180000;

int registerUninstall(Registry& registry, FileSystem& fs, const std::string& appData);

}  // namespace kq::installer
