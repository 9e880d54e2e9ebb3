// kqfilesync, the headless Linux client.
//
//   kqfilesync                  runs the client in the foreground (SIGINT or SIGTERM end it)
//   kqfilesync install ...      writes "filesync.cfg" (see install_command.h)
//   kqfilesync status [--json]  shows what the running client does (see status_file.h)
//
// The command is compared case-insensitively.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/arg_parser.h"
#include "platform/codepage.h"
#include "platform/posix/local_path.h"
#include "ui/headless/client_app.h"
#include "ui/headless/client_setup.h"
#include "ui/headless/folder_lock.h"
#include "ui/headless/install_command.h"
#include "ui/headless/program_folder.h"
#include "ui/headless/status_file.h"

namespace {

constexpr int kExitInUse = 75;
constexpr int kExitNotRunning = 3;

constexpr const char* kUsage =
    "Usage: kqfilesync [COMMAND] [OPTIONS]\n"
    "\n"
    "The Linux client of Korvalinq Drive: it keeps a local sync folder in step\n"
    "with the store on a sync server.\n"
    "\n"
    "Commands:\n"
    "  (none)              run the client in the foreground until SIGTERM or SIGINT;\n"
    "                      on a terminal one status line shows what it does\n"
    "  install [--user] [--force] --host HOST --contract NUMBER --key KEY --folder PATH\n"
    "                      check the values, create the sync folder and write\n"
    "                      filesync.cfg (mode 0600) beside the program, or with\n"
    "                      --user in $XDG_CONFIG_HOME/kqfilesync; --force replaces\n"
    "                      an earlier installation; without options it asks\n"
    "  status [--json]     show whether the client runs and is connected, the\n"
    "                      server, the sync folder, the last completed cycle, the\n"
    "                      queued changes, the failed items and the current transfer\n"
    "\n"
    "Options:\n"
    "  --help              show this text\n"
    "  --version           show the version and build\n"
    "\n"
    "Files:\n"
    "  filesync.cfg        beside the program first, then in\n"
    "                      $XDG_CONFIG_HOME/kqfilesync (default ~/.config/kqfilesync)\n"
    "  SYNC/_log/          the log Filesync.log, the state kqfilesync-status.json\n"
    "                      and the lock kqfilesync.lock (one client per folder)\n"
    "\n"
    "Exit status: 0 stopped by a signal (or command done), 1 failure, 2 bad command\n"
    "line, 3 status: the client is not running, 75 the sync folder is used by\n"
    "another kqfilesync, 77 the server rejected the contract or API key, 78 no\n"
    "usable configuration.\n";

kq::ClientApp* gApp = nullptr;

// useConfiguredCodePage applies KQFILESYNC_CODEPAGE (a Windows code page number,
// Windows-1252 when unset); false with a message when the number is unknown.
bool useConfiguredCodePage() {
  const char* text = std::getenv("KQFILESYNC_CODEPAGE");
  if (text == nullptr || *text == '\0') return true;
  char* end = nullptr;
  unsigned long number = std::strtoul(text, &end, 10);
  auto page = *end == '\0' && number > 0 && number < 65536 ? kq::makeCodePage(static_cast<unsigned>(number)) : nullptr;
  if (!page) {
    std::fprintf(stderr, "kqfilesync: unknown code page KQFILESYNC_CODEPAGE=%s\n", text);
    return false;
  }
  kq::setActiveCodePage(std::move(page));
  return true;
}

void onStopSignal(int) {
  if (gApp) gApp->requestStop();
}

int usageError(const std::string& message) {
  std::fprintf(stderr, "kqfilesync: %s\n\n%s", message.c_str(), kUsage);
  return kq::cli::kExitUsage;
}

int runClient(const std::string& exe) {
  auto setup = kq::loadClientSetup(exe);
  if (!setup.problem.empty()) {
    std::fprintf(stderr, "kqfilesync: %s\n", setup.problem.c_str());
    return kq::cli::kExitConfig;
  }
  kq::FolderLock lock;
  if (auto problem = lock.acquire(setup.app.syncFolderNative)) {
    std::fprintf(stderr, "kqfilesync: %s\n", problem->c_str());
    return kExitInUse;
  }
  std::signal(SIGPIPE, SIG_IGN);
  kq::ClientApp app(setup.app, isatty(STDOUT_FILENO) ? stdout : nullptr);
  gApp = &app;
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  int code = app.run();
  gApp = nullptr;
  return code;
}

int runStatus(const std::string& exe, bool json) {
  auto setup = kq::loadClientSetup(exe);
  if (!setup.problem.empty()) {
    std::fprintf(stderr, "kqfilesync: %s\n", setup.problem.c_str());
    return kq::cli::kExitConfig;
  }
  const std::string& folder = setup.app.syncFolderNative;
  bool running = kq::FolderLock::isHeld(folder);
  kq::ClientState state;
  state.server = setup.app.server.host + ":" + setup.app.server.port;
  state.contract = setup.app.server.contract;
  state.syncFolder = folder;
  if (FILE* in = std::fopen(kq::stateFilePath(folder).c_str(), "rb")) {
    std::string text;
    char buffer[4096];
    // The state is a few hundred bytes; a larger file is not the client's and is not read whole.
    constexpr std::size_t kStateMaxBytes = 1024 * 1024;
    bool over = false;
    for (std::size_t n; !over && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) {
      text.append(buffer, n);
      over = text.size() > kStateMaxBytes;
    }
    std::fclose(in);
    if (over) std::fprintf(stderr, "kqfilesync: %s is larger than %zu bytes; not read\n",
                           kq::stateFilePath(folder).c_str(), kStateMaxBytes);
    if (auto published = over ? std::nullopt : kq::stateFromJson(text)) state = *published;
  }
  std::fputs((json ? kq::statusJson(state, running) : kq::statusText(state, running)).c_str(), stdout);
  return running ? 0 : kExitNotRunning;
}

}  // namespace

int main(int argc, char** argv) {
  if (!useConfiguredCodePage()) return 2;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string command = args.empty() || args[0].rfind("-", 0) == 0 ? "" : args[0];
  std::transform(command.begin(), command.end(), command.begin(), [](unsigned char c) { return std::tolower(c); });
  std::string exe = kq::executablePath();
  if (command == "install") return kq::runInstall(std::vector<std::string>(args.begin() + 1, args.end()), exe);
  try {
    if (!command.empty()) args.erase(args.begin());
    std::vector<kq::cli::Option> options = {{"help", false, 'h'}, {"version", false}};
    if (command == "status") options.push_back({"json", false});
    auto parsed = kq::cli::parseArgs(args, options);
    if (parsed.has("help")) return std::fputs(kUsage, stdout), 0;
    if (parsed.has("version")) return std::printf("%s\n", kq::cli::versionText("kqfilesync").c_str()), 0;
    kq::cli::requireWordCount(parsed, 0);
    if (command == "status") return runStatus(exe, parsed.has("json"));
    if (!command.empty()) throw kq::cli::UsageError("unknown command " + command);
  } catch (const kq::cli::UsageError& e) {
    return usageError(e.what());
  }
  return runClient(exe);
}
