#pragma once
// ForcedSync holds the file-list context menu commands: "Synchronize selected
// file" (ItemA1Click), "Synchronize all files in the list" (Synchronizeall1Click)
// and "Delete selected file" (ItmeB1Click). They act on the folder browser's
// current folder and file list.
#include <string>

namespace kq {

class ChangeTracker;
class Dialogs;
class ExceptionFilter;
class FileSystem;
class FolderView;
class Log;

// forcedFilePath joins the browser's folder and a listed name with one backslash
// (a drive root such as "C:\" already ends in one).
std::string forcedFilePath(const std::string& folder, const std::string& name);

class ForcedSync {
 public:
  ForcedSync(ChangeTracker& tracker, ExceptionFilter& filter, FolderView& folders,
             Dialogs& dialogs, FileSystem& fs, Log& log)
      : tracker_(tracker), filter_(filter), folders_(folders), dialogs_(dialogs), fs_(fs),
        log_(log) {}

  void ItemA1Click();
  void Synchronizeall1Click();
  void ItmeB1Click();

 private:
  void synchronizeSelected();
  // addListed queues the path of one listed file; true when it was already queued.
  bool addListed(const std::string& path);
  void deleteSelected();

  ChangeTracker& tracker_;
  ExceptionFilter& filter_;
  FolderView& folders_;
  Dialogs& dialogs_;
  FileSystem& fs_;
  Log& log_;
};

}  // namespace kq
