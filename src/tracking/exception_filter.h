#pragma once
// ExceptionFilter owns the two exception lists ("exstensions.dat" and
// "exceptions.dat" in the sync folder's _config folder) and isExcluded, a plain
// substring test over both lists. The exceptions editor edits these lists in
// place, so unsaved edits act on the filter at once.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "wire/system_names.h"

namespace kq {

class FileSystem;
class Log;

// kExceptionListMaxBytes bounds each list file: a longer one (planted or
// damaged) is never read whole.
inline constexpr std::size_t kExceptionListMaxBytes = 1024 * 1024;

// splitExceptionLines splits a list file: CR, LF or CR LF ends a line; a last
// line without an ending still counts, an empty text has no lines.
std::vector<std::string> splitExceptionLines(const std::string& text);
// joinExceptionLines writes every line followed by CR LF (the last one too).
std::string joinExceptionLines(const std::vector<std::string>& lines);

class ExceptionFilter {
 public:
  // log, when given, hears why a list was not read.
  explicit ExceptionFilter(FileSystem& fs, Log* log = nullptr) : fs_(fs), log_(log) {}

  // isExcluded is true when path contains any line of either list (exact,
  // case-sensitive substring; an empty line matches every path).
  bool isExcluded(const std::string& path) const;

  // load replaces the lists from the files in syncFolder + "\_config"; it stops at
  // the first file that cannot be read and returns false then. A file over
  // kExceptionListMaxBytes is not read: its list stays as it was, and the log
  // says "NAME is larger than 1048576 bytes; the list is not read: PATH".
  [[nodiscard]] bool load(const std::string& syncFolder);
  // save creates _config (hidden + system) and writes both files (CR LF lines).
  [[nodiscard]] bool save(const std::string& syncFolder);

  std::vector<std::string> extensionExceptions{kDefaultExtensionExceptions.begin(),
                                               kDefaultExtensionExceptions.end()};
  std::vector<std::string> prefixExceptions{kDefaultPrefixExceptions.begin(), kDefaultPrefixExceptions.end()};

 private:
  std::optional<std::string> readList(const std::string& path, const char* name);
  FileSystem& fs_;
  Log* log_;
};

}  // namespace kq
