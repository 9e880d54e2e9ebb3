#include "engine/sync_folder_guard.h"

namespace kq {

namespace {

// within: path is folder itself or lies below it (local path text, exact).
bool within(const std::string& path, const std::string& folder) {
  if (path.compare(0, folder.size(), folder) != 0) return false;
  return path.size() == folder.size() || path[folder.size()] == '\\' || path[folder.size()] == '/';
}

}  // namespace

bool SyncFolderGuard::createFolders(const std::string& path) {
  std::string folder = syncFolder_();
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  if (!folder.empty() && within(path, folder) && !inner_.isFolder(folder)) return false;
  return inner_.createFolders(path);
}

}  // namespace kq
