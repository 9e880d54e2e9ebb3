#pragma once
// NotSyncedWindow ("Not synchronised") lists the names the client cannot
// synchronise, each with the reason: local names the code page cannot hold or
// Windows refuses, links and special files, and server names the client refused.
// The names are UTF-8 in the status record and shown through the wide-character
// functions, so that a name such as Жук.txt reads as itself.
#include <string>
#include <vector>

#include "engine/engine_status.h"
#include "ui/win32/dialog_base.h"

namespace kq::win {

// notSyncedLine is a line of the list: the name, a tab, the reason.
std::wstring notSyncedLine(const FailedItem& item);
// notSyncedCount is the line above the list.
std::wstring notSyncedCount(std::size_t count);
// utf8ToWide converts UTF-8 text for the wide-character functions.
std::wstring utf8ToWide(const std::string& utf8);

class NotSyncedWindow : public DialogBase {
 public:
  // setItems keeps the latest list; a visible window shows it at once.
  void setItems(const std::vector<FailedItem>& items);
  // showList fills the list and brings the window up.
  void showList();

 protected:
  void onInit() override;
  void onCommand(int id, int code) override;
  bool handle(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  void fill();
  std::vector<FailedItem> items_;
};

}  // namespace kq::win
