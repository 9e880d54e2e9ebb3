#pragma once
// ExceptionsEditor is the engine side of the "Edit exception" menu command and
// the Exceptions window: loading the lists into the filter and saving them.
// The window itself only shows and edits ExceptionFilter's lists.
#include <string>

namespace kq {

class ConfigStore;
class ExceptionFilter;
class Log;

class ExceptionsEditor {
 public:
  ExceptionsEditor(ExceptionFilter& filter, ConfigStore& config, Log& log)
      : filter_(filter), config_(config), log_(log) {}

  // Exceptions1Click loads the lists; a failure logs "Error on loading exceptions...".
  // The window is shown afterwards, whatever happened (and FormShow loads again).
  void Exceptions1Click();
  // FormShow (also at creation) loads the lists; failures are silent.
  void FormShow();
  // BitBtn1Click re-reads the configuration and saves both lists in the sync
  // folder's _config folder. A failure is logged (shown) and returned as the
  // text to show the user; empty when both lists were saved.
  [[nodiscard]] std::string BitBtn1Click();

 private:
  bool loadLists();

  ExceptionFilter& filter_;
  ConfigStore& config_;
  Log& log_;
};

}  // namespace kq
