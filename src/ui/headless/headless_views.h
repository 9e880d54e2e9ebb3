#pragma once
// The headless client's views. The status panels make one status line on a
// terminal, rewritten in place and never wider than the terminal (a longer
// line is cut, ending in "…"); without a terminal they show nothing. Messages
// meant for boxes go to the standard error.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/error_reporter.h"
#include "platform/views.h"

namespace kq {

class TerminalStatusView : public StatusView {
 public:
  // out is the terminal; nullptr shows nothing. columns tells the terminal's
  // width at each redraw (default: asked of out's terminal, 80 when it cannot tell).
  explicit TerminalStatusView(std::FILE* out, std::function<int()> columns = {});
  void setPanel(int index, const std::string& text) override;
  void setConnectCaption(const std::string& caption) override;
  // setProgress shows the transfer under way after the activity panel; empty: none.
  void setProgress(const std::string& text);
  // line is the status line: the non-empty panels (the progress after panel 1).
  std::string line() const;
  // finish ends the status line so that later output starts on a new line.
  void finish();
  // messageComing makes room for a message on the standard error: where that
  // is the same terminal the status line is wiped (drawn again at its next change).
  void messageComing();
  // onPanel and onCaption see every call, also those that change nothing.
  std::function<void(int index, const std::string& text)> onPanel;
  std::function<void(const std::string& caption)> onCaption;

 private:
  void redraw();

  std::FILE* out_;
  std::string panels_[7];
  std::string caption_ = "Connect";
  std::string progress_;
  std::function<int()> columns_;
  std::string shown_;  // the line on the terminal now
  bool drawn_ = false;
  bool messagesHere_ = false;  // the standard error is a terminal too
};

// terminalColumns is the width of the terminal of out, 80 when it is not one.
int terminalColumns(std::FILE* out);

// fitColumns cuts UTF-8 text to at most columns columns (a wide East Asian
// character takes two), ending in "…" when it was cut.
std::string fitColumns(const std::string& text, int columns);

// HeadlessFolderView has no folder browser: it remembers the folder last shown.
class HeadlessFolderView : public FolderView {
 public:
  void showFolder(const std::string& folder) override { folder_ = folder; }
  std::string currentFolder() override { return folder_; }
  std::string selectedFile() override { return {}; }
  std::vector<std::string> listedFiles() override { return {}; }
  void refreshFiles() override {}

 private:
  std::string folder_;
};

// StderrDialogs writes "Information: " + text lines to the standard error.
class StderrDialogs : public Dialogs {
 public:
  explicit StderrDialogs(TerminalStatusView& status) : status_(status) {}
  void information(const std::string& text) override;

 private:
  TerminalStatusView& status_;
};

// StderrErrorReporter writes each error of the general error reporting as one
// line "Korvalinq Drive: " + text to the standard error. Socket errors
// ("Socket Error # 10061") are left to the clearer connection messages.
class StderrErrorReporter : public ErrorReporter {
 public:
  explicit StderrErrorReporter(TerminalStatusView& status) : status_(status) {}
  void reportError(const std::string& text) override;

 private:
  TerminalStatusView& status_;
};

}  // namespace kq
