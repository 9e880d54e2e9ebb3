#pragma once
// FolderBrowser is the main window's folder tree (DirectoryListBox1) coupled to
// its file list (FileListBox1): the tree shows the chain from the root down to
// the current folder and that folder's subfolders; the list shows the files of
// the folder selected in the tree. Hidden and system entries are left out.
// Both hold wide text, so every name reads as itself (a name outside the code
// page too); the engine gets local path text, and a name that the code page
// cannot hold is not handed to it (it is listed under "Not synchronised...").
#include <windows.h>

#include <string>
#include <optional>
#include <vector>

namespace kq::win {

// localName is a wide name as local path text; nullopt when the code page
// cannot hold it (no "?" look-alike is ever handed on).
std::optional<std::string> localName(const std::wstring& name);

class FolderBrowser {
 public:
  // create makes both controls as children of parent.
  void create(HWND parent, HINSTANCE instance, const RECT& treeArea, const RECT& listArea,
              HFONT treeFont, HFONT listFont);
  HWND tree() const { return tree_; }
  HWND list() const { return list_; }

  // showFolder makes folder the current one: tree rebuilt, file list refreshed.
  void showFolder(const std::string& folder);
  std::string currentFolder() const;
  // selectedFolder is the folder selected in the tree, empty when none.
  std::wstring selectedFolder() const;
  std::string selectedFile() const;
  std::vector<std::string> listedFiles() const;
  void refreshFiles();
  // refreshIfChanged re-reads the current folder and refills the list only when
  // its files changed, keeping the selected file selected while it is there.
  void refreshIfChanged();
  // move places both controls.
  void move(const RECT& treeArea, const RECT& listArea);
  // onNotify handles the tree's notifications: a new selection moves the file
  // list, a double click opens the selected folder (DirectoryListBox1DblClick).
  void onNotify(const NMHDR& header);

 private:
  void rebuildTree(const std::wstring& folder);
  std::wstring listItem(LRESULT index) const;
  std::vector<std::wstring> listedNames() const;
  void fillList(const std::vector<std::wstring>& names, const std::wstring& selected);

  HWND tree_ = nullptr, list_ = nullptr;
  std::wstring current_;
  std::vector<std::wstring> treePaths_;  // full path of each tree item, by its lParam
  bool filling_ = false;
};

}  // namespace kq::win
