#include "tracking/forced_sync.h"

#include "log/log.h"
#include "platform/file_system.h"
#include "platform/views.h"
#include "tracking/change_tracker.h"
#include "tracking/exception_filter.h"

namespace kq {
namespace {

const char kAlreadyQueued[] = "This file has already been added to the sync queue!";
const char kSomeAlreadyQueued[] = "Some file/files has already been added to the sync queue!";

// FileNotRemoved reports a file the disk refused to delete.
struct FileNotRemoved {};

}  // namespace

std::string forcedFilePath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '\\') return folder + name;
  return folder + "\\" + name;
}

void ForcedSync::ItemA1Click() {
  try {
    synchronizeSelected();
  } catch (...) {
    log_.writeLog("Error in ItmeA1Click()", true);
  }
}

void ForcedSync::synchronizeSelected() {
  const std::string name = folders_.selectedFile();
  if (name.empty()) return;
  const std::string path = forcedFilePath(folders_.currentFolder(), name);
  if (filter_.isExcluded(path)) {
    log_.writeLog("The file '" + path + "' will not be synchronized due to restrictions.", true);
  } else if (!tracker_.isQueuedModification(path)) {
    tracker_.appendModification(path);
    log_.writeLog("Force file synchronization: " + path, true);
  } else {
    log_.writeLog(kAlreadyQueued, true);
    dialogs_.information(kAlreadyQueued);
  }
}

void ForcedSync::Synchronizeall1Click() {
  bool duplicateMet = false;
  try {
    log_.writeLog("Adding files to the queue for forced synchronization...", true);
    const std::string folder = folders_.currentFolder();
    for (const auto& name : folders_.listedFiles())
      if (addListed(forcedFilePath(folder, name))) duplicateMet = true;
  } catch (...) {
    log_.writeLog("Error in Synchronizeall1Click()", true);
  }
  try {
    if (duplicateMet) dialogs_.information(kSomeAlreadyQueued);
  } catch (...) {
    log_.writeLog("Error in Synchronizeall1Click()", true);
  }
}

bool ForcedSync::addListed(const std::string& path) {
  if (filter_.isExcluded(path)) {
    log_.writeLog("The file '" + path + "' will not be added due to restrictions.", true);
  } else if (!tracker_.isQueuedModification(path)) {
    tracker_.appendModification(path);
    log_.writeLog("Adding file: " + path, true);
  } else {
    log_.writeLog("Error: This file '" + path + "' has already been added to the sync queue!", true);
    return true;
  }
  return false;
}

void ForcedSync::ItmeB1Click() {
  try {
    deleteSelected();
  } catch (...) {
    log_.writeLog("Error in ItmeB1Click()", true);
  }
}

void ForcedSync::deleteSelected() {
  const std::string name = folders_.selectedFile();
  if (name.empty()) return;
  const std::string path = forcedFilePath(folders_.currentFolder(), name);
  log_.writeLog("Force file delete: " + name, true);
  if (!fs_.remove(path)) throw FileNotRemoved{};
  folders_.refreshFiles();
}

}  // namespace kq
