#pragma once
// What one path of a listing of the whole sync folder calls for: the client's
// file or folder against the store's entry, or a store entry the listing lacks.
#include <cstdint>
#include <optional>
#include <string>

#include "planner.h"
#include "sorted_listing.h"

namespace kqs::plan {

Action planClientFile(const ListingEntry& c, const PlanInput& in);
// planClientFolder looks into the listing below the folder when the store deleted it.
Action planClientFolder(const ListingEntry& c, const SortedListing& listing, const PlanInput& in);
// planStoreOnly: the listing lacks s; listingComplete is false for a listing
// without synchronised entries, whose absences tell nothing.
Action planStoreOnly(const StoreEntry& s, const PlanInput& in, bool listingComplete);

// isInferredDeletion is true for a deletion in the store that only the
// absence from two listings in a row tells.
bool isInferredDeletion(const Action& a);
// isAwaitingNextListing is true for the Skip of an entry gone from this
// listing only: neither deleted nor pushed back until the next listing.
bool isAwaitingNextListing(const Action& a);

// inStepVersion is the store version that the listed entry c holds; none when
// it does not hold the store's current version.
std::optional<std::int64_t> inStepVersion(const ListingEntry& c, const PlanInput& in);

}  // namespace kqs::plan
