#pragma once
// ExceptionsWindow (TForm7, "Exceptions") edits the two exception lists of the
// ExceptionFilter in place: every edit acts on the filter at once, saved or not.
// Loading and saving are the ExceptionsEditor's.
#include "config/client_config.h"
#include "tracking/exception_filter.h"
#include "tracking/exceptions_editor.h"
#include "ui/win32/dialog_base.h"

namespace kq::win {

class ExceptionsWindow : public DialogBase {
 public:
  ExceptionsWindow(ExceptionFilter& filter, ExceptionsEditor& editor, const ConfigFields& fields)
      : filter_(filter), editor_(editor), fields_(fields) {}
  // Exceptions1Click loads the lists, logging a failure, and shows the window.
  void Exceptions1Click();

 protected:
  void onInit() override;
  void onShow() override;
  void onCommand(int id, int code) override;

 private:
  void showLists();
  void takeMemo(int id);

  ExceptionFilter& filter_;
  ExceptionsEditor& editor_;
  const ConfigFields& fields_;
  bool filling_ = false;
};

}  // namespace kq::win
