#pragma once
// The change report (the JSON of ANCHG): the client's text of one change and
// the server's reading of it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "wire/codepage.h"

namespace kq {

// ChangeRecord is what one report describes, in the client's local text.
struct ChangeRecord {
  std::string filepath;    // server form in the code page ("/sub/a.txt", "/sub/" for a folder)
  std::int64_t size = 0;   // -1: not an existing regular file
  std::string changetype;  // "RENAMED", "MODIFIED", "DELETED" or empty
  std::string newname;     // renames only
};

// changeReportJson is the report text before its non-ASCII bytes are escaped.
std::string changeReportJson(const std::string& date, const std::string& time, const ChangeRecord& change);

// encodeChangeReport is the JSON that goes on the wire: filepath and newname
// escaped with escapeJsonName, the rest with escapeNonAscii, the marks completed.
std::string encodeChangeReport(const std::string& date, const std::string& time, ChangeRecord change,
                               const CodePage& page = activeCodePage());

// ReportedChange is the server's reading of a report, in UTF-8.
struct ReportedChange {
  std::string changetype;  // "MODIFIED", "DELETED", "RENAMED" or empty
  std::string path;        // normalized UTF-8; empty for the empty change
  bool folder = false;     // the report's path ended in "/"
  std::string newname;     // UTF-8, renames only
  std::int64_t size = 0;   // -1 when the client found no regular file
};

// parseChangeReport reads an ANCHG body (without building a document of it),
// the client's bytes in page; nullopt when it is not usable. A report whose
// path or new name breaks a path limit is not to be carried out: with refusal
// given, it comes back with the path as sent and *refusal says which limit
// (pathLimitProblem); without, it is nullopt.
std::optional<ReportedChange> parseChangeReport(std::string_view json, const CodePage& page,
                                                std::string* refusal = nullptr);

}  // namespace kq
