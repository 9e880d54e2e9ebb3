#include "tracking/exceptions_editor.h"

#include "config/config_store.h"
#include "log/log.h"
#include "tracking/exception_filter.h"

namespace kq {

bool ExceptionsEditor::loadLists() {
  try {
    return filter_.load(config_.syncFolder());
  } catch (...) {
    return false;
  }
}

void ExceptionsEditor::Exceptions1Click() {
  if (!loadLists()) log_.writeLog("Error on loading exceptions...", true);
}

void ExceptionsEditor::FormShow() { (void)loadLists(); }

std::string ExceptionsEditor::BitBtn1Click() {
  std::string failure;
  try {
    config_.reload();
    const std::string folder = config_.syncFolder() + "\\_config";
    if (!filter_.save(config_.syncFolder())) failure = "The exceptions cannot be saved to " + folder;
  } catch (const std::exception& e) {
    failure = std::string("The exceptions cannot be saved: ") + e.what();
  }
  if (!failure.empty()) log_.writeLog(failure, true);
  return failure;
}

}  // namespace kq
