#pragma once
// ExceptionsWindow (TForm7, "Exceptions") edits the two exception lists of the
// ExceptionFilter in place: every edit acts on the filter at once, saved or not.
#include "config/client_config.h"
#include "log/log.h"
#include "tracking/exception_filter.h"
#include "ui/win32/dialog_base.h"

namespace kq::win {

class ExceptionsWindow : public DialogBase {
 public:
  ExceptionsWindow(ExceptionFilter& filter, ClientConfig record, ConfigFields& fields,
                   FileSystem& fs, Log& log)
      : filter_(filter), record_(std::move(record)), fields_(fields), fs_(fs), log_(log) {}
  // Exceptions1Click loads the lists, logging a failure, and shows the window.
  void Exceptions1Click();

 protected:
  void onInit() override;
  void onShow() override;
  void onCommand(int id, int code) override;

 private:
  // syncFolder reads the configuration again (failures keep the last values).
  std::string syncFolder();
  bool loadLists();
  void showLists();
  void BitBtn1Click();

  ExceptionFilter& filter_;
  ClientConfig record_;
  ConfigFields& fields_;
  FileSystem& fs_;
  Log& log_;
  bool filling_ = false;
};

}  // namespace kq::win
