#pragma once
// Checks shared by the planner's tests: a listing's plan handed out in batches
// of every size is the plan of the whole listing, and both are the plan that
// the straightforward planner (the listing as a map, every path in a set,
// every action kept) makes.
#include <vector>

#include "planner.h"

namespace kqs::test {

// referencePlan plans a listing the straightforward way.
std::vector<Action> referencePlan(const std::vector<ListingEntry>& listing, const PlanInput& in);

// expectSamePlanInBatches checks planListing against referencePlan, and
// ListingPlan for every batch size from 1 to the plan's length (and after a
// rewind) against planListing, with its figures. name tells the case.
void expectSamePlanInBatches(const std::vector<ListingEntry>& listing, const PlanInput& in, const std::string& name);

}  // namespace kqs::test
