#pragma once
// TrayStatus is the status record as the tray shows it: one of three states,
// a one-line tip, and a balloon for the problems that need the user, each
// once when it first appears.
#include <optional>
#include <string>

#include "engine/engine_status.h"

namespace kq {

// kFolderMissing is the problem text of a missing sync folder.
extern const char* const kFolderMissing;
// kDiskFull is the problem text of a disk too full for the files received.
extern const char* const kDiskFull;

enum class TrayState { Synchronised, Working, Attention };

struct TrayView {
  TrayState state = TrayState::Synchronised;
  std::string tip;  // one line, without the product name
  bool operator==(const TrayView&) const = default;
};

// userProblem is what the user has to put right, empty when nothing: the
// refused contract and key, a missing sync folder, a full disk, names that
// cannot be synchronised (the files that did not fit count as the full disk).
std::string userProblem(const EngineStatus& status);

// trayView: Attention while there is a problem or no link to the server,
// Working while files move or wait, Synchronised otherwise. lastSync is the
// local time of the last completed cycle ("14:05"), empty when none.
TrayView trayView(const EngineStatus& status, const std::string& lastSync);

// Balloons says which problem deserves a balloon: each problem text once,
// when it first appears; more failed names than before count as a new problem.
// A full disk is one problem however many files it stops.
class Balloons {
 public:
  std::optional<std::string> next(const EngineStatus& status);

 private:
  std::string refusalShown_;
  bool folderMissingShown_ = false;
  bool diskFullShown_ = false;
  std::size_t failedSeen_ = 0;
};

}  // namespace kq
