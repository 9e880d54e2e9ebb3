#pragma once
// Where the Linux client finds "filesync.cfg": beside the executable first (as
// the Windows client does), then in the user's configuration folder
// $XDG_CONFIG_HOME/kqfilesync ($HOME/.config/kqfilesync without it).
#include <optional>
#include <string>

namespace kq::cli {

inline constexpr const char* kConfigFileName = "filesync.cfg";

// userConfigFolder is $XDG_CONFIG_HOME/kqfilesync, or $HOME/.config/kqfilesync.
std::string userConfigFolder();

// findConfigFolder is the first of exeFolder and userConfigFolder() that holds
// filesync.cfg; nullopt when neither does.
std::optional<std::string> findConfigFolder(const std::string& exeFolder);

// executableFolder is the folder of the running executable (/proc/self/exe).
std::string executableFolder();

}  // namespace kq::cli
