#include "ui/win32/client_app.h"

#include <commctrl.h>
#include <shellapi.h>

#include <stdexcept>
#include <vector>

#include "config/config_store.h"
#include "engine/sync_engine.h"
#include "installer/installer.h"
#include "log/log.h"
#include "platform/win32/process_runner_win32.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/file_system_win32.h"
#include "platform/win32/ini_file_win32.h"
#include "tracking/exceptions_editor.h"
#include "ui/win32/config_window.h"
#include "ui/win32/exceptions_window.h"
#include "ui/win32/log_window.h"
#include "ui/win32/main_window.h"
#include "ui/win32/resource.h"
#include "ui/win32/settings_window.h"
#include "ui/win32/small_windows.h"
#include "ui/win32/startup_role.h"
#include "ui/win32/text.h"

namespace kq::win {
namespace {

// EngineEvents hands the main window's events to the synchronisation engine.
class EngineEvents : public ClientEvents {
 public:
  explicit EngineEvents(SyncEngine& engine) : e_(engine) {}
  void FilesyncSocketConnecting() override { e_.FilesyncSocketConnecting(); }
  void FilesyncSocketConnect() override { e_.FilesyncSocketConnect(); }
  void FilesyncSocketDisconnect() override { e_.FilesyncSocketDisconnect(); }
  void FilesyncSocketRead(std::string_view bytes) override { e_.FilesyncSocketRead(bytes); }
  void FilesyncSocketError(int code) override { e_.FilesyncSocketError(code); }
  void ReconnectTimer() override { e_.ReconnectTimer(); }
  void Connect1Click() override { e_.Connect1Click(); }
  void ClientSocket1Connect() override { e_.ClientSocket1Connect(); }
  void ClientSocket1Read(std::string_view bytes) override { e_.ClientSocket1Read(bytes); }
  void CheckChangesTimer() override { e_.CheckChangesTimer(); }
  void ItemA1Click() override { e_.ItemA1Click(); }
  void Synchronizeall1Click() override { e_.Synchronizeall1Click(); }
  void ItmeB1Click() override { e_.ItmeB1Click(); }
  bool reconnectEnabled() const override { return e_.reconnectEnabled(); }

 private:
  SyncEngine& e_;
};

std::string programFile() {
  std::wstring buffer(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(n);
  return toAnsi(buffer);
}

bool windowExists(const wchar_t* title) { return FindWindowW(nullptr, title) != nullptr; }

void showStartupError(const std::string& text) {
  MessageBoxW(nullptr, toWide(text).c_str(), kApplicationTitle, MB_OK | MB_ICONERROR);
}

// openSyncFolder is the folder action: Explorer on the configured sync folder,
// created first when it is missing.
void openSyncFolder(ClientConfig record, FileSystem& fs) {
  ConfigFields fields;
  readConfig(record, record.configFolder, fields, fs);
  const std::string folder = syncFolderPath(record);
  if (folder.empty()) throw ConfigError("No sync folder is configured");
  if (!fs.isFolder(folder) && !fs.createFolders(folder))
    throw std::runtime_error("Cannot create the folder " + folder);
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

void runClient(HINSTANCE instance, const std::string& exe) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_BAR_CLASSES |
                                                     ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);

  Win32FileSystem fs;
  SystemClock clock;
  Win32IniFile ini;
  Win32ProcessRunner processes(fs);
  ConfigStore config(fs, makeClientConfig(exe));
  LogView logView;
  Logger logger(fs, clock, config, logView);

  // The windows in their order: main window (its timers start with it),
  // configuration, Client Log, About, New directory, exceptions editor, Settings.
  MainWindow main(instance, config, logger);
  if (!main.create()) throw std::runtime_error("Cannot create the main window");
  SyncEngine engine(EnginePorts{main.serverLink(), main.watcherLink(), fs, clock, ini, main, main,
                                main, processes, config, logger, main});
  EngineEvents events(engine);
  main.attach(events);
  ExceptionsEditor editor(engine.exceptionFilter(), config, logger);
  engine.start();

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
  SettingsWindow settings(ini, config.fields);
  createWindow(settings, instance, IDD_SETTINGS, main.hwnd());
  main.setWindows({&configWindow, &logWindow, &about, &exceptions, &settings});

  // Nothing is shown: the client starts in the tray.
  runMessageLoop(main, {configWindow.hwnd(), logWindow.hwnd(), about.hwnd(), newDir.hwnd(),
                        exceptions.hwnd(), settings.hwnd()});
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
