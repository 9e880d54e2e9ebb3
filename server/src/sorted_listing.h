#pragma once
// SortedListing holds the synchronised entries of one listing sorted by path,
// in the vector they were parsed into: no second copy of the listing, lookups
// by binary search.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "wire_text.h"

namespace kqs {

class SortedListing {
 public:
  // Takes the parsed entries, drops the names that are never synchronised and
  // sorts the rest by path; of entries with the same path the last one counts.
  explicit SortedListing(std::vector<ListingEntry> entries);

  const std::vector<ListingEntry>& entries() const { return entries_; }
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const ListingEntry& operator[](std::size_t i) const { return entries_[i]; }

  // find is the entry at path (null: not listed).
  const ListingEntry* find(std::string_view path) const;
  // upperBound is the position of the first entry after path.
  std::size_t upperBound(std::string_view path) const;

  // relocate gives from and everything under it the place under to that a
  // folder move gives it; where the rest of the listing already holds that
  // place, the entry there stays and the moved one is dropped.
  void relocate(const std::string& from, const std::string& to);

 private:
  std::size_t lowerBound(std::string_view path) const;
  void sortKeepingLast();

  std::vector<ListingEntry> entries_;
};

}  // namespace kqs
