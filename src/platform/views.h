#pragma once
// Views are the ports to what the user sees: the status bar and the connect
// caption, the folder browser, message boxes and the Client Log window. The
// Win32 layer backs them with real windows; the headless client with a terminal
// line; tests with recorders.
#include <string>
#include <vector>

namespace kq {

class StatusView {
 public:
  virtual ~StatusView() = default;
  // setPanel sets status panel 0..6 (0 connection, 1 activity, 2 "MOD: ",
  // 3 "DEL: ", 4 "Files left: ", 5 "MB left: ", 6 "Not synchronised: ").
  virtual void setPanel(int index, const std::string& text) = 0;
  // setConnectCaption sets the caption of the Connect1 menu item.
  virtual void setConnectCaption(const std::string& caption) = 0;
};

class FolderView {
 public:
  virtual ~FolderView() = default;
  // showFolder shows folder in the folder browser (tree and file list).
  virtual void showFolder(const std::string& folder) = 0;
  // currentFolder is the folder the browser shows (no trailing backslash except at a root).
  virtual std::string currentFolder() = 0;
  // selectedFile is the first selected name of the file list, empty when none.
  virtual std::string selectedFile() = 0;
  // listedFiles are the names of the file list, in list order.
  virtual std::vector<std::string> listedFiles() = 0;
  // refreshFiles re-reads the file list from the disk.
  virtual void refreshFiles() = 0;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // information shows a modal message box captioned "Information" with an OK button.
  virtual void information(const std::string& text) = 0;
};

}  // namespace kq
