#pragma once
// UnsyncedNames tells the user about names the client cannot synchronise (a
// character outside the code page, a name Windows cannot hold): each name once,
// with the reason, on a shown log line, and their count in the last status panel.
#include <cstddef>
#include <map>
#include <set>
#include <string>

#include "platform/file_system.h"

namespace kq {

// kLinkReason and kSpecialReason say why an item is never synchronised.
inline constexpr const char* kLinkReason = "a link; not synchronised";
inline constexpr const char* kSpecialReason = "not a regular file (a FIFO, a socket or a device); not synchronised";

// unsyncedReason is the reason for an item of type type: kLinkReason for a link
// (or a path through one), kSpecialReason for a FIFO, socket or device, empty else.
std::string unsyncedReason(EntryType type);

class Log;
class StatusView;

class UnsyncedNames {
 public:
  // kStatusPanel is the status panel of the count ("Not synchronised: N").
  static constexpr int kStatusPanel = 6;
  // kRemembered bounds the names remembered; beyond it a name may be reported again.
  static constexpr std::size_t kRemembered = 10000;

  UnsyncedNames(Log& log, StatusView& status) : log_(log), status_(status) {}

  // report logs "Name not synchronised: " + path + " (" + reason + ")" the first
  // time path is reported and shows the count of names reported so far.
  void report(const std::string& path, const std::string& reason);
  // reported: path was reported (and not forgotten since).
  bool reported(const std::string& path) const { return seen_.count(path) != 0; }
  // names are the reported paths with their reasons (for the status).
  const std::map<std::string, std::string>& names() const { return seen_; }
  // forget: path holds something that can be synchronised now.
  void forget(const std::string& path) { seen_.erase(path); }
  std::size_t count() const { return count_; }

 private:
  Log& log_;
  StatusView& status_;
  std::map<std::string, std::string> seen_;  // path -> reason
  std::size_t count_ = 0;
};

}  // namespace kq
