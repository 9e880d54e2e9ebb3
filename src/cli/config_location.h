#pragma once
// Where the Linux programs find "filesync.cfg": in the user's configuration
// folder $XDG_CONFIG_HOME/kqfilesync ($HOME/.config/kqfilesync without it)
// first, so that a user's own configuration wins, then beside the executable
// (where a system-wide installation puts it). --config FILE comes before both.
#include <optional>
#include <string>

namespace kq::cli {

inline constexpr const char* kConfigFileName = "filesync.cfg";

// userConfigFolder is $XDG_CONFIG_HOME/kqfilesync, or $HOME/.config/kqfilesync.
std::string userConfigFolder();

// findConfigFolder is the first of userConfigFolder() and exeFolder that holds
// filesync.cfg; nullopt when neither does.
std::optional<std::string> findConfigFolder(const std::string& exeFolder);

// executableFolder is the folder of the running executable (/proc/self/exe).
std::string executableFolder();

}  // namespace kq::cli
