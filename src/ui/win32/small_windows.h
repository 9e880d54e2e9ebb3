#pragma once
// AboutWindow (TForm5, "About") and NewDirWindow (TForm6, "New directory").
#include "ui/win32/dialog_base.h"

namespace kq::win {

inline constexpr char kProductVersion[] = "0.4.2";

class AboutWindow : public DialogBase {
 public:
  ~AboutWindow() override;

 protected:
  void onInit() override;
  void onShow() override { centreOn(nullptr); }
  void onCommand(int id, int code) override;
  bool handle(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  HFONT titleFont_ = nullptr;
};

// NewDirWindow is created with the others; no command opens it.
class NewDirWindow : public DialogBase {
 protected:
  void onShow() override { centreOn(nullptr); }
  void onCommand(int id, int code) override;
};

}  // namespace kq::win
