// kqfilesync, the headless Linux client.
//
//   kqfilesync            runs the client in the foreground when "filesync.cfg"
//                         is next to the executable (SIGINT or SIGTERM end it)
//   kqfilesync install    writes "filesync.cfg" (see install_command.h)
//
// The first argument is compared case-insensitively. With "filesync.cfg"
// present the client starts whatever the argument, as on Windows.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/posix/local_path.h"
#include "ui/headless/client_app.h"
#include "ui/headless/install_command.h"
#include "ui/headless/program_folder.h"

namespace {

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

int runClient(const std::string& exe) {
  std::signal(SIGPIPE, SIG_IGN);
  kq::ClientApp app(kq::nativeToLocalPath(exe), isatty(STDOUT_FILENO) ? stdout : nullptr);
  gApp = &app;
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  app.run();
  gApp = nullptr;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!useConfiguredCodePage()) return 2;
  std::string exe = kq::executablePath();
  std::filesystem::path folder = std::filesystem::path(exe).parent_path();
  std::string first = argc > 1 ? argv[1] : "";
  std::transform(first.begin(), first.end(), first.begin(), [](unsigned char c) { return std::tolower(c); });

  if (std::filesystem::is_regular_file(folder / "filesync.cfg")) return runClient(exe);
  if (first == "install") return kq::runInstall(std::vector<std::string>(argv + 2, argv + argc), exe);
  std::fprintf(stderr, "kqfilesync: no filesync.cfg in %s; run \"kqfilesync install\" first\n",
               folder.c_str());
  return 1;
}
