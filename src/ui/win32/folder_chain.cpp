#include "ui/win32/folder_chain.h"

namespace kq::win {

std::wstring withoutTrailingSeparator(std::wstring folder) {
  while (folder.size() > 1 && folder.back() == L'\\' && !(folder.size() == 3 && folder[1] == L':'))
    folder.pop_back();
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
  return folder;
}

std::wstring joinPath(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  return folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

std::vector<std::pair<std::wstring, std::wstring>> folderChain(const std::wstring& folderText) {
  std::vector<std::pair<std::wstring, std::wstring>> chain;
  std::wstring folder = withoutTrailingSeparator(folderText);
  if (folder.empty()) return chain;
  std::wstring root, rest;
  if (folder.size() >= 2 && folder[1] == L':') {
    root = folder.substr(0, 2) + L"\\";
    rest = folder.size() > 3 ? folder.substr(3) : L"";
  } else if (folder.rfind(L"\\\\", 0) == 0) {
    std::size_t server = folder.find(L'\\', 2);
    std::size_t share = server == std::wstring::npos ? server : folder.find(L'\\', server + 1);
    root = folder.substr(0, share);
    rest = share == std::wstring::npos ? L"" : folder.substr(share + 1);
  } else {
    root = folder;
  }
  chain.emplace_back(root, root);
  std::wstring path = root;
  std::size_t start = 0;
  while (start < rest.size()) {
    std::size_t end = rest.find(L'\\', start);
    std::wstring part = rest.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    if (!part.empty()) {
      path = joinPath(path, part);
      chain.emplace_back(part, path);
    }
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  return chain;
}

}  // namespace kq::win
