#include "ui/win32/settings_window.h"

#include "config/settings.h"
#include "ui/win32/resource.h"
#include "ui/win32/text.h"

namespace kq::win {
namespace {
constexpr char kSection[] = "Basic";
constexpr char kKey[] = "filedeletion";
constexpr int kRadios[] = {IDC_RADIOBUTTON1, IDC_RADIOBUTTON2, IDC_RADIOBUTTON3};
}  // namespace

int radioForPolicy(int value) { return value <= 0 ? 0 : value == 1 ? 1 : 2; }

int policyForRadios(bool radio2, bool radio3) { return radio2 ? 1 : radio3 ? 2 : 0; }

SettingsWindow::~SettingsWindow() {
  if (bold_) DeleteObject(bold_);
}

void SettingsWindow::onInit() {
  setClientSize(635, 187);
  auto base = reinterpret_cast<HFONT>(SendMessageW(hwnd(), WM_GETFONT, 0, 0));
  LOGFONTW font{};
  GetObjectW(base ? static_cast<HGDIOBJ>(base) : GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
  font.lfWeight = FW_BOLD;
  bold_ = CreateFontIndirectW(&font);
  for (int id : kRadios) SendMessageW(item(id), WM_SETFONT, reinterpret_cast<WPARAM>(bold_), FALSE);
  load();
}

void SettingsWindow::onShow() {
  centreOn(nullptr);
  load();
}

void SettingsWindow::load() {
  try {
    int selected = radioForPolicy(ini_.readInt(iniPath(), kSection, kKey, 0));
    CheckRadioButton(hwnd(), IDC_RADIOBUTTON1, IDC_RADIOBUTTON3, kRadios[selected]);
    CheckDlgButton(hwnd(), IDC_CHECKBOX_UNICODE, readUnicodeNames(ini_, iniPath()) ? BST_CHECKED : BST_UNCHECKED);
  } catch (...) {
  }
}

void SettingsWindow::Button1Click() {
  bool saved = false;
  try {
    int value = policyForRadios(IsDlgButtonChecked(hwnd(), IDC_RADIOBUTTON2) == BST_CHECKED,
                                IsDlgButtonChecked(hwnd(), IDC_RADIOBUTTON3) == BST_CHECKED);
    saved = ini_.writeInt(iniPath(), kSection, kKey, value);
    saved = writeUnicodeNames(ini_, iniPath(), IsDlgButtonChecked(hwnd(), IDC_CHECKBOX_UNICODE) == BST_CHECKED) &&
            saved;
  } catch (...) {
    saved = false;
  }
  if (!saved) {  // the window stays open with the choices
    const std::string text = "The settings cannot be saved to " + iniPath();
    if (log_) log_->writeLog(text, true);
    MessageBoxW(hwnd(), toWide(text).c_str(), L"Korvalinq Drive", MB_OK | MB_ICONERROR);
    return;
  }
  hide();
}

void SettingsWindow::onCommand(int id, int) {
  if (id == IDC_BUTTON1) Button1Click();
}

}  // namespace kq::win
