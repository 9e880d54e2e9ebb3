#include "watcher/change_reporter.h"

#include <array>
#include <string_view>

#include "transfer/partial_file.h"
#include "watcher/notification_sender.h"

namespace kq {

namespace {

// The sync folder's own folders; what happens in them is not the user's work.
constexpr std::array<std::string_view, 3> kPrivateFolders = {"_log", "_config", "_trash"};

}  // namespace

std::string buildWatcherNotification(ChangeAction action, const std::string& path) {
  std::string message(1, static_cast<char>(action));
  message += path;
  return message;
}

WatchScope::WatchScope(std::string syncFolder) : root_(std::move(syncFolder)) {
  while (root_.size() > 1 && (root_.back() == '\\' || root_.back() == '/')) root_.pop_back();
}

bool WatchScope::contains(const std::string& path) const {
  if (root_.empty() || path.size() <= root_.size() + 1) return false;
  if (path.compare(0, root_.size(), root_) != 0 || path[root_.size()] != '\\') return false;
  std::string_view rest(path);
  rest.remove_prefix(root_.size() + 1);
  std::string_view first = rest.substr(0, rest.find('\\'));
  if (first.empty() || isPartialFileName(path)) return false;
  for (auto name : kPrivateFolders)
    if (first == name) return false;
  return true;
}

void ChangeReporter::report(ChangeAction action, const std::string& path) {
  std::string message = buildWatcherNotification(action, path);
  bool removal = action == ChangeAction::Removed && onRemovalHeld;
  if (!removal && held_.empty()) {
    out_.push(std::move(message));
    return;
  }
  if (held_.size() >= kMaxHeld) {
    out_.push(std::move(held_.front()));
    held_.pop_front();
  }
  held_.push_back(std::move(message));
  if (removal) onRemovalHeld();
}

void ChangeReporter::flushHeld() {
  while (!held_.empty()) {
    out_.push(std::move(held_.front()));
    held_.pop_front();
  }
}

std::size_t ChangeReporter::dropHeld() {
  std::size_t count = held_.size();
  held_.clear();
  return count;
}

void ChangeReporter::added(const std::string& path) {
  if (scope_.contains(path)) report(ChangeAction::Added, path);
}

void ChangeReporter::removed(const std::string& path) {
  if (scope_.contains(path)) report(ChangeAction::Removed, path);
}

void ChangeReporter::modified(const std::string& path) {
  if (scope_.contains(path)) report(ChangeAction::Modified, path);
}

void ChangeReporter::renamed(const std::string& oldPath, const std::string& newPath) {
  bool oldInside = scope_.contains(oldPath);
  bool newInside = scope_.contains(newPath);
  if (oldInside && newInside) {
    report(ChangeAction::RenamedOld, oldPath);
    report(ChangeAction::RenamedNew, newPath);
  } else if (oldInside) {
    report(ChangeAction::Removed, oldPath);
  } else if (newInside && oldPath != partialFileName(newPath)) {
    // A transfer's temporary file renamed over its target is the client's own
    // write of a received file: not reported back to it.
    report(ChangeAction::Added, newPath);
  }
}

}  // namespace kq
