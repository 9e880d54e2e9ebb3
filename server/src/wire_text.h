#pragma once
// Text on the client link as kqsyncd uses it: the shared wire rules
// (wire/*.h) bound to the clients' code page that the server is started with,
// and the path helpers of the store.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "wire/change_report.h"
#include "wire/client_text.h"
#include "wire/codepage.h"
#include "wire/listing.h"
#include "wire/path_limits.h"

namespace kqs {

// clientCodePage is the code page of the clients' bytes (Windows-1252 unless
// set); setClientCodePage replaces it (null: Windows-1252). Set once at start-up.
const kq::CodePage& clientCodePage();
void setClientCodePage(std::unique_ptr<kq::CodePage> page);

// clientTextToUtf8 turns a decoded client JSON string into UTF-8 (see
// wire/client_text.h), with the clients' code page unless given.
using kq::clientTextToUtf8;
std::string clientTextToUtf8(std::string_view decoded);

using kq::collapseSlashes;
using kq::localStamp;
using kq::normalizeClientPath;
using kq::pathLimitProblem;

// jsonString writes a UTF-8 text as a quoted JSON string for the client
// (kq::writeJsonString): "/" as "\/", non-ASCII as \uXXXX of the code point.
std::string jsonString(std::string_view utf8);

// requestBody builds a flat JSON object from (name, UTF-8 value) pairs.
std::string requestBody(const std::vector<std::pair<std::string, std::string>>& members);

// isSendablePath is false for names the client cannot store as they are: a
// character outside the clients' code page (unless they hold Unicode names), a
// quote, a backslash or a control character.
bool isSendablePath(std::string_view utf8Path);
// setUnicodeNames tells that the clients run with full Unicode names: every
// character can be sent. Set once at start-up.
void setUnicodeNames(bool on);

// isSystemPath is true under the client's own _log, _config and _trash folders.
bool isSystemPath(std::string_view path);
// isExcludedName is true for names of the clients' default exception lists
// (".tmp", ".TMP" or "~" anywhere).
bool isExcludedName(std::string_view path);

// parentOf is the folder part of "/a/b" ("/a"; "" for a top-level name).
std::string parentOf(std::string_view path);
// lastNameOf is the last segment of "/a/b" ("b").
std::string lastNameOf(std::string_view path);
// isUnder is true when path lies strictly below folder.
bool isUnder(std::string_view path, std::string_view folder);

using ListingEntry = kq::ListingEntry;

// parseListing reads an ANLST body in the clients' code page (kq::parseListing).
// Unusable paths are left out and counted in skipped; the first path left out
// for breaking a path limit is described in firstRefusal ("path too deep
// (...): /a/a/...", escaped and cut for the log). nullopt when the text is not
// JSON of that shape.
std::optional<std::vector<ListingEntry>> parseListing(std::string_view json, int* skipped = nullptr,
                                                      std::string* firstRefusal = nullptr);

using ChangeReport = kq::ReportedChange;

// parseChangeReport reads an ANCHG body in the clients' code page
// (kq::parseChangeReport).
std::optional<ChangeReport> parseChangeReport(std::string_view json, std::string* refusal = nullptr);

// formatLocal writes seconds since 1970 in local time with a strftime format.
std::string formatLocal(std::int64_t seconds, const char* format);

}  // namespace kqs
