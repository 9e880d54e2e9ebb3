// kqfilesync, the headless Linux client.
//
//   kqfilesync                  runs the client in the foreground (SIGINT or SIGTERM end it)
//   kqfilesync install ...      writes "filesync.cfg" (see install_command.h)
//   kqfilesync status [--json] [--failed]  shows what the running client does (see status_file.h)
//   kqfilesync failed [--json]  lists the items the client could not synchronise
//
// The command is compared case-insensitively.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
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
#include "platform/posix/owner_lock.h"
#include "ui/headless/program_folder.h"
#include "ui/headless/state_location.h"
#include "ui/headless/status_file.h"

namespace {

constexpr int kExitInUse = kq::ClientApp::kExitInUse;
constexpr int kExitNotRunning = 3;

constexpr const char* kUsage =
    "Usage: kqfilesync [COMMAND] [OPTIONS]\n"
    "\n"
    "The Linux client of Korvalinq Drive: it keeps a local sync folder in step\n"
    "with the store on a sync server.\n"
    "\n"
    "Commands:\n"
    "  (none) [--quiet | --verbose]\n"
    "                      run the client in the foreground until SIGTERM or SIGINT;\n"
    "                      on a terminal one status line shows what it does; each\n"
    "                      change of state (connected, disconnected, sync folder\n"
    "                      missing or back, watcher missing or back, an item that\n"
    "                      cannot be synchronised) is one line on stderr; --quiet\n"
    "                      keeps only the reasons the client stops, --verbose adds\n"
    "                      each completed cycle\n"
    "  install [--user] [--force] [--watcher PORT|unix] --host HOST --contract NUMBER\n"
    "          --key KEY --folder PATH\n"
    "                      check the values, create the sync folder and write\n"
    "                      filesync.cfg (mode 0600) beside the program, or with\n"
    "                      --user in $XDG_CONFIG_HOME/kqfilesync; --force replaces\n"
    "                      an earlier installation; --watcher sets where zrservice\n"
    "                      and the client meet (a port on 127.0.0.1, default 11111,\n"
    "                      or unix: a socket in $XDG_RUNTIME_DIR); without options\n"
    "                      it asks\n"
    "  status [--json] [--failed]\n"
    "                      show whether the client runs and is connected, the\n"
    "                      server, the sync folder and its lock, the watcher, the\n"
    "                      last completed cycle, the queued changes, the failed\n"
    "                      items, the current transfers and the last error;\n"
    "                      --failed lists only the failed items\n"
    "  failed [--json]     list the items that could not be synchronised, each\n"
    "                      with its reason\n"
    "\n"
    "Options:\n"
    "  -c, --config FILE   the configuration to use (running, status, failed)\n"
    "  -h, --help          show this text\n"
    "  -V, --version       show the version and build\n"
    "\n"
    "Files:\n"
    "  filesync.cfg        --config FILE, else in $XDG_CONFIG_HOME/kqfilesync\n"
    "                      (default ~/.config/kqfilesync), else beside the program\n"
    "  $XDG_STATE_HOME/kqfilesync/  (default ~/.local/state/kqfilesync) the state\n"
    "                      that status reads, one file per sync folder\n"
    "  SYNC/_log/          the log Filesync.log and the lock kqfilesync.lock\n"
    "                      (one client per folder)\n"
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
  std::fprintf(stderr, "kqfilesync: %s (try --help)\n", message.c_str());
  return kq::cli::kExitUsage;
}

std::string selfProgram() {
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("kqfilesync");
}

// holdRunLock takes the lock that tells status the client runs, for the whole
// run (also while the sync folder is missing). nullopt when held, or when the
// state folder cannot be made (status then cannot tell; the client still runs).
std::optional<std::string> holdRunLock(kq::OwnerLock& lock, const kq::ClientApp::Setup& app) {
  const std::string folder = app.state.lock.substr(0, app.state.lock.rfind('/'));
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  auto outcome = lock.acquire(app.state.lock, std::to_string(::getpid()) + "\n" + selfProgram() + "\n");
  if (outcome == kq::OwnerLock::Outcome::Busy) return kq::usedByAnother(app.syncFolderNative, lock.detail());
  if (outcome == kq::OwnerLock::Outcome::Failed)
    std::fprintf(stderr, "kqfilesync: cannot write the state in %s: %s; status will not see this client\n",
                 folder.c_str(), lock.detail().c_str());
  return std::nullopt;
}

int runClient(const std::string& exe, const std::string& config, kq::ClientNotices::Verbosity verbosity) {
  auto setup = kq::loadClientSetup(exe, config);
  if (!setup.problem.empty()) {
    std::fprintf(stderr, "kqfilesync: %s\n", setup.problem.c_str());
    return kq::cli::kExitConfig;
  }
  setup.app.verbosity = verbosity;
  kq::OwnerLock runLock;
  kq::FolderLock folderLock(setup.app.syncFolderNative);
  // A folder that is there now is locked before the engine looks at it; a
  // missing one is locked when it comes back.
  for (auto problem : {holdRunLock(runLock, setup.app), folderLock.acquire()}) {
    if (!problem) continue;
    std::fprintf(stderr, "kqfilesync: %s\n", problem->c_str());
    return kExitInUse;
  }
  std::signal(SIGPIPE, SIG_IGN);
  kq::ClientApp app(setup.app, isatty(STDOUT_FILENO) ? stdout : nullptr, folderLock);
  gApp = &app;
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  int code = app.run();
  gApp = nullptr;
  return code;
}

enum class StatusView { Full, Failed };

int runStatus(const std::string& exe, const std::string& config, bool json, StatusView view) {
  auto setup = kq::loadClientSetup(exe, config);
  if (!setup.problem.empty()) {
    std::fprintf(stderr, "kqfilesync: %s\n", setup.problem.c_str());
    return kq::cli::kExitConfig;
  }
  const std::string& folder = setup.app.syncFolderNative;
  bool running = kq::OwnerLock::isHeld(setup.app.state.lock) || kq::FolderLock::isHeld(folder);
  kq::ClientState state;
  state.server = setup.app.server.host + ":" + setup.app.server.port;
  state.contract = setup.app.server.contract;
  state.syncFolder = folder;
  if (FILE* in = std::fopen(setup.app.state.status.c_str(), "rb")) {
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
                           setup.app.state.status.c_str(), kStateMaxBytes);
    if (auto published = over ? std::nullopt : kq::stateFromJson(text)) state = *published;
  }
  std::string text;
  if (view == StatusView::Failed) text = json ? kq::failedListJson(state) : kq::failedText(state);
  else text = json ? kq::statusJson(state, running) : kq::statusText(state, running);
  std::fputs(text.c_str(), stdout);
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
  auto verbosity = kq::ClientNotices::Verbosity::Normal;
  std::string config;
  try {
    if (!command.empty()) args.erase(args.begin());
    std::vector<kq::cli::Option> options = {{"help", false, 'h'}, {"version", false, 'V'}, {"config", true, 'c'}};
    if (command == "status") options.push_back({"failed", false});
    if (command == "status" || command == "failed") options.push_back({"json", false});
    if (command.empty()) options.insert(options.end(), {{"quiet", false, 'q'}, {"verbose", false, 'v'}});
    auto parsed = kq::cli::parseArgs(args, options);
    if (parsed.has("help")) return std::fputs(kUsage, stdout), 0;
    if (parsed.has("version")) return std::printf("%s\n", kq::cli::versionText("kqfilesync").c_str()), 0;
    kq::cli::requireWordCount(parsed, 0);
    config = parsed.value("config").value_or("");
    if (parsed.has("config") && config.empty()) throw kq::cli::UsageError("--config needs a file");
    if (command == "status")
      return runStatus(exe, config, parsed.has("json"), parsed.has("failed") ? StatusView::Failed : StatusView::Full);
    if (command == "failed") return runStatus(exe, config, parsed.has("json"), StatusView::Failed);
    if (!command.empty()) throw kq::cli::UsageError("unknown command " + command);
    if (parsed.has("quiet") && parsed.has("verbose")) throw kq::cli::UsageError("--quiet or --verbose, not both");
    if (parsed.has("quiet")) verbosity = kq::ClientNotices::Verbosity::Quiet;
    if (parsed.has("verbose")) verbosity = kq::ClientNotices::Verbosity::Verbose;
  } catch (const kq::cli::UsageError& e) {
    return usageError(e.what());
  }
  return runClient(exe, config, verbosity);
}
