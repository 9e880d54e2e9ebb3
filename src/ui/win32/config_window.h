#pragma once
// ConfigWindow (TForm2, "Configuration") shows the six configuration fields,
// read only. Creating it reads "filesync.cfg" when the file is there; every
// showing reads it again, and a failure goes to the application's error box.
#include "config/client_config.h"
#include "ui/win32/dialog_base.h"
#include "platform/error_reporter.h"

namespace kq::win {

class ConfigWindow : public DialogBase {
 public:
  ConfigWindow(ClientConfig record, ConfigFields& fields, FileSystem& fs, ErrorReporter& errors)
      : record_(std::move(record)), fields_(fields), fs_(fs), errors_(errors) {}
  // showFields copies the fields into Edit1..Edit6.
  void showFields();

 protected:
  void onInit() override;
  void onShow() override;
  void onCommand(int id, int code) override;

 private:
  ClientConfig record_;
  ConfigFields& fields_;
  FileSystem& fs_;
  ErrorReporter& errors_;
};

}  // namespace kq::win
