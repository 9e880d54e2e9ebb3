#pragma once
// ExceptionFilter owns the two exception lists ("exstensions.dat" and
// "exceptions.dat" in the sync folder's _config folder) and isExcluded, a plain
// substring test over both lists. The exceptions editor edits these lists in
// place, so unsaved edits act on the filter at once.
#include <string>
#include <vector>

#include "wire/system_names.h"

namespace kq {

class FileSystem;

// splitExceptionLines splits a list file: CR, LF or CR LF ends a line; a last
// line without an ending still counts, an empty text has no lines.
std::vector<std::string> splitExceptionLines(const std::string& text);
// joinExceptionLines writes every line followed by CR LF (the last one too).
std::string joinExceptionLines(const std::vector<std::string>& lines);

class ExceptionFilter {
 public:
  explicit ExceptionFilter(FileSystem& fs) : fs_(fs) {}

  // isExcluded is true when path contains any line of either list (exact,
  // case-sensitive substring; an empty line matches every path).
  bool isExcluded(const std::string& path) const;

  // load replaces the lists from the files in syncFolder + "\_config"; it stops at
  // the first file that cannot be read and returns false then.
  [[nodiscard]] bool load(const std::string& syncFolder);
  // save creates _config (hidden + system) and writes both files (CR LF lines).
  [[nodiscard]] bool save(const std::string& syncFolder);

  std::vector<std::string> extensionExceptions{kDefaultExtensionExceptions.begin(),
                                               kDefaultExtensionExceptions.end()};
  std::vector<std::string> prefixExceptions{kDefaultPrefixExceptions.begin(), kDefaultPrefixExceptions.end()};

 private:
  FileSystem& fs_;
};

}  // namespace kq
