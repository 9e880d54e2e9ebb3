#include "ui/win32/folder_chain.h"

namespace kq::win {

std::string withoutTrailingSeparator(std::string folder) {
  while (folder.size() > 1 && folder.back() == '\\' && !(folder.size() == 3 && folder[1] == ':'))
    folder.pop_back();
  if (folder.size() == 2 && folder[1] == ':') folder += '\\';
  return folder;
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

std::vector<std::pair<std::string, std::string>> folderChain(const std::string& folderText) {
  std::vector<std::pair<std::string, std::string>> chain;
  std::string folder = withoutTrailingSeparator(folderText);
  if (folder.empty()) return chain;
  std::string root, rest;
  if (folder.size() >= 2 && folder[1] == ':') {
    root = folder.substr(0, 2) + "\\";
    rest = folder.size() > 3 ? folder.substr(3) : "";
  } else if (folder.rfind("\\\\", 0) == 0) {
    std::size_t server = folder.find('\\', 2);
    std::size_t share = server == std::string::npos ? server : folder.find('\\', server + 1);
    root = folder.substr(0, share);
    rest = share == std::string::npos ? "" : folder.substr(share + 1);
  } else {
    root = folder;
  }
  chain.emplace_back(root, root);
  std::string path = root;
  std::size_t start = 0;
  while (start < rest.size()) {
    std::size_t end = rest.find('\\', start);
    std::string part = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!part.empty()) {
      path = joinPath(path, part);
      chain.emplace_back(part, path);
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return chain;
}

}  // namespace kq::win
