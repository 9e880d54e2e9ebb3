#include "ui/win32/exceptions_window.h"

#include "ui/win32/resource.h"
#include "ui/win32/text.h"

namespace kq::win {

void ExceptionsWindow::onInit() {
  setClientSize(207, 278);
  (void)loadLists();  // missing files keep the initial lists
}

void ExceptionsWindow::onShow() {
  centreOn(GetWindow(hwnd(), GW_OWNER));
  (void)loadLists();
}

void ExceptionsWindow::Exceptions1Click() {
  if (!loadLists()) log_.writeLog("Error on loading exceptions...", true);
  show();
}

std::string ExceptionsWindow::syncFolder() {
  try {
    if (fs_.isFile(record_.configFolder + "\\" + record_.configFileName))
      readConfig(record_, record_.configFolder, fields_, fs_);
  } catch (...) {
  }
  return syncFolderPath(record_);
}

bool ExceptionsWindow::loadLists() {
  bool loaded = filter_.load(syncFolder());
  showLists();
  return loaded;
}

void ExceptionsWindow::showLists() {
  filling_ = true;
  setText(item(IDC_MEMO1), joinLines(filter_.extensionExceptions));
  setText(item(IDC_MEMO2), joinLines(filter_.prefixExceptions));
  filling_ = false;
}

void ExceptionsWindow::BitBtn1Click() {
  try {
    readConfig(record_, record_.configFolder, fields_, fs_);
    (void)filter_.save(syncFolderPath(record_));
  } catch (...) {
    // Saving fails silently; the edits stay in force until the next load.
  }
  hide();
}

void ExceptionsWindow::onCommand(int id, int code) {
  if ((id == IDC_MEMO1 || id == IDC_MEMO2) && code == EN_CHANGE && !filling_) {
    auto lines = splitLines(toAnsi(windowText(item(id))));
    (id == IDC_MEMO1 ? filter_.extensionExceptions : filter_.prefixExceptions) = lines;
  } else if (id == IDC_BITBTN1) {
    BitBtn1Click();
  } else if (id == IDC_BITBTN2) {
    hide();
  }
}

}  // namespace kq::win
