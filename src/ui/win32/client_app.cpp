#include "ui/win32/client_app.h"

#include <commctrl.h>
#include <shellapi.h>

#include <stdexcept>
#include <vector>

#include "config/config_store.h"
#include "config/settings.h"
#include "engine/engine_events.h"
#include "engine/sync_engine.h"
#include "installer/installer.h"
#include "log/log.h"
#include "platform/codepage.h"
#include "platform/win32/process_runner_win32.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/file_system_win32.h"
#include "platform/win32/ini_file_win32.h"
#include "tracking/exceptions_editor.h"
#include "ui/win32/config_window.h"
#include "ui/win32/exceptions_window.h"
#include "ui/win32/log_window.h"
#include "ui/win32/main_window.h"
#include "ui/win32/not_synced_window.h"
#include "ui/win32/resource.h"
#include "ui/win32/settings_window.h"
#include "ui/win32/small_windows.h"
#include "ui/win32/startup_role.h"
#include "ui/win32/text.h"

namespace kq::win {
namespace {

std::string programFile() {
  std::wstring buffer(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(n);
  return toAnsi(buffer);
}

// kNotSetUpText is the box of a start without "filesync.cfg" and without "install".
constexpr wchar_t kNotSetUpText[] =
    L"Korvalinq Drive is not set up on this computer yet: there is no filesync.cfg beside "
    L"KQFilesyncClient.exe.\n\nRun the set-up now?\n\n(Later: start \"KQFilesyncClient.exe install\".)";

bool windowExists(const wchar_t* title) { return FindWindowW(nullptr, title) != nullptr; }

void showStartupError(const std::string& text) {
  MessageBoxW(nullptr, toWide(text).c_str(), kApplicationTitle, MB_OK | MB_ICONERROR);
}

// openSyncFolder is the folder action: Explorer on the configured sync folder.
// A missing folder is not created: empty, it would read as every file deleted.
void openSyncFolder(ClientConfig record, FileSystem& fs) {
  ConfigFields fields;
  readConfig(record, record.configFolder, fields, fs);
  const std::string folder = syncFolderPath(record);
  if (folder.empty()) throw ConfigError("No sync folder is configured");
  if (!fs.isFolder(folder)) throw std::runtime_error("Sync folder not found: " + folder);
  ShellExecuteW(nullptr, L"open", L"EXPLORER.EXE", toWide(folder).c_str(), nullptr, SW_SHOWDEFAULT);
}

template <class Window>
void createWindow(Window& window, HINSTANCE instance, int templateId, HWND owner) {
  if (!window.create(instance, templateId, owner))
    throw std::runtime_error("Cannot create window " + std::to_string(templateId));
}

void runMessageLoop(MainWindow& main, const std::vector<HWND>& dialogs) {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (main.translateAccelerator(message)) continue;
    HWND root = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    bool handled = false;
    for (HWND dialog : dialogs)
      if (root == dialog) handled = IsDialogMessageW(dialog, &message) != FALSE;
    if (handled) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// useUnicodeNamesWhenSet makes local text UTF-8 when "UnicodeNames" is 1 in the
// settings of the configured sync folder; without a readable configuration the
// system code page stays.
void useUnicodeNamesWhenSet(const std::string& exe, FileSystem& fs, IniFile& systemIni) {
  struct Unlogged : Log {  // the log starts later; its own read of the settings says it
    void writeLog(const std::string&, bool) override {}
  } unlogged;
  BoundedIniFile ini(systemIni, fs, unlogged);
  try {
    ClientConfig record = makeClientConfig(exe);
    ConfigFields fields;
    readConfig(record, record.configFolder, fields, fs);
    if (readUnicodeNames(ini, settingsPath(fields))) setActiveCodePage(makeUnicodeNames(makeCodePage(GetACP())));
  } catch (const std::exception&) {
  }
}

void runClient(HINSTANCE instance, const std::string& programPath) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_BAR_CLASSES |
                                                     ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);

  Win32FileSystem fs;
  SystemClock clock;
  Win32IniFile ini;
  useUnicodeNamesWhenSet(programPath, fs, ini);
  const std::string exe = programFile();  // in the local text now in use
  Win32ProcessRunner processes(fs);
  ConfigStore config(fs, makeClientConfig(exe));
  LogView logView;
  Logger logger(fs, clock, config, logView);
  BoundedIniFile settingsIni(ini, fs, logger);  // "Filesync.ini", never read whole when oversized
  try {  // "LogLevel" = trace: the protocol trace goes to the file as well
    config.reload();
    logger.setFileTrace(readLogTrace(settingsIni, config.settingsPath()));
  } catch (const std::exception&) {
  }

  // The windows in their order: main window (its timers start with it),
  // configuration, Client Log, About, New directory, exceptions editor, Settings.
  MainWindow main(instance, config, logger);
  if (!main.create()) throw std::runtime_error("Cannot create the main window");
  SyncEngine engine(EnginePorts{main.serverLink(), main.watcherLink(), fs, clock, ini, main, main,
                                main, processes, config, logger, main, main});
  EngineEvents events(engine, logger);
  main.attach(events);
  ExceptionsEditor editor(engine.exceptionFilter(), config, logger);

  ConfigWindow configWindow(makeClientConfig(exe), config.fields, fs, main);
  createWindow(configWindow, instance, IDD_CONFIGURATION, main.hwnd());
  LogWindow logWindow(logView);
  createWindow(logWindow, instance, IDD_CLIENTLOG, main.hwnd());
  AboutWindow about;
  createWindow(about, instance, IDD_ABOUT, main.hwnd());
  NewDirWindow newDir;
  createWindow(newDir, instance, IDD_NEWDIR, main.hwnd());
  ExceptionsWindow exceptions(engine.exceptionFilter(), editor, config.fields);
  createWindow(exceptions, instance, IDD_EXCEPTIONS, main.hwnd());
  SettingsWindow settings(settingsIni, config.fields, logger);
  createWindow(settings, instance, IDD_SETTINGS, main.hwnd());
  NotSyncedWindow notSynced;
  createWindow(notSynced, instance, IDD_NOTSYNCED, main.hwnd());
  main.setWindows({&configWindow, &logWindow, &about, &exceptions, &settings, &notSynced});
  // The engine starts on the configuration as read now (a missing one is reported at the first connect).
  try {
    if (config.configFileExists()) config.reload();
  } catch (const std::exception&) {
  }
  events.guard("start", [&] { engine.start(); });

  // Nothing is shown: the client starts in the tray.
  runMessageLoop(main, {configWindow.hwnd(), logWindow.hwnd(), about.hwnd(), newDir.hwnd(),
                        exceptions.hwnd(), settings.hwnd(), notSynced.hwnd()});
  events.guard("stop", [&] { engine.stop(); });
}

}  // namespace

int runStartup(HINSTANCE instance, const std::wstring& argument) {
  try {
    const std::string exe = programFile();
    Win32FileSystem fs;
    ClientConfig record = makeClientConfig(exe);
    StartupFacts facts;
    facts.clientRunning = windowExists(kMainCaption);
    facts.configExists = fs.isFile(record.exeFolder + "\\" + record.configFileName);
    facts.installerRunning = windowExists(kInstallerCaption);
    facts.argument = argument;
    switch (decideRole(facts)) {
      case Role::FolderAction:
        openSyncFolder(record, fs);
        break;
      case Role::Client:
        runClient(instance, exe);
        break;
      case Role::InstallerAlreadyRunning:
        MessageBoxW(nullptr, L"Korvalinq Drive installation already running!", L"Information",
                    MB_OK | MB_ICONEXCLAMATION);
        break;
      case Role::Installer:
        runInstaller(instance);
        break;
      case Role::NotSetUp:
        if (MessageBoxW(nullptr, kNotSetUpText, kApplicationTitle, MB_YESNO | MB_ICONQUESTION) == IDYES)
          runInstaller(instance);
        break;
      case Role::Nothing:
        break;
    }
  } catch (const std::exception& e) {
    showStartupError(e.what());
  } catch (...) {
    showStartupError("Unexpected error");
  }
  return 0;
}

}  // namespace kq::win
