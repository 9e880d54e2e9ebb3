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

std::optional<KnownFiles::Listing> KnownFiles::scan(const std::string& syncFolder) {
  Listing files;
  const std::size_t prefix = syncFolder.size() + 1;
  bool complete = fs_.walk(syncFolder, [&](const WalkEntry& entry) {
    if (entry.type != EntryType::File || entry.path.size() <= prefix) return true;
    std::string relative = entry.path.substr(prefix);
    if (isOwnFolder(relative) || filter_.isExcluded(entry.path) || relative.find('\n') != std::string::npos)
      return true;
    FileStatus status = fs_.status(entry.path);
    if (status.type == EntryType::File) files[relative] = {status.size, status.modified};
    return files.size() < kMaxFiles;
  });
  if (!complete || files.size() >= kMaxFiles) return std::nullopt;
  return files;
}

std::size_t KnownFiles::findChanges(const std::string& syncFolder) {
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
  auto files = scan(syncFolder);
  if (!files) return false;
  // A deletion not sent yet keeps its file known, so it is found again at the next start.
  const std::size_t prefix = syncFolder.size() + 1;
  for (const auto& path : tracker_.deleteQueue)
    if (path.size() > prefix && path.rfind(syncFolder + "\\", 0) == 0) files->emplace(path.substr(prefix), Entry{});
  if (!fs_.createFolders(syncFolder + "\\_config")) return false;
  const std::string target = listPath(syncFolder), temporary = target + ".tmp";
  return fs_.writeText(temporary, listText(*files)) && fs_.rename(temporary, target);
}

}  // namespace kq
