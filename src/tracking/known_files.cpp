#include "tracking/known_files.h"

#include <algorithm>
#include <charconv>

#include "log/log.h"
#include "platform/file_system.h"
#include "tracking/change_tracker.h"
#include "tracking/exception_filter.h"
#include "wire/system_names.h"

namespace kq {

namespace {

constexpr const char* kHeader = "KQKNOWNFILES 1\n";

// isOwnFolder: the client's own folders directly in the sync folder.
bool isOwnFolder(const std::string& relative) { return isInSystemFolder(relative, '\\'); }

template <typename Number>
bool readNumber(const std::string& text, Number& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string KnownFiles::listText(const Listing& files) {
  std::string text = kHeader;
  for (const auto& [path, entry] : files)
    text += std::to_string(entry.size) + "\t" + std::to_string(entry.modified) + "\t" + path + "\n";
  return text;
}

std::optional<KnownFiles::Listing> KnownFiles::parseList(const std::string& text) {
  if (text.rfind(kHeader, 0) != 0) return std::nullopt;
  Listing files;
  std::size_t at = std::string(kHeader).size();
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos || files.size() >= kMaxFiles) return std::nullopt;
    std::string line = text.substr(at, end - at);
    at = end + 1;
    std::size_t tab1 = line.find('\t'), tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos || tab2 + 1 == line.size()) return std::nullopt;
    Entry entry;
    if (!readNumber(line.substr(0, tab1), entry.size) ||
        !readNumber(line.substr(tab1 + 1, tab2 - tab1 - 1), entry.modified))
      return std::nullopt;
    files[line.substr(tab2 + 1)] = entry;
  }
  return files;
}

bool KnownFiles::addTree(const std::string& folder, std::size_t prefix, Listing& files) {
  bool complete = fs_.walk(folder, [&](const WalkEntry& entry) {
    if (entry.type != EntryType::File || entry.path.size() <= prefix) return true;
    std::string relative = entry.path.substr(prefix);
    if (isOwnFolder(relative) || filter_.isExcluded(entry.path) || relative.find('\n') != std::string::npos)
      return true;
    FileStatus status = fs_.status(entry.path);
    if (status.type == EntryType::File) files[relative] = {status.size, status.modified};
    return files.size() < kMaxFiles;
  });
  return complete && files.size() < kMaxFiles;
}

std::optional<KnownFiles::Listing> KnownFiles::scan(const std::string& syncFolder) {
  ++walks_;
  Listing files;
  if (!addTree(syncFolder, syncFolder.size() + 1, files)) return std::nullopt;
  return files;
}

// forgetBelow drops relative and everything below it from listing_.
void KnownFiles::forgetBelow(const std::string& relative) {
  listing_->erase(relative);
  const std::string below = relative + "\\";
  auto first = listing_->lower_bound(below);
  auto last = first;
  while (last != listing_->end() && last->first.compare(0, below.size(), below) == 0) ++last;
  listing_->erase(first, last);
}

// patch looks again at each touched path below syncFolder; false when a walk
// failed or the sync folder itself was touched (the caller walks it all).
bool KnownFiles::patch(const std::string& syncFolder) {
  const std::string prefix = syncFolder + "\\";
  for (std::string path : tracker_.touched.paths()) {
    while (path.size() > prefix.size() && path.back() == '\\') path.pop_back();
    if (path == syncFolder || path == prefix) return false;
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string relative = path.substr(prefix.size());
    if (isOwnFolder(relative)) continue;
    forgetBelow(relative);
    FileStatus status = fs_.status(path);
    if (status.type == EntryType::File) {
      if (!filter_.isExcluded(path) && relative.find('\n') == std::string::npos)
        (*listing_)[relative] = {status.size, status.modified};
    } else if (status.type == EntryType::Folder && !addTree(path, prefix.size(), *listing_)) {
      return false;
    }
  }
  return listing_->size() < kMaxFiles;
}

bool KnownFiles::refresh(const std::string& syncFolder) {
  const bool whole = !listing_ || listingFolder_ != syncFolder || tracker_.touched.all();
  if (whole || !tracker_.touched.empty()) {
    if (whole || !patch(syncFolder)) {
      listing_ = scan(syncFolder);
      listingFolder_ = syncFolder;
    }
    unsaved_ = true;
  }
  tracker_.touched.clear();
  return listing_.has_value();
}

// pendingDeletions: the queued deletions below syncFolder whose files are not listed.
KnownFiles::Listing KnownFiles::pendingDeletions(const std::string& syncFolder) const {
  Listing files;
  const std::size_t prefix = syncFolder.size() + 1;
  for (const auto& path : tracker_.deleteQueue)
    if (path.size() > prefix && path.rfind(syncFolder + "\\", 0) == 0 && !listing_->count(path.substr(prefix)))
      files.emplace(path.substr(prefix), Entry{});
  return files;
}

std::size_t KnownFiles::findChanges(const std::string& syncFolder) {
  listing_.reset();  // whatever happens below, the next save walks the folder unless this walk does
  const FileStatus list = fs_.status(listPath(syncFolder));
  if (list.type == EntryType::File && list.size > maxListBytes_) {
    log_.writeLog("The list of known files is too large to read (" + std::to_string(list.size) +
                      " bytes, at most " + std::to_string(maxListBytes_) +
                      "); changes made while the client was stopped are not looked for",
                  true);
    return 0;
  }
  auto text = fs_.readText(listPath(syncFolder));
  if (!text) return 0;
  auto known = parseList(*text);
  if (!known) {
    log_.writeLog("The list of known files cannot be read; changes made while the client was stopped are not looked for", true);
    return 0;
  }
  auto now = scan(syncFolder);
  if (now) {
    listing_ = *now;
    listingFolder_ = syncFolder;
    unsaved_ = true;
  }
  if (!now) {
    log_.writeLog("The sync folder cannot be listed; changes made while the client was stopped are not looked for", true);
    return 0;
  }
  if (known->size() > 1 && std::none_of(known->begin(), known->end(), [&](const auto& k) { return now->count(k.first); })) {
    // An empty folder where files were is more likely a disk that is not there than a deletion.
    log_.writeLog("None of the " + std::to_string(known->size()) +
                  " known files is in the sync folder; their deletion is not reported", true);
    return 0;
  }
  std::size_t changes = 0;
  for (const auto& [path, entry] : *known) {
    if (now->count(path)) continue;
    log_.writeLog("Deleted while the client was stopped: " + path, true);
    tracker_.handleWatcherChange(2, syncFolder + "\\" + path);
    ++changes;
  }
  for (const auto& [path, entry] : *now) {
    auto was = known->find(path);
    if (was != known->end() && was->second == entry) continue;
    log_.writeLog("Changed while the client was stopped: " + path, true);
    tracker_.handleWatcherChange(3, syncFolder + "\\" + path);
    ++changes;
  }
  return changes;
}

bool KnownFiles::remember(const std::string& syncFolder) {
  if (!refresh(syncFolder)) return false;
  // A deletion not sent yet keeps its file known, so it is found again at the next start.
  Listing deletions = pendingDeletions(syncFolder);
  const std::string target = listPath(syncFolder), temporary = target + ".tmp";
  if (!unsaved_ && deletions == writtenDeletions_ && fs_.exists(target)) return true;  // the saved list is the folder
  // A sync folder that went away is never made again by saving a list into it.
  if (!fs_.isFolder(syncFolder) || !fs_.createFolders(syncFolder + "\\_config")) return false;
  std::string text;
  if (deletions.empty()) {
    text = listText(*listing_);
  } else {
    Listing files = *listing_;
    files.insert(deletions.begin(), deletions.end());
    text = listText(files);
  }
  if (!fs_.writeText(temporary, text) || !fs_.rename(temporary, target)) return false;
  unsaved_ = false;
  writtenDeletions_ = std::move(deletions);
  return true;
}

}  // namespace kq
