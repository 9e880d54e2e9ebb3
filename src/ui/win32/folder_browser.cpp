#include "ui/win32/folder_browser.h"

#include <commctrl.h>

#include <algorithm>

#include "ui/win32/folder_chain.h"
#include "ui/win32/resource.h"
#include "platform/win32/ansi_text.h"
#include "ui/win32/text.h"

namespace kq::win {
namespace {

// folderEntries lists the names in folder that are folders (folders = true) or
// files, leaving out hidden and system entries.
std::vector<std::wstring> folderEntries(const std::wstring& folder, bool folders) {
  std::vector<std::wstring> names;
  if (folder.empty()) return names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(joinPath(folder, L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) continue;
    bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder == folders) names.push_back(std::move(name));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_LESS_THAN;
  });
  return names;
}

}  // namespace

std::optional<std::string> localName(const std::wstring& name) { return wideToAnsiExact(name); }

void FolderBrowser::create(HWND parent, HINSTANCE instance, const RECT& treeArea,
                           const RECT& listArea, HFONT treeFont, HFONT listFont) {
  tree_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_LINESATROOT |
                              TVS_HASBUTTONS | TVS_SHOWSELALWAYS,
                          treeArea.left, treeArea.top, treeArea.right - treeArea.left,
                          treeArea.bottom - treeArea.top, parent,
                          reinterpret_cast<HMENU>(IDC_MAIN_DIRECTORYLISTBOX1), instance, nullptr);
  SendMessageW(tree_, WM_SETFONT, reinterpret_cast<WPARAM>(treeFont), FALSE);
  list_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", L"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY |
                              LBS_NOINTEGRALHEIGHT,
                          listArea.left, listArea.top, listArea.right - listArea.left,
                          listArea.bottom - listArea.top, parent,
                          reinterpret_cast<HMENU>(IDC_MAIN_FILELISTBOX1), instance, nullptr);
  SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(listFont), FALSE);
}

void FolderBrowser::onNotify(const NMHDR& header) {
  if (header.code == TVN_SELCHANGEDW && !filling_) {
    current_ = selectedFolder();
    refreshFiles();
  } else if (header.code == NM_DBLCLK) {
    std::wstring folder = selectedFolder();
    if (!folder.empty()) {
      rebuildTree(withoutTrailingSeparator(folder));
      refreshFiles();
    }
  }
}

void FolderBrowser::showFolder(const std::string& folder) {
  rebuildTree(withoutTrailingSeparator(toWide(folder)));
  refreshFiles();
}

std::string FolderBrowser::currentFolder() const { return localName(current_).value_or(std::string()); }

void FolderBrowser::rebuildTree(const std::wstring& folder) {
  filling_ = true;
  TreeView_DeleteAllItems(tree_);
  treePaths_.clear();
  current_ = folder;
  auto add = [&](HTREEITEM parent, const std::wstring& label, const std::wstring& path) {
    treePaths_.push_back(path);
    std::wstring text = label;
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = text.data();
    insert.item.lParam = static_cast<LPARAM>(treePaths_.size() - 1);
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
  };
  // The chain from the root down to the folder, then the folder's subfolders.
  HTREEITEM node = TVI_ROOT;
  for (auto& [label, path] : folderChain(folder)) node = add(node, label, path);
  if (node != TVI_ROOT) {
    for (const auto& name : folderEntries(current_, true))
      add(node, name, joinPath(current_, name));
    TreeView_SelectItem(tree_, node);
    TreeView_Expand(tree_, node, TVE_EXPAND);
    TreeView_EnsureVisible(tree_, node);
  }
  filling_ = false;
}

std::wstring FolderBrowser::selectedFolder() const {
  HTREEITEM item = TreeView_GetSelection(tree_);
  if (!item) return {};
  TVITEMW data{};
  data.mask = TVIF_PARAM;
  data.hItem = item;
  TreeView_GetItem(tree_, &data);
  auto index = static_cast<std::size_t>(data.lParam);
  return index < treePaths_.size() ? treePaths_[index] : std::wstring();
}

std::string FolderBrowser::selectedFile() const {
  LRESULT index = SendMessageW(list_, LB_GETCURSEL, 0, 0);
  if (index == LB_ERR || !localName(current_)) return {};
  return localName(listItem(index)).value_or(std::string());
}

std::wstring FolderBrowser::listItem(LRESULT index) const {
  LRESULT length = SendMessageW(list_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == LB_ERR) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(list_, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

std::vector<std::wstring> FolderBrowser::listedNames() const {
  std::vector<std::wstring> names;
  LRESULT count = SendMessageW(list_, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) names.push_back(listItem(i));
  return names;
}

std::vector<std::string> FolderBrowser::listedFiles() const {
  std::vector<std::string> names;
  if (!localName(current_)) return names;
  for (const auto& name : listedNames())
    if (auto local = localName(name)) names.push_back(std::move(*local));
  return names;
}

void FolderBrowser::refreshFiles() { fillList(folderEntries(current_, false), {}); }

void FolderBrowser::refreshIfChanged() {
  std::vector<std::wstring> names = folderEntries(current_, false);
  if (names == listedNames()) return;
  LRESULT index = SendMessageW(list_, LB_GETCURSEL, 0, 0);
  fillList(names, index == LB_ERR ? std::wstring() : listItem(index));
}

// fillList shows names, selecting selected while it is among them.
void FolderBrowser::fillList(const std::vector<std::wstring>& names, const std::wstring& selected) {
  SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list_, LB_RESETCONTENT, 0, 0);
  for (std::size_t i = 0; i < names.size(); ++i) {
    SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(names[i].c_str()));
    if (!selected.empty() && names[i] == selected) SendMessageW(list_, LB_SETCURSEL, i, 0);
  }
  SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list_, nullptr, TRUE);
}

void FolderBrowser::move(const RECT& treeArea, const RECT& listArea) {
  MoveWindow(tree_, treeArea.left, treeArea.top, treeArea.right - treeArea.left, treeArea.bottom - treeArea.top, TRUE);
  MoveWindow(list_, listArea.left, listArea.top, listArea.right - listArea.left, listArea.bottom - listArea.top, TRUE);
}

}  // namespace kq::win
