#include "ui/headless/install_command.h"

#include "config/watcher_address.h"

#include <arpa/inet.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "cli/arg_parser.h"
#include "cli/config_location.h"
#include "config/client_config.h"
#include "config/installer_fields.h"
#include "platform/codepage.h"
#include "platform/posix/local_path.h"
#include "ui/headless/private_files.h"

namespace kq {

namespace {

struct TypedValues {
  std::optional<std::string> host, contract, key, folder;  // UTF-8, as typed
};

std::string homeFolder() {
  const char* home = std::getenv("HOME");
  return home ? home : "";
}

// readLine reads one line without its line end; empty at the end of the input.
std::string readLine(std::FILE* in) {
  std::string line;
  for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in)) line.push_back(static_cast<char>(c));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string ask(const InstallStreams& io, const std::string& prompt) {
  std::fputs(prompt.c_str(), io.out);
  std::fflush(io.out);
  return readLine(io.in);
}

// askHidden asks without echoing the answer where the input is a terminal.
std::string askHidden(const InstallStreams& io, const std::string& prompt) {
  const int fd = ::fileno(io.in);
  termios saved{};
  if (::isatty(fd) != 1 || ::tcgetattr(fd, &saved) != 0) return ask(io, prompt);
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  ::tcsetattr(fd, TCSAFLUSH, &quiet);
  std::string answer = ask(io, prompt);
  ::tcsetattr(fd, TCSAFLUSH, &saved);
  std::fputs("\n", io.out);  // the line end the user typed was not shown
  return answer;
}

constexpr int kTries = 3;

// askChecked asks until an answer passes check (at most kTries times; the
// reason is shown after each refused one). nullopt when none did or the input ended.
template <class Ask, class Check>
std::optional<std::string> askChecked(const InstallStreams& io, Ask askOnce, Check check) {
  for (int i = 0; i < kTries; ++i) {
    if (std::feof(io.in)) return std::nullopt;
    std::string answer = askOnce();
    auto problem = check(answer);
    if (!problem) return answer;
    std::fprintf(io.err, "%s\n", problem->c_str());
  }
  return std::nullopt;
}

// askAll asks for the four values, checking each as it is given; an empty
// folder answer takes the proposed one. nullopt when an answer was never right.
std::optional<TypedValues> askAll(const InstallStreams& io) {
  TypedValues v;
  v.host = askChecked(io, [&] { return ask(io, "Server host: "); }, hostProblem);
  if (!v.host) return std::nullopt;
  v.contract = askChecked(io, [&] { return ask(io, "Contract number (4 digits): "); }, contractProblem);
  if (!v.contract) return std::nullopt;
  v.key = askChecked(io, [&] { return askHidden(io, "API key (24 letters and digits, not shown): "); },
                     [&](const std::string& key) -> std::optional<std::string> {
                       if (auto problem = apiKeyProblem(key)) return problem;
                       auto warning = apiKeyWarning(key);
                       if (!warning) return std::nullopt;
                       std::string shortWarning = warning->substr(0, warning->find("\n\n"));
                       std::string answer = ask(io, shortWarning + "\nGo on with this key? [y/N] ");
                       if (answer == "y" || answer == "Y" || answer == "yes") return std::nullopt;
                       return std::string("Type the key again.");
                     });
  if (!v.key) return std::nullopt;
  std::string proposed = homeFolder().empty() ? "" : homeFolder() + "/Korvalinq Drive";
  std::string folder = ask(io, "Sync folder [" + proposed + "]: ");
  v.folder = folder.empty() ? proposed : folder;
  return v;
}

const char* const kUsage =
    "usage: kqfilesync install [--user] [--force] [--watcher PORT|unix] --host HOST --contract NUMBER --key KEY "
    "--folder PATH\n";

int fail(const InstallStreams& io, const std::string& message) {
  std::fprintf(io.err, "%s\n", message.c_str());
  return 1;
}

bool isAddress(const std::string& host) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// isHostName: dot-separated labels of letters, digits and hyphens, 1-63
// characters each, not starting or ending with a hyphen; 253 at most in all.
bool isHostName(const std::string& host) {
  if (host.empty() || host.size() > 253) return false;
  std::size_t start = 0;
  while (start <= host.size()) {
    std::size_t end = host.find('.', start);
    if (end == std::string::npos) end = host.size();
    std::string label = host.substr(start, end - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    for (unsigned char c : label)
      if (!std::isalnum(c) && c != '-') return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

std::string typedFolderToNative(const std::string& typed) {
  std::string path = typed;
  if (path == "~" || path.rfind("~/", 0) == 0) path = homeFolder() + path.substr(1);
  std::string native = std::filesystem::absolute(path).lexically_normal().string();
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  return native;
}

std::optional<std::string> hostProblem(const std::string& host) {
  if (host.size() < 3) return std::string("Host name expected!");
  if (!isAddress(host) && !isHostName(host)) return "Host must be a host name or an address: " + host;
  return std::nullopt;
}

std::optional<std::string> contractProblem(const std::string& contract) {
  if (contract.empty() || contract.size() > 4 || contract.find_first_not_of("0123456789") != std::string::npos)
    return "Contract number must be 1 to 4 digits: " + contract;
  return std::nullopt;
}

std::optional<std::string> apiKeyProblem(const std::string& apiKey) {
  if (apiKey.empty()) return std::string("API key expected!");
  for (unsigned char c : apiKey)
    if (c <= 0x20 || c == 0x7f) return std::string("API key must not hold blanks or control characters");
  return std::nullopt;
}

std::optional<std::string> installValueProblem(const std::string& host, const std::string& contract,
                                               const std::string& apiKey) {
  if (contract.size() > 4 || contract.find_first_not_of("0123456789") != std::string::npos)
    return "Contract number must be 1 to 4 digits: " + contract;
  for (unsigned char c : apiKey)
    if (c <= 0x20 || c == 0x7f) return "API key must not hold blanks or control characters";
  if (!isAddress(host) && !isHostName(host)) return "Host must be a host name or an address: " + host;
  return std::nullopt;
}

std::optional<std::string> syncFolderProblem(const std::string& native) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(native, ec);
  if (ec) {
    // Name the part of the path that stands in the way when there is one.
    for (fs::path part = fs::path(native); !part.empty() && part != part.parent_path(); part = part.parent_path()) {
      std::error_code ignored;
      if (fs::exists(part, ignored) && !fs::is_directory(part, ignored))
        return "Cannot create the sync folder " + native + ": " + part.string() + " is not a folder";
    }
    return "Cannot create the sync folder " + native + ": " + ec.message();
  }
  if (!fs::is_directory(native, ec)) return "The sync folder " + native + " is not a folder";
  if (::access(native.c_str(), W_OK | X_OK) != 0)
    return "The sync folder " + native + " cannot be written: permission denied";
  return std::nullopt;
}

int runInstall(const std::vector<std::string>& args, const std::string& exeNativePath, InstallStreams io) {
  TypedValues typed;
  cli::ParsedArgs parsed;
  std::string watcher;
  try {
    parsed = cli::parseArgs(args, {{"host", true}, {"contract", true}, {"key", true}, {"folder", true},
                                   {"user", false}, {"force", false}, {"watcher", true}, {"help", false, 'h'}});
    cli::requireWordCount(parsed, 0);
    if (parsed.has("help")) return std::fputs(kUsage, io.out), 0;
    // Given some values, all four are needed: the rest are not asked for.
    if (!parsed.values.empty() && !(parsed.values.size() == 1 && parsed.value("watcher")))
      for (const char* name : {"host", "contract", "key", "folder"})
        if (!parsed.value(name)) throw cli::UsageError(std::string("--") + name + " is needed");
    try {
      watcher = parsed.value("watcher").value_or(std::to_string(WatcherAddress::kDefaultPort));
      (void)watcherAddress(watcher, "/run");  // the runtime folder is the running programs' own
    } catch (const std::invalid_argument& e) {
      throw cli::UsageError(std::string("--watcher: ") + e.what());
    }
  } catch (const cli::UsageError& e) {
    std::fprintf(io.err, "kqfilesync install: %s (try kqfilesync install --help)\n", e.what());
    return cli::kExitUsage;
  }
  const bool user = parsed.has("user"), force = parsed.has("force");
  const std::string configFolder =
      user ? cli::userConfigFolder() : std::filesystem::path(exeNativePath).parent_path().string();
  const std::string configFile = configFolder + "/" + cli::kConfigFileName;
  std::error_code ec;
  const bool replacing = std::filesystem::exists(configFile, ec);
  if (replacing && !force)
    return fail(io, "Korvalinq Drive is already installed: " + configFile + " exists; add --force to replace it");
  // Without values the four are asked for, after the check above: nothing is asked in vain.
  if (parsed.values.empty() || (parsed.values.size() == 1 && parsed.value("watcher"))) {
    auto asked = askAll(io);
    if (!asked) return fail(io, "Nothing was installed.");
    typed = *asked;
  } else {
    typed = {parsed.value("host"), parsed.value("contract"), parsed.value("key"), parsed.value("folder")};
  }

  InstallerInput input;
  input.host = utf8ToLocal(typed.host.value_or(""));
  input.contract = utf8ToLocal(typed.contract.value_or(""));
  input.apiKey = utf8ToLocal(typed.key.value_or(""));
  std::string folderNative;
  if (!typed.folder.value_or("").empty()) {
    folderNative = typedFolderToNative(*typed.folder);
    input.syncFolder = utf8ToLocal(folderNative);  // written as the native path the user knows
  }
  if (auto problem = installerInputProblem(input)) return fail(io, *problem);
  if (auto problem = installValueProblem(input.host, input.contract, input.apiKey)) return fail(io, *problem);
  // The configuration is ANSI text: the folder's name must fit the code page.
  if (!folderNative.empty() && !fromUtf8(activeCodePage(), folderNative))
    return fail(io, "The sync folder " + folderNative + " has characters outside the code page " +
                        std::to_string(activeCodePage().number()));

  if (auto problem = syncFolderProblem(folderNative)) return fail(io, *problem);
  std::filesystem::create_directories(configFolder, ec);
  if (ec) return fail(io, "Cannot create the configuration folder " + configFolder + ": " + ec.message());
  PrivateFileSystem fs;
  ClientConfig record = makeClientConfig(nativeToLocalPath(exeNativePath));
  record.configFolder = nativeToLocalPath(configFolder) + "\\";
  try {
    // The watcher address is the Linux programs' own setting, read by kqfilesync and zrservice.
    if (!fs.writeText(record.configFolder + "/" + record.configFileName,
                      withWatcherSetting(configText(installerFields(input)), watcher)))
      throw ConfigError("write failed");
  } catch (const ConfigError&) {
    return fail(io, "Cannot write " + configFile + ": " + (::access(configFolder.c_str(), W_OK) != 0
                                                               ? std::string("permission denied (try --user)")
                                                               : std::string("write failed")));
  }
  if (replacing) std::fprintf(io.out, "Replaced the earlier installation in %s.\n", configFile.c_str());
  std::fprintf(io.out, "That was it! Korvalinq Drive is now installed.\nSync folder: %s\nConfiguration: %s\n",
               folderNative.c_str(), configFile.c_str());
  std::fprintf(io.out, "Watcher: %s\n",
               watcher == "unix" ? "$XDG_RUNTIME_DIR/kqfilesync/zrservice.sock"
                                 : ("127.0.0.1:" + watcher).c_str());
  // The user's own configuration comes first: say so when it hides this one.
  const std::string userFile = cli::userConfigFolder() + "/" + cli::kConfigFileName;
  if (!user && std::filesystem::is_regular_file(userFile, ec))
    std::fprintf(io.out, "Note: %s comes first for you; kqfilesync and status use that one (or --config %s)\n",
                 userFile.c_str(), configFile.c_str());
  return 0;
}

}  // namespace kq
