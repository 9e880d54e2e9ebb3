#pragma once
// "kqfilesync install": the first-run configuration on Linux. It takes the
// server host, contract number, API key and sync folder from the options
// --host, --contract, --key and --folder, or, given none of them, asks for the
// four on the terminal. It checks them as the installer does, creates the sync
// folder and writes "filesync.cfg" next to the executable.
#include <cstdio>
#include <string>
#include <vector>

namespace kq {

struct InstallStreams {
  std::FILE* in = stdin;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

// runInstall returns the exit code: 0 when installed, 1 for refused input or a
// failure (the message on err), 2 for unknown options.
int runInstall(const std::vector<std::string>& args, const std::string& exeNativePath,
               InstallStreams io = {});

// typedFolderToNative turns a folder as a user types it (~ for the home folder,
// relative to the working folder) into an absolute real path.
std::string typedFolderToNative(const std::string& typed);

}  // namespace kq
