#include "ui/win32/config_window.h"

#include "ui/win32/resource.h"
#include "ui/win32/text.h"

namespace kq::win {

void ConfigWindow::onInit() {
  setClientSize(381, 307);
  if (fs_.isFile(record_.configFolder + "\\" + record_.configFileName)) {
    try {
      readConfig(record_, record_.configFolder, fields_, fs_);
    } catch (...) {
      // Creation goes on with the fields as they are.
    }
  }
  showFields();
}

void ConfigWindow::onShow() {
  centreOn(GetWindow(hwnd(), GW_OWNER));
  try {
    readConfig(record_, record_.configFolder, fields_, fs_);
  } catch (const std::exception& e) {
    errors_.reportError(e.what());
  }
  showFields();
}

void ConfigWindow::onCommand(int id, int) {
  if (id == IDC_BUTTON1) hide();
}

void ConfigWindow::showFields() {
  setText(item(IDC_EDIT1), fields_.host);
  setText(item(IDC_EDIT2), fields_.port);
  setText(item(IDC_EDIT3), fields_.protocol);
  setText(item(IDC_EDIT4), fields_.contract);
  setText(item(IDC_EDIT5), fields_.apiKey);
  setText(item(IDC_EDIT6), fields_.syncFolder);
}

}  // namespace kq::win
