#pragma once
// The child-window identifiers of the installer window (TForm4). Tools that
// drive the window (the system test's UI driver) use them with GetDlgItem.
namespace kq::installer {

enum InstallerControlId : int {
  kLogoId = 4001,
  kVersionId = 4002,
  kCredentialsHeadingId = 4010,
  kEdit1Id = 4011,          // server host
  kEdit3Id = 4013,          // API key
  kEdit5Id = 4015,          // contract number
  kFolderHeadingId = 4020,
  kEdit2Id = 4021,          // sync folder, read-only
  kSpeedButton1Id = 4022,   // browse for the sync folder
  kPanel2Id = 4030,         // "Configure"
  kNotebook1Id = 4040,      // the second page
  kDoneHeadingId = 4041,
  kDoneNoteId = 4042,
  kPanel1Id = 4043,         // "Next"
  kStartCheckId = 4044,     // "Start Filesync after installation"
};

constexpr const wchar_t* kInstallerClass = L"TForm4";

}  // namespace kq::installer
