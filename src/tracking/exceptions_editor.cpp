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

void ExceptionsEditor::BitBtn1Click() {
  try {
    config_.reload();
    (void)filter_.save(config_.syncFolder());
  } catch (...) {
  }
}

}  // namespace kq
