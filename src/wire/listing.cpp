#include "wire/listing.h"

#include "wire/client_text.h"
#include "wire/packet.h"
#include "wire/path_limits.h"
#include "wire/scalar_sax.h"

namespace kq {

namespace {

// ListingSax builds the listing's entries while the text is read: the members
// filepath, size, mdate and mtime below the content array, in document order,
// so repeated keys in one object are all kept.
struct ListingSax : ScalarSax {
  struct Raw {
    std::string path, size, mdate, mtime;
    bool open = false;
  };
  explicit ListingSax(const CodePage& page) : page(page) {}
  const CodePage& page;
  ParsedListing out;
  Raw raw;
  std::string key_;
  int depth = 0;
  bool sawContent = false;

  bool start_object(std::size_t) override { ++depth; return true; }
  bool end_object() override { --depth; return true; }
  bool start_array(std::size_t) override { ++depth; return true; }
  bool end_array() override { --depth; return true; }
  bool key(string_t& k) override {
    if (depth == 1 && k == "content") sawContent = true;
    key_ = std::move(k);
    return true;
  }
  bool scalar(std::string v) override {
    if (depth < 3) return true;
    if (key_ == "filepath") {
      flush();
      raw.open = true;
      raw.path = std::move(v);
    } else if (key_ == "size") {
      raw.size = std::move(v);
    } else if (key_ == "mdate") {
      raw.mdate = std::move(v);
    } else if (key_ == "mtime") {
      raw.mtime = std::move(v);
    }
    return true;
  }
  void flush() {
    if (!raw.open) return;
    std::string utf8 = collapseSlashes(clientTextToUtf8(raw.path, page));
    auto path = normalizeClientPath(utf8);
    std::int64_t size = 0;
    if (!path || (!raw.size.empty() && !parseInt64(raw.size, size)) || size < 0) {
      leaveOut(utf8);
    } else {
      ListingEntry e{std::move(*path), false, size, localStamp(raw.mdate, raw.mtime)};
      e.isDir = size == 0 && raw.mdate.empty();
      out.entries.push_back(std::move(e));
    }
    raw = Raw{};
  }
  void leaveOut(const std::string& utf8) {
    ++out.skipped;
    if (!out.firstProblem.empty()) return;
    out.firstProblem = pathLimitProblem(utf8);
    if (!out.firstProblem.empty()) out.firstProblemPath = utf8;
  }
};

}  // namespace

std::string listingEntryText(const ListedEntry& entry, const CodePage& page) {
  return "\"filepath\":\"" + escapeJsonName(entry.path, page) + "\",\"size\":\"" + std::to_string(entry.size) +
         "\",\"mdate\":\"" + entry.mdate + "\",\"mtime\":\"" + entry.mtime + "\"";
}

std::string listingText(std::string_view entries, std::string_view syncFolder, const CodePage& page) {
  std::string text = "{\"content\":[{" + std::string(entries) + "}]}";
  text = replaceAll(text, escapeJsonName(syncFolder, page), "");
  text = replaceAll(text, "\\", "/");
  return completeEscapes(text);
}

std::optional<ParsedListing> parseListing(std::string_view json, const CodePage& page) {
  ListingSax sax(page);
  // One entry per "filepath": reserving them spares the copies of a growing vector.
  std::size_t entries = 0;
  for (auto at = json.find("\"filepath\""); at != std::string_view::npos; at = json.find("\"filepath\"", at + 1)) {
    ++entries;
  }
  sax.out.entries.reserve(entries);
  if (!nlohmann::json::sax_parse(json, &sax) || !sax.sawContent) return std::nullopt;
  sax.flush();
  return std::move(sax.out);
}

}  // namespace kq
