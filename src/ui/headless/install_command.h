#pragma once
// "kqfilesync install": the first-run configuration on Linux. It takes the
// server host, contract number, API key and sync folder from the options
// --host, --contract, --key and --folder, or, given none of them, asks for the
// four on the terminal. It checks them, creates the sync folder and writes
// "filesync.cfg" (mode 0600) next to the executable, or with --user in the
// user's configuration folder. An existing installation is only replaced with
// --force.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace kq {

struct InstallStreams {
  std::FILE* in = stdin;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

// runInstall returns the exit code: 0 when installed, 1 for refused input or a
// failure (the message on err), 2 for a command line that cannot be run.
int runInstall(const std::vector<std::string>& args, const std::string& exeNativePath,
               InstallStreams io = {});

// typedFolderToNative turns a folder as a user types it (~ for the home folder,
// relative to the working folder) into an absolute real path.
std::string typedFolderToNative(const std::string& typed);

// installValueProblem is the reason a value can never work, checked after the
// installer's own checks: the contract must be 1 to 4 digits (the port is "2"
// + contract), the API key must hold no blanks or control characters, the host
// must be a host name or an address. nullopt when all can work.
std::optional<std::string> installValueProblem(const std::string& host, const std::string& contract,
                                               const std::string& apiKey);

// hostProblem, contractProblem and apiKeyProblem check one answer as it is
// given: a host name or an address of 3 characters or more; 1 to 4 digits
// (the port is "2" + contract); a key without blanks or control characters.
std::optional<std::string> hostProblem(const std::string& host);
std::optional<std::string> contractProblem(const std::string& contract);
std::optional<std::string> apiKeyProblem(const std::string& apiKey);

// syncFolderProblem is the reason the sync folder cannot be used after trying
// to create it (nullopt: it exists now and can be written).
std::optional<std::string> syncFolderProblem(const std::string& native);

}  // namespace kq
