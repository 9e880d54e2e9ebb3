#include "sorted_listing.h"

#include <algorithm>
#include <numeric>

#include "planner.h"

namespace kqs {

namespace {

bool atOrUnder(std::string_view path, std::string_view folder) { return path == folder || isUnder(path, folder); }

// permute puts entries[order[k]] at position k, in place.
void permute(std::vector<ListingEntry>& entries, std::vector<std::size_t>& order) {
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (order[i] == i) continue;
    ListingEntry held = std::move(entries[i]);
    std::size_t j = i;
    while (order[j] != i) {
      std::size_t k = order[j];
      entries[j] = std::move(entries[k]);
      order[j] = j;
      j = k;
    }
    entries[j] = std::move(held);
    order[j] = j;
  }
}

}  // namespace

SortedListing::SortedListing(std::vector<ListingEntry> entries) : entries_(std::move(entries)) {
  std::erase_if(entries_, [](const ListingEntry& e) { return !isSyncedName(e.path); });
  sortKeepingLast();
}

void SortedListing::sortKeepingLast() {
  // Sorting positions (not entries) keeps the order of equal paths without a buffer of entries.
  std::vector<std::size_t> order(entries_.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
    int c = entries_[a].path.compare(entries_[b].path);
    return c != 0 ? c < 0 : a < b;
  });
  permute(entries_, order);
  std::vector<std::size_t>().swap(order);
  // Of a run of equal paths the last one stays.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (i + 1 < entries_.size() && entries_[i + 1].path == entries_[i].path) continue;
    if (kept != i) entries_[kept] = std::move(entries_[i]);
    ++kept;
  }
  entries_.resize(kept);
}

std::size_t SortedListing::lowerBound(std::string_view path) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), path,
                             [](const ListingEntry& e, std::string_view p) { return std::string_view(e.path) < p; });
  return static_cast<std::size_t>(it - entries_.begin());
}

std::size_t SortedListing::upperBound(std::string_view path) const {
  auto it = std::upper_bound(entries_.begin(), entries_.end(), path,
                             [](std::string_view p, const ListingEntry& e) { return p < std::string_view(e.path); });
  return static_cast<std::size_t>(it - entries_.begin());
}

const ListingEntry* SortedListing::find(std::string_view path) const {
  std::size_t i = lowerBound(path);
  return i < entries_.size() && entries_[i].path == path ? &entries_[i] : nullptr;
}

void SortedListing::relocate(const std::string& from, const std::string& to) {
  // Everything at or under from shares its prefix, so it lies in one range.
  std::vector<std::size_t> moving, dropped;
  for (std::size_t i = lowerBound(from); i < entries_.size() && entries_[i].path.starts_with(from); ++i) {
    if (!atOrUnder(entries_[i].path, from)) continue;
    auto* there = find(to + entries_[i].path.substr(from.size()));
    (there != nullptr && !atOrUnder(there->path, from) ? dropped : moving).push_back(i);
  }
  for (auto i : moving) entries_[i].path = to + entries_[i].path.substr(from.size());
  for (auto i : dropped) entries_[i].path.clear();
  std::erase_if(entries_, [](const ListingEntry& e) { return e.path.empty(); });
  std::sort(entries_.begin(), entries_.end(), [](const ListingEntry& a, const ListingEntry& b) { return a.path < b.path; });
}

}  // namespace kqs
