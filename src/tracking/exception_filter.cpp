#include "tracking/exception_filter.h"

#include <optional>

#include "platform/codepage.h"
#include "log/log.h"
#include "platform/file_system.h"

namespace kq {
namespace {

const char kExtensionsFile[] = "exstensions.dat";
const char kPrefixesFile[] = "exceptions.dat";

bool containsAny(const std::string& path, const std::vector<std::string>& fragments) {
  for (const auto& fragment : fragments)
    if (findCharacters(activeCodePage(), path, fragment) != std::string::npos) return true;
  return false;
}

std::string configFolder(const std::string& syncFolder) { return syncFolder + "\\_config"; }

}  // namespace

std::vector<std::string> splitExceptionLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

std::string joinExceptionLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

bool ExceptionFilter::isExcluded(const std::string& path) const {
  return containsAny(path, extensionExceptions) || containsAny(path, prefixExceptions);
}

bool ExceptionFilter::load(const std::string& syncFolder) {
  const std::string folder = configFolder(syncFolder) + "\\";
  auto extensions = readList(folder + kExtensionsFile, kExtensionsFile);
  if (!extensions) return false;
  extensionExceptions = splitExceptionLines(*extensions);
  auto prefixes = readList(folder + kPrefixesFile, kPrefixesFile);
  if (!prefixes) return false;
  prefixExceptions = splitExceptionLines(*prefixes);
  return true;
}

// readList reads a list file of at most kExceptionListMaxBytes; nullopt when it
// cannot be read or is longer (that is logged).
std::optional<std::string> ExceptionFilter::readList(const std::string& path, const char* name) {
  auto in = fs_.openRead(path);
  if (!in) return std::nullopt;
  std::string text;
  char buffer[65536];
  for (std::int64_t n; (n = in->read(buffer, sizeof buffer)) != 0;) {
    if (n < 0) return std::nullopt;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kExceptionListMaxBytes) {
      if (log_ != nullptr)
        log_->writeLog(std::string(name) + " is larger than " + std::to_string(kExceptionListMaxBytes) +
                           " bytes; the list is not read: " + path, true);
      return std::nullopt;
    }
  }
  return text;
}

bool ExceptionFilter::save(const std::string& syncFolder) {
  const std::string folder = configFolder(syncFolder);
  // A missing sync folder is not created anew for its settings.
  return fs_.isFolder(syncFolder) && fs_.createFolders(folder) && fs_.setAttributes(folder, true, true) &&
         fs_.writeText(folder + "\\" + kExtensionsFile, joinExceptionLines(extensionExceptions)) &&
         fs_.writeText(folder + "\\" + kPrefixesFile, joinExceptionLines(prefixExceptions));
}

}  // namespace kq
