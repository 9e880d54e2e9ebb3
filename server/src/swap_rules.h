#pragma once
// What a path calls for when the client and the store hold different kinds of
// item there: a file on one side, a folder on the other. The side that
// replaced its item wins; the item it replaces is kept (the store's as
// versions, the client's by its deletion policy). When both sides changed,
// both are kept: the store's file beside the client's folder, or the client's
// file beside the store's folder, under a conflict name.
#include "planner.h"
#include "sorted_listing.h"

namespace kqs::plan {

// planFileOverFolder: the client lists a file c where the store holds the folder s.
Action planFileOverFolder(const ListingEntry& c, const StoreEntry& s, const PlanInput& in);
// planFolderOverFile: the client lists a folder c where the store holds the file s.
// An entry with nothing listed inside may be a file the client could not read
// (listed, like a folder, without a size or date): it replaces nothing.
Action planFolderOverFile(const ListingEntry& c, const SortedListing& listing, const StoreEntry& s,
                          const PlanInput& in);
// planReportedFileOverFolder: the client reports a file r where the store holds the folder s.
// Without proof that the client held the folder, the listing of the cycle decides (a quiet Skip).
Action planReportedFileOverFolder(const ChangeReport& r, const StoreEntry& s, const PlanInput& in);

// replacesFolder is true for an action after which the path is a file on both
// sides: nothing below it is planned any more.
bool replacesFolder(const Action& a);

}  // namespace kqs::plan
