#include "ui/win32/exceptions_window.h"

#include "ui/win32/resource.h"
#include "ui/win32/text.h"

namespace kq::win {

// onInit loads the saved lists of the configured sync folder (the configuration
// window, created before, has read it); missing files keep the initial lists.
void ExceptionsWindow::onInit() {
  setClientSize(207, 278);
  if (!fields_.syncFolder.empty()) (void)filter_.load(fields_.syncFolder);
  showLists();
}

void ExceptionsWindow::onShow() {
  centreOn(GetWindow(hwnd(), GW_OWNER));
  editor_.FormShow();
  showLists();
}

void ExceptionsWindow::Exceptions1Click() {
  editor_.Exceptions1Click();
  showLists();
  show();
}

void ExceptionsWindow::showLists() {
  filling_ = true;
  setText(item(IDC_MEMO1), joinLines(filter_.extensionExceptions));
  setText(item(IDC_MEMO2), joinLines(filter_.prefixExceptions));
  filling_ = false;
}

// takeMemo copies a memo's lines into its list of the filter.
void ExceptionsWindow::takeMemo(int id) {
  auto lines = splitLines(toAnsi(windowText(item(id))));
  (id == IDC_MEMO1 ? filter_.extensionExceptions : filter_.prefixExceptions) = lines;
}

void ExceptionsWindow::onCommand(int id, int code) {
  if ((id == IDC_MEMO1 || id == IDC_MEMO2) && code == EN_CHANGE && !filling_) {
    takeMemo(id);
  } else if (id == IDC_BITBTN1 || id == IDC_BITBTN2 || id == IDCANCEL) {
    // Text set without a change notification is taken over too.
    takeMemo(IDC_MEMO1);
    takeMemo(IDC_MEMO2);
    if (id == IDC_BITBTN1) {  // Save; Cancel keeps the edits in force
      const std::string failure = editor_.BitBtn1Click();
      if (!failure.empty()) {  // the window stays open with the edits
        MessageBoxW(hwnd(), toWide(failure).c_str(), L"Korvalinq Drive", MB_OK | MB_ICONERROR);
        return;
      }
    }
    hide();
  }
}

}  // namespace kq::win
