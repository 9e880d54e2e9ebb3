#include "fileops/server_delete.h"

#include "config/settings.h"
#include "fileops/robocopy_command.h"
#include "platform/tree_move.h"
#include "transfer/own_folders.h"
#include "transfer/unsynced_names.h"

namespace kq {

namespace {

// workingFolderOf is the text up to, not including, the last separator.
std::string workingFolderOf(const std::string& path) {
  auto pos = path.find_last_of("\\/");
  return pos == std::string::npos ? std::string() : path.substr(0, pos);
}

int readPolicy(HandlerPorts& p) {
  try {
    return readDeletionPolicy(p.ini, p.settingsPath());
  } catch (...) {
    p.log.writeLog("ERROR: Reading _config directory ini file. Default delete to trash.", true);
    return 0;
  }
}

// moveFolderToTrash moves a folder's content into the trash; what could not be
// moved stays in place (and is logged), only emptied folders are removed.
bool moveFolderToTrash(HandlerPorts& p, const std::string& folder, const std::string& destination) {
  p.tracker.addBlockedPath(folder);
  p.log.writeLog("File command move to trash folder: " + robocopyCommandLine(folder, destination), true);
  MoveResult moved = p.processes.moveTree(folder, destination);
  removeEmptyFolderTree(p.fs, folder);
  if (p.fs.exists(folder)) {
    p.log.writeLog("ERROR: Not everything was moved to the trash folder, left in place: " + folder +
                       (moved.detail.empty() ? "" : " (" + moved.detail + ")"), true);
    fail(p, folder, "not everything was moved to the trash folder");
  }
  return true;
}

// moveToTrash moves the item to the same place below "_trash"; false when a step failed.
bool moveToTrash(HandlerPorts& p, const LocalPath& local) {
  std::string trash = p.syncFolder() + "\\_trash";
  std::string destination = trash + local.relative;
  std::string parent = workingFolderOf(destination);
  if (!p.fs.createFolders(parent)) return false;
  (void)p.fs.setAttributes(trash, true, false);
  p.log.writeLog("Moving file '" + local.path + "' to trash-folder '" + destination + "'", true);
  if (local.folder) return moveFolderToTrash(p, local.path, destination);
  return p.fs.rename(local.path, destination);
}

// removeItem deletes the item with everything below it (localPath is the logged
// form, ending in a backslash for a folder; diskPath the same without it).
void removeItem(HandlerPorts& p, const std::string& localPath, const std::string& diskPath) {
  p.log.writeLog("Removing file.", true);
  p.tracker.addBlockedPath(localPath);
  if (!p.fs.exists(diskPath)) {
    p.log.writeLog("ERROR: Can not delete the file - the file does not exist!", true);
    return;
  }
  if (!p.fs.removeAll(diskPath)) {
    p.log.writeLog("ERROR: Can not remove file!", true);
    fail(p, diskPath, "cannot be removed");
  }
}

}  // namespace

bool setAsideReplaced(HandlerPorts& ports, const LocalPath& local) {
  std::string localPath = local.withSlash();
  ports.log.writeLog(std::string(local.folder ? "The folder " : "The file ") + localPath +
                         " is replaced by the server's " + (local.folder ? "file" : "folder"), true);
  ports.tracker.noteServerReplacement(localPath);
  if (readPolicy(ports) == kDeleteLocally) {
    removeItem(ports, localPath, local.path);
  } else if (!moveToTrash(ports, local)) {
    ports.log.writeLog("ERROR: Can not move " + localPath + " to the trash folder; it stays in place", true);
    fail(ports, local.path, "cannot be moved to the trash folder");
  }
  return !ports.fs.exists(local.path);
}

void ServerDelete::onMember(const std::string& key, const std::string& value,
                            PacketContext& packet) {
  if (key == "\"filepath\"") {
    LocalPath local = localPathToChange(p_.syncFolder(), value);
    // A link (or an item behind one) is never deleted or moved on the server's order.
    if (local.ok()) local.refusal = unsyncedReason(p_.fs.status(local.path).type);
    if (local.ok()) {
      deleteItem(local, packet);
    } else {
      refuse(p_, value, local);
      packet.answerType = "ANDEL";
    }
  }
  p_.tracker.setServerBusy();
}

void ServerDelete::deleteItem(const LocalPath& local, PacketContext& packet) {
  try {
    std::string localPath = local.withSlash();
    p_.log.writeLog("filepath to delete=" + localPath, true);
    p_.status.setPanel(1, "Removing file");
    std::string working = workingFolderOf(localPath);
    p_.tracker.noteServerRemoval(localPath);
    int policy = readPolicy(p_);
    std::string used = p_.folders.currentFolder();
    p_.folders.showFolder("");
    bool done = true;
    if (policy == kDeleteToTrash) {
      done = moveToTrash(p_, local);
    } else if (policy == kDeleteLocally) {
      removeItem(p_, localPath, local.path);
    }
    if (done) {
      p_.log.writeLog("Used directory: " + used, true);
      p_.log.writeLog("Working directory: " + working, true);
      if (working == used) p_.folders.showFolder(working);
    } else {
      p_.log.writeLog("ERROR: Can't complete RQDEL command!", true);
    }
  } catch (...) {
    p_.log.writeLog("ERROR: Can't complete RQDEL command!", true);
  }
  packet.answerType = "ANDEL";
}

}  // namespace kq
