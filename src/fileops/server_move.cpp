#include "fileops/server_move.h"

#include "fileops/robocopy_command.h"
#include "protocol/packet.h"
#include "transfer/unsynced_names.h"
#include "transfer/own_folders.h"

namespace kq {

namespace {

// MoveParseError marks the failures logged as "Error in RQMOV command parsing!".
struct MoveParseError {
  bool failed;  // the move result at that moment
};

}  // namespace

void ServerMove::onMember(const std::string& key, const std::string& value, PacketContext& packet) {
  p_.tracker.setServerBusy();
  if (key == "\"sourcefilepath\"") {
    rememberSource(value);
  } else if (key == "\"destinationfilepath\"") {
    bool failed = false;
    deferred_ = false;
    try {
      failed = !moveTo(value);
    } catch (const MoveParseError& e) {
      p_.log.writeLog("Error in RQMOV command parsing!", true);
      failed = e.failed;
    } catch (...) {
      p_.log.writeLog("Error in RQMOV command parsing!", true);
    }
    if (!deferred_) answer(failed, packet.answerType);
    endOfReadEvent();
  }
}

void ServerMove::rememberSource(const std::string& value) {
  sourceValue_ = value;
  source_ = localPathToChange(p_.syncFolder(), value);
}

// moveTo moves the remembered source to the destination value; false when the
// move failed or a path was refused.
bool ServerMove::moveTo(const std::string& value) {
  LocalPath destination = localPathToChange(p_.syncFolder(), value);
  if (sourceValue_.empty()) return true;
  if (!source_.ok()) {
    refuse(p_, sourceValue_, source_);
    return false;
  }
  if (!destination.ok()) {
    refuse(p_, value, destination);
    return false;
  }
  // A link is never moved, and nothing is moved or created through one.
  if (refuseUnsynced(sourceValue_, source_) || refuseUnsynced(value, destination)) return false;
  p_.log.writeLog("Directory to move:", true);
  p_.log.writeLog(source_.withSlash(), true);
  p_.log.writeLog("Move to :", true);
  p_.log.writeLog(destination.withSlash(), true);
  p_.folders.showFolder("");
  if (!p_.fs.exists(source_.path)) {
    if (!p_.fs.createFolders(destination.path)) throw MoveParseError{false};
    return true;
  }
  if (!renameTest(source_.path)) return false;
  return moveFolder(source_.path, destination.path);
}

// refuseUnsynced refuses a path that is a link or leads through one, or names a
// FIFO, socket or device, with the reason in the log; true when refused.
bool ServerMove::refuseUnsynced(const std::string& value, LocalPath local) {
  local.refusal = unsyncedReason(p_.fs.status(local.path).type);
  if (local.ok()) return false;
  refuse(p_, value, local);
  return true;
}

// renameTest renames the source to a test name and back: a folder that another
// program holds open cannot be renamed. False when the folder is not available.
bool ServerMove::renameTest(const std::string& source) {
  std::string testName = source + "_____";
  p_.tracker.addBlockedPath(testName);
  (void)p_.fs.rename(source, testName);
  if (!p_.fs.exists(testName)) return false;
  if (!p_.fs.rename(testName, source)) throw MoveParseError{true};
  return true;
}

bool ServerMove::moveFolder(const std::string& source, const std::string& destination) {
  p_.tracker.addBlockedPath(destination);
  p_.tracker.addBlockedPath(source);
  p_.log.writeLog("Moving data:", true);
  p_.log.writeLog("From: " + source, true);
  p_.log.writeLog("To: " + destination, true);
  p_.log.writeLog("File command move: " + robocopyCommandLine(source, destination), true);
  MoveResult moved = p_.processes.moveTree(source, destination);
  pending_ = Settling{p_.clock.epochMillis() + kMoveSettleMs, source, moved.detail, p_.protocol.currentRequestId};
  deferred_ = true;
  return true;
}

void ServerMove::tick() {
  if (pending_ && p_.clock.epochMillis() >= pending_->dueMs) settle();
}

// onRequestHeader answers a waiting move before the next request is handled,
// so the answers keep the order of the requests.
void ServerMove::onRequestHeader(int) {
  if (pending_) settle();
}

void ServerMove::onSessionClosed() {
  if (!pending_) return;
  pending_.reset();
  p_.log.writeLog("The answer to RQMOV is dropped: the connection closed", true);
}

// settle checks the source of the finished move and sends the answer.
void ServerMove::settle() {
  Settling done = *pending_;
  pending_.reset();
  bool failed = p_.fs.exists(done.source);
  if (failed && !done.detail.empty()) p_.log.writeLog("Items left at the source: " + done.detail, true);
  std::string answerType;
  answer(failed, answerType);
  sendSimplePacket(answerType, done.requestId, p_.server, p_.log);
}

void ServerMove::answer(bool failed, std::string& answerType) {
  if (!failed) {
    answerType = "ANMOV";
    p_.status.setPanel(1, "Rename folder/file");
    return;
  }
  answerType = "FLMOV";
  p_.log.writeLog("Error: Can not move directory! Sending FLMOV to the Server...", true);
  p_.status.setPanel(1, "Move folder/file error!");
}

}  // namespace kq
