#include "wire_text.h"

#include <atomic>
#include <ctime>

#include "log_text.h"
#include "wire/json_string.h"
#include "wire/system_names.h"

namespace kqs {

namespace {
std::atomic<bool> gUnicodeNames{false};
std::unique_ptr<kq::CodePage> gClientPage;
}  // namespace

const kq::CodePage& clientCodePage() { return gClientPage ? *gClientPage : kq::windows1252(); }

void setClientCodePage(std::unique_ptr<kq::CodePage> page) { gClientPage = std::move(page); }

std::string clientTextToUtf8(std::string_view decoded) { return kq::clientTextToUtf8(decoded, clientCodePage()); }

std::string jsonString(std::string_view utf8) { return kq::writeJsonString(utf8); }

std::string requestBody(const std::vector<std::pair<std::string, std::string>>& members) {
  std::string out = "{";
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i > 0) out += ",";
    out += jsonString(members[i].first) + ":" + jsonString(members[i].second);
  }
  return out + "}";
}

void setUnicodeNames(bool on) { gUnicodeNames = on; }

bool isSendablePath(std::string_view utf8Path) {
  std::size_t pos = 0;
  while (pos < utf8Path.size()) {
    auto cp = kq::decodeUtf8(utf8Path, pos);
    if (!cp || *cp < 0x20 || *cp == '"' || *cp == '\\') return false;
    if (*cp >= 0x80 && !gUnicodeNames && !clientCodePage().fromUnicode(std::u32string(1, *cp))) return false;
  }
  return true;
}

bool isSystemPath(std::string_view path) {
  return !path.empty() && path[0] == '/' && kq::isInSystemFolder(path.substr(1), '/');
}

bool isExcludedName(std::string_view path) { return kq::hasDefaultExclusion(path); }

std::string parentOf(std::string_view path) {
  auto slash = path.rfind('/');
  return slash == std::string_view::npos || slash == 0 ? std::string() : std::string(path.substr(0, slash));
}

std::string lastNameOf(std::string_view path) {
  auto slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool isUnder(std::string_view path, std::string_view folder) {
  return path.size() > folder.size() + 1 && path.substr(0, folder.size()) == folder && path[folder.size()] == '/';
}

std::optional<std::vector<ListingEntry>> parseListing(std::string_view json, int* skipped,
                                                      std::string* firstRefusal) {
  auto parsed = kq::parseListing(json, clientCodePage());
  if (!parsed) return std::nullopt;
  if (skipped != nullptr) *skipped = parsed->skipped;
  if (firstRefusal != nullptr) {
    *firstRefusal = parsed->firstProblem.empty() ? std::string()
                                                 : parsed->firstProblem + ": " + logValue(parsed->firstProblemPath);
  }
  return std::move(parsed->entries);
}

std::optional<ChangeReport> parseChangeReport(std::string_view json, std::string* refusal) {
  return kq::parseChangeReport(json, clientCodePage(), refusal);
}

std::string formatLocal(std::int64_t seconds, const char* format) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[80];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

}  // namespace kqs
