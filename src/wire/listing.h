#pragma once
// The folder listing (the JSON of ANLST): the client's text of its entries and
// the server's reading of it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wire/codepage.h"

namespace kq {

// ListedEntry is one listed item as the client writes it.
struct ListedEntry {
  std::string path;        // full local path text (sync folder included), code page
  std::uint64_t size = 0;  // 0 for a folder
  std::string mdate;       // "%Y-%m-%d", empty for a folder or an unreadable entry
  std::string mtime;       // "%H.%M.%S", empty likewise
};

// listingEntryText is the members of one entry: filepath (escapeJsonName),
// size, mdate and mtime, all as strings.
std::string listingEntryText(const ListedEntry& entry, const CodePage& page = activeCodePage());

// listingText wraps the entries' texts (joined by ",") into the listing that
// goes on the wire: {"content":[{...}]}, with the escaped sync folder removed
// wherever it stands, every "\" turned into "/" and the marks completed.
std::string listingText(std::string_view entries, std::string_view syncFolder,
                        const CodePage& page = activeCodePage());

// ListingEntry is the server's reading of one entry, in UTF-8.
struct ListingEntry {
  std::string path;        // normalized, UTF-8
  bool isDir = false;      // size 0 and no date: a folder (or an entry the client could not read)
  std::int64_t size = 0;
  std::int64_t mtime = 0;  // seconds since 1970, 0 when the client sent no date
};

struct ParsedListing {
  std::vector<ListingEntry> entries;
  int skipped = 0;               // unusable entries left out
  std::string firstProblem;      // the limit the first entry left out for a limit broke
  std::string firstProblemPath;  // that entry's path, UTF-8 as sent
};

// parseListing reads an ANLST body, the client's bytes in page: one object
// whose members filepath, size, mdate and mtime repeat once per entry. Entries
// with unusable paths or sizes are left out and counted. nullopt when the text
// is not JSON of that shape. The entries are built while the text is read.
std::optional<ParsedListing> parseListing(std::string_view json, const CodePage& page);

}  // namespace kq
