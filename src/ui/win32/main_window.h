#pragma once
// MainWindow (TForm1, "Korvalinq Drive Client") owns the client's components:
// both sockets, the four message timers and the tray icon. It routes their
// events and the menu commands to EngineEvents (the engine) and is the view the
// engine publishes to: status bar, Connect caption, folder browser, message boxes,
// and the status record (shown as the tray icon's tip).
#include <array>
#include <optional>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "config/config_store.h"
#include "log/log.h"
#include "platform/views.h"
#include "platform/win32/links_win32.h"
#include "engine/engine_events.h"
#include "engine/engine_status.h"
#include "engine/tray_status.h"
#include "ui/win32/folder_browser.h"
#include "platform/error_reporter.h"

namespace kq::win {

class ConfigWindow;
class LogWindow;
class AboutWindow;
class ExceptionsWindow;
class SettingsWindow;
class NotSyncedWindow;

inline constexpr wchar_t kMainCaption[] = L"Korvalinq Drive Client";
// kApplicationTitle captions the application's error boxes.
inline constexpr wchar_t kApplicationTitle[] = L"Korvalinq Drive";

// The windows the main menu opens.
struct OtherWindows {
  ConfigWindow* config = nullptr;
  LogWindow* log = nullptr;
  AboutWindow* about = nullptr;
  ExceptionsWindow* exceptions = nullptr;
  SettingsWindow* settings = nullptr;
  NotSyncedWindow* notSynced = nullptr;
};

// The main window's layout at 96 dpi: the default client area holds the seven
// status panels side by side; the window may grow, never shrink below it.
inline constexpr int kMainClientWidth = 930, kMainClientHeight = 578;
inline constexpr int kPanelWidths[7] = {150, 250, 100, 100, 100, 80, 150};

// lastSyncText is the local time "hh:mm" of a completed cycle, empty without one.
std::string lastSyncText(const std::optional<std::int64_t>& cycleEndedAt);
// trayTipText is the tray icon's tip: the product and the status in one line,
// at most 127 characters.
std::wstring trayTipText(const TrayView& view);

class MainWindow : public StatusView, public FolderView, public Dialogs,
                   public ErrorReporter, public EngineStatusPort {
 public:
  // Timer identifiers and intervals.
  enum TimerId : UINT_PTR { kReconnect = 1, kCheckChanges = 2, kErrorHandling = 3, kTimer1 = 4, kStatus = 5 };

  MainWindow(HINSTANCE instance, ConfigStore& config, Log& log);
  ~MainWindow() override;
  // create builds the hidden window with its controls, sockets, tray icon and timers.
  [[nodiscard]] bool create();
  void attach(EngineEvents& events) { events_ = &events; }
  void setWindows(const OtherWindows& windows) { windows_ = windows; }
  HWND hwnd() const { return hwnd_; }
  ServerLink& serverLink() { return *server_; }
  WatcherLink& watcherLink() { return *watcher_; }
  // translateAccelerator handles Alt+F1 for the main window.
  bool translateAccelerator(MSG& message);

  // StatusView
  void setPanel(int index, const std::string& text) override;
  void setConnectCaption(const std::string& caption) override;
  // FolderView; showFolder("") shows the sync folder.
  void showFolder(const std::string& folder) override;
  std::string currentFolder() override { return browser_.currentFolder(); }
  std::string selectedFile() override { return browser_.selectedFile(); }
  std::vector<std::string> listedFiles() override { return browser_.listedFiles(); }
  void refreshFiles() override { browser_.refreshFiles(); }
  // Dialogs: the box opens once the current event has been handled.
  void information(const std::string& text) override;
  // ErrorReporter: an error box once the current event has been handled; at
  // most one is open or waiting at any time (the log holds the record).
  void reportError(const std::string& text) override;
  // EngineStatusPort: the record sets the tray icon's state and tip, a balloon
  // for a problem new to the user, the transfer under way in the activity
  // panel and the list of names that are not synchronised.
  void publish(const EngineStatus& status) override;

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  void createControls();
  void addTrayIcon();
  void setTray(const TrayView& view);
  void showBalloon(const std::string& text);
  void showPanel(int index, const std::wstring& text);
  void layout(int width, int height);
  // route hands one event to the engine; afterwards the Reconnect timer follows
  // the state the engine wants. No exception leaves it.
  template <class F>
  void route(F&& call);
  void syncReconnectTimer();
  void onTimer(UINT_PTR id);
  void onCommand(int id);
  LRESULT onNotify(const NMHDR& header);
  void popupAt(POINT where);

  void FormShow();
  bool FormClose();
  void TrayIcon1Click();
  void Button1Click();
  void SpeedButton1Click();
  void Exit1Click();
  void ErrorWindowTimer();
  void showQueuedBoxes();

  HINSTANCE instance_;
  ConfigStore& config_;
  Log& log_;
  EngineEvents* events_ = nullptr;
  std::wstring trayTip_ = L"Korvalinq Drive";
  TrayState trayState_ = TrayState::Synchronised;
  Balloons balloons_;
  std::wstring activity_;  // the activity panel's text as the engine set it
  std::wstring progress_;  // the transfer under way, shown in its place
  std::wstring megabytesLeft_;  // the "MB left" panel as the engine set it (the server's figure)
  std::wstring movingLeft_;     // the client's own count while files move, shown in its place
  OtherWindows windows_;
  HWND hwnd_ = nullptr;
  HWND panel_ = nullptr, button1_ = nullptr, speedButton1_ = nullptr, image1_ = nullptr;
  HWND listView_ = nullptr, statusBar_ = nullptr;
  HWND trayTipText_ = nullptr;  // hidden: the tray tip as window text
  std::array<std::optional<std::wstring>, 7> panelTexts_;  // what each status panel shows
  FolderBrowser browser_;
  HWND tooltips_ = nullptr;
  HMENU menu_ = nullptr, popupMenu_ = nullptr;
  HACCEL accelerators_ = nullptr;
  HFONT boldFont_ = nullptr, treeFont_ = nullptr, listFont_ = nullptr;
  HICON appIcon_ = nullptr, smallIcon_ = nullptr, folderIcon_ = nullptr;
  HICON workingIcon_ = nullptr, attentionIcon_ = nullptr;
  std::unique_ptr<Win32ServerLink> server_;
  std::unique_ptr<Win32WatcherLink> watcher_;
  UINT taskbarCreated_ = 0;
  bool reconnectOn_ = true;
  bool exitRequested_ = false;
  bool terminating_ = false;
  bool errorBoxArmed_ = false;
  bool boxOpen_ = false;
  std::vector<std::pair<bool, std::string>> queuedBoxes_;  // (error?, text)
};

}  // namespace kq::win
