#pragma once
// SettingsWindow (TForm8, "Settings") sets the deletion policy, the key
// "filedeletion" of section "Basic" in "_config\Filesync.ini", and "UnicodeNames"
// of the same section (full Unicode names, used from the next start).
#include "config/client_config.h"
#include "log/log.h"
#include "platform/ini_file.h"
#include "ui/win32/dialog_base.h"

namespace kq::win {

// radioForPolicy maps a stored policy to the radio button shown (0, 1 or 2).
int radioForPolicy(int value);
// policyForRadios is the value "OK" writes for the radio buttons' states.
int policyForRadios(bool radio2, bool radio3);

class SettingsWindow : public DialogBase {
 public:
  SettingsWindow(IniFile& ini, ConfigFields& fields, Log& log) : ini_(ini), fields_(fields), log_(&log) {}
  ~SettingsWindow() override;

 protected:
  void onInit() override;
  void onShow() override;
  void onCommand(int id, int code) override;

 private:
  std::string iniPath() const { return fields_.syncFolder + "\\_config\\Filesync.ini"; }
  void load();
  void Button1Click();
  IniFile& ini_;
  ConfigFields& fields_;
  Log* log_;
  HFONT bold_ = nullptr;
};

}  // namespace kq::win
