#include "ui/headless/client_setup.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "cli/config_location.h"
#include "config/watcher_address.h"
#include "platform/codepage.h"
#include "platform/posix/clock_posix.h"
#include "platform/posix/local_path.h"
#include "protocol/connection.h"
#include "ui/headless/log_files.h"
#include "ui/headless/state_location.h"

namespace kq {

namespace {

// nativeText replaces the local path text of the file in a message by its real path.
std::string nativeText(std::string message, const std::string& local, const std::string& native) {
  for (auto at = message.find(local); at != std::string::npos; at = message.find(local, at + native.size()))
    message.replace(at, local.size(), native);
  return message;
}

// folderProblem is what keeps the sync folder from working, empty when nothing.
std::string folderProblem(const std::string& syncLocal, const std::string& native) {
  if (syncLocal.empty()) return "no sync folder (\"KQDir\")";
  auto mapped = localToNativePath(syncLocal);
  if (!native.empty() && mapped != native)
    return "the sync folder " + native + " has characters outside the code page " +
           std::to_string(activeCodePage().number());
  if (!mapped)
    return "the sync folder \"" + syncLocal + "\" is not a path on this machine: write it as a full path, such as "
           "/home/me/Sync";
  return {};
}

// fieldProblem is what keeps the read fields from working, empty when nothing.
std::string fieldProblem(const ConfigFields& fields, const std::string& syncLocal, const std::string& native) {
  if (fields.host.empty()) return "no server host (\"Host\")";
  try {
    (void)parsePort(fields.port);
  } catch (const ConfigError& e) {
    return std::string("bad server port (\"port\"): ") + e.what();
  }
  if (fields.contract.empty()) return "no contract number (\"contract\")";
  if (fields.apiKey.empty()) return "no API key (\"API-key\")";
  return folderProblem(syncLocal, native);
}

void logProblem(ConfigStore& config, const std::string& text) {
  LogFiles fs;
  SystemClock clock;
  LogView view;
  ConfigStore logConfig(fs, config.main);
  logConfig.acceptNativeFolders(nativeToLocalPath);
  logConfig.fields = config.fields;
  Logger(fs, clock, logConfig, view).writeLog(utf8ToLocal(text), true);  // the log takes local text
}

}  // namespace

ClientSetup loadClientSetup(const std::string& exeNativePath, const std::string& configFile) {
  ClientSetup setup;
  const std::string exeFolder = std::filesystem::path(exeNativePath).parent_path().string();
  std::optional<std::string> folder;
  std::string name = cli::kConfigFileName;
  if (!configFile.empty()) {
    std::error_code ec;
    auto given = std::filesystem::absolute(configFile, ec);
    if (ec || !std::filesystem::is_regular_file(given, ec)) {
      setup.problem = "no configuration: " + configFile + " is not a file";
      return setup;
    }
    folder = given.parent_path().string();
    name = given.filename().string();
  } else {
    folder = cli::findConfigFolder(exeFolder);
  }
  if (!folder) {
    setup.problem = "no configuration: neither " + cli::userConfigFolder() + "/filesync.cfg nor " + exeFolder +
                    "/filesync.cfg exists; run \"kqfilesync install\" first";
    return setup;
  }
  const std::string file = *folder + "/" + name;
  setup.app.configFileName = name;
  setup.app.exeLocalPath = nativeToLocalPath(exeNativePath);
  setup.app.configFolderLocal = nativeToLocalPath(*folder) + "\\";
  PosixFileSystem fs;
  ClientConfig record = makeClientConfig(setup.app.exeLocalPath);
  record.configFolder = setup.app.configFolderLocal;
  record.configFileName = name;
  ConfigStore config(fs, record);
  config.acceptNativeFolders(nativeToLocalPath);
  try {
    config.reload();
  } catch (const ConfigError& e) {
    std::string local = setup.app.configFolderLocal + "\\" + name;
    setup.problem = file + ": " + nativeText(e.what(), local, file);
    return setup;
  }
  std::string syncLocal = config.syncFolder();
  if (std::string problem = fieldProblem(config.fields, syncLocal, config.nativeFolder());
      !problem.empty()) {
    setup.problem = file + ": " + problem;
    if (localToNativePath(syncLocal)) logProblem(config, setup.problem);
    return setup;
  }
  setup.app.syncFolderNative = *localToNativePath(syncLocal);
  try {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    setup.app.watcher = watcherAddress(watcherSetting(bytes), std::getenv("XDG_RUNTIME_DIR"));
  } catch (const std::invalid_argument& e) {
    setup.problem = file + ": " + e.what();
    logProblem(config, setup.problem);
    return setup;
  }
  setup.app.server = {config.fields.host, config.fields.port, config.fields.contract, setup.app.syncFolderNative,
                      setup.app.watcher.text()};
  setup.app.state = stateFiles(*folder, setup.app.syncFolderNative);
  return setup;
}

}  // namespace kq
