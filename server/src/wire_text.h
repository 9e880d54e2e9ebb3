#pragma once
// Text on the client link: client JSON carries Windows-1252 bytes as \u00XX
// escapes, server JSON carries "/" as "\/" and non-ASCII as \uXXXX of the code
// point; listings and change reports are parsed tolerantly.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/codepage.h"

namespace kqs {

// clientCodePage is the code page of the clients' bytes (Windows-1252 unless
// set); setClientCodePage replaces it (null: Windows-1252). Set once at start-up.
const kq::CodePage& clientCodePage();
void setClientCodePage(std::unique_ptr<kq::CodePage> page);

// clientTextToUtf8 turns a decoded client JSON string into UTF-8: code points up
// to U+00FF stand for bytes of the client's code page (a double-byte character
// arrives as two of them), larger ones for themselves (a client sending full
// Unicode names).
std::string clientTextToUtf8(std::string_view decoded, const kq::CodePage& page = clientCodePage());

// collapseSlashes turns every run of "/" into one. A listing of the folder /docs
// names its entries //docs/report.pdf; both that form and /docs/report.pdf are read.
std::string collapseSlashes(std::string_view path);

// jsonString writes a UTF-8 text as a quoted JSON string for the client: "/" as
// "\/", non-ASCII as \uXXXX of the code point, quotes, backslashes and control
// characters escaped.
std::string jsonString(std::string_view utf8);

// requestBody builds a flat JSON object from (name, UTF-8 value) pairs.
std::string requestBody(const std::vector<std::pair<std::string, std::string>>& members);

// normalizeClientPath checks a server path from the client ("/a/b", a trailing
// "/" allowed) and returns it without trailing "/"; nullopt when it is empty,
// relative, or holds "..", "." or empty segments, backslashes or control bytes,
// or breaks a limit of pathLimitProblem.
std::optional<std::string> normalizeClientPath(std::string_view path);

// The limits of a path taken from a client (in characters of its UTF-8 text).
constexpr std::size_t kMaxPathCharacters = 32767;
constexpr std::size_t kMaxNameCharacters = 255;
constexpr std::size_t kMaxPathDepth = 256;

// pathLimitProblem says which limit a UTF-8 path breaks ("" when none): more
// than kMaxPathCharacters in all, a name of more than kMaxNameCharacters, or
// more than kMaxPathDepth names. Linear in the length of the path.
std::string pathLimitProblem(std::string_view utf8Path);

// isSendablePath is false for names the client cannot store as they are: a
// character outside the clients' code page (unless they hold Unicode names), a
// quote, a backslash or a control character.
bool isSendablePath(std::string_view utf8Path);
// setUnicodeNames tells that the clients run with full Unicode names: every
// character can be sent. Set once at start-up.
void setUnicodeNames(bool on);

// isSystemPath is true under the client's own _log, _config and _trash folders.
bool isSystemPath(std::string_view path);
// isExcludedName is true for temporary names: ".tmp", ".TMP" or "~" anywhere.
bool isExcludedName(std::string_view path);

// parentOf is the folder part of "/a/b" ("/a"; "" for a top-level name).
std::string parentOf(std::string_view path);
// lastNameOf is the last segment of "/a/b" ("b").
std::string lastNameOf(std::string_view path);
// isUnder is true when path lies strictly below folder.
bool isUnder(std::string_view path, std::string_view folder);

struct ListingEntry {
  std::string path;      // normalized, UTF-8
  bool isDir = false;    // size 0 and no date: a folder (or an entry the client could not read)
  std::int64_t size = 0;
  std::int64_t mtime = 0;  // seconds since 1970, 0 when the client sent no date
};

// parseListing reads an ANLST body: one object whose members filepath, size,
// mdate and mtime repeat once per entry. Unusable paths are left out and
// counted in skipped; the first path left out for breaking a path limit is
// described in firstRefusal ("path too deep (...): /a/a/...", escaped and cut
// for the log). nullopt when the text is not JSON of that shape. The entries
// are built while the text is read (no copy of its members is kept).
std::optional<std::vector<ListingEntry>> parseListing(std::string_view json, int* skipped = nullptr,
                                                      std::string* firstRefusal = nullptr);

struct ChangeReport {
  std::string changetype;   // "MODIFIED", "DELETED", "RENAMED" or empty
  std::string path;         // normalized UTF-8; empty for the empty change
  bool folder = false;      // the report's path ended in "/"
  std::string newname;      // UTF-8, renames only
  std::int64_t size = 0;    // -1 when the client found no regular file
};

// parseChangeReport reads an ANCHG body (without building a document of it);
// nullopt when it is not usable. A report whose path or new name breaks a
// path limit is not to be carried out: with refusal given, it comes back with
// the path as sent and *refusal says which limit; without, it is nullopt.
std::optional<ChangeReport> parseChangeReport(std::string_view json, std::string* refusal = nullptr);

// localStamp converts "%Y-%m-%d" and "%H.%M.%S" (local time) to seconds since
// 1970; 0 when either is empty or malformed.
std::int64_t localStamp(std::string_view date, std::string_view time);
// formatLocal writes seconds since 1970 in local time with a strftime format.
std::string formatLocal(std::int64_t seconds, const char* format);

}  // namespace kqs
