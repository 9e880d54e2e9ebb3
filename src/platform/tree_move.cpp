#include "platform/tree_move.h"

namespace kq {

namespace {

std::string parentOf(const std::string& path) {
  auto pos = path.find_last_of("\\/");
  return pos == std::string::npos ? std::string() : path.substr(0, pos);
}

// isInside tells whether path lies inside (or is) folder.
bool isInside(const std::string& path, const std::string& folder) {
  if (path == folder) return true;
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         (path[folder.size()] == '\\' || path[folder.size()] == '/');
}

std::string describeFailures(const std::vector<std::string>& failed) {
  std::string detail = std::to_string(failed.size()) + " item(s) could not be moved:";
  for (std::size_t i = 0; i < failed.size() && i < 10; ++i) detail += " " + failed[i];
  if (failed.size() > 10) detail += " ...";
  return detail;
}

}  // namespace

MoveResult PortableTreeMove::moveTree(const std::string& source, const std::string& destination) {
  MoveResult result;
  FileStatus st = fs_.status(source);
  if (st.type == EntryType::Link) {
    result.detail = "the source is a link, never moved: " + source;
    return result;
  }
  if (!st.exists()) {
    result.detail = "the source does not exist: " + source;
    return result;
  }
  if (isInside(destination, source)) {
    result.detail = "the destination lies inside the source: " + destination;
    return result;
  }
  if (st.type != EntryType::Folder) return moveFile(source, destination);
  if (!fs_.createFolders(destination)) {
    result.detail = "the destination folder cannot be created: " + destination;
    return result;
  }
  std::vector<WalkEntry> entries;
  bool walked = fs_.walk(source, [&entries](const WalkEntry& e) {
    entries.push_back(e);
    return true;
  });
  std::vector<std::string> failed, folders{source};
  for (const auto& entry : entries) {
    if (!entry.refusal.empty()) {
      failed.push_back(entry.path + " (" + entry.refusal + ")");
      continue;
    }
    if (entry.type == EntryType::Link) {  // a link stays where it is, with its folder
      failed.push_back(entry.path + " (a link; not synchronised)");
      continue;
    }
    moveEntry(entry, source, destination, failed);
    if (entry.type == EntryType::Folder) folders.push_back(entry.path);
  }
  removeEmptyFolders(folders);
  result.complete = walked && failed.empty() && !fs_.exists(source);
  if (!walked) failed.insert(failed.begin(), source + " (cannot be enumerated)");
  if (!result.complete) {
    result.detail = failed.empty() ? "the source is still there: " + source : describeFailures(failed);
  }
  return result;
}

MoveResult PortableTreeMove::moveFile(const std::string& source, const std::string& destination) {
  MoveResult result;
  std::string parent = parentOf(destination);
  bool ready = parent.empty() || fs_.isFolder(parent) || fs_.createFolders(parent);
  result.complete = ready && fs_.rename(source, destination);
  if (!result.complete) result.detail = describeFailures({source});
  return result;
}

void PortableTreeMove::moveEntry(const WalkEntry& entry, const std::string& source,
                                 const std::string& destination, std::vector<std::string>& failed) {
  std::string target = destination + entry.path.substr(source.size());
  if (entry.type == EntryType::Folder) {
    if (!fs_.createFolders(target)) failed.push_back(entry.path);
    return;
  }
  if (fs_.isFolder(target) || !fs_.rename(entry.path, target)) failed.push_back(entry.path);
}

// removeEmptyFolders removes the folders deepest first; remove() refuses a folder
// that still holds something, which then stays with its content.
void PortableTreeMove::removeEmptyFolders(const std::vector<std::string>& folders) {
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    if (fs_.isFolder(*it)) (void)fs_.remove(*it);
  }
}

void removeEmptyFolderTree(FileSystem& fs, const std::string& folder) {
  if (!fs.isFolder(folder)) return;
  std::vector<std::string> folders{folder};
  (void)fs.walk(folder, [&folders](const WalkEntry& e) {
    if (e.type == EntryType::Folder) folders.push_back(e.path);
    return true;
  });
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    if (fs.isFolder(*it)) (void)fs.remove(*it);
  }
}

}  // namespace kq
