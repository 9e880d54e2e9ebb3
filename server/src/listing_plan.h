#pragma once
// ListingPlan is the plan of one listing of the whole sync folder, handed out
// in batches so that a listing of many entries costs one copy of its entries
// and not one action each.
//
// Order: the folder moves first (in the order of the store's journal), then one
// action per path in path order (std::string order of the listing and the
// store merged; a folder before everything under it), then the notes: the
// mass-deletion guard's when it holds deletions back, and one for the entries
// gone from this listing only. planListing is every batch collected, in this
// order.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "planner.h"
#include "sorted_listing.h"

namespace kqs {

class ListingPlan {
 public:
  static constexpr std::size_t kDefaultBatch = 256;

  // Takes the parsed listing (sorted in place); in must outlive the plan.
  // Everything a cycle needs before its first action is known when this returns.
  ListingPlan(std::vector<ListingEntry> entries, const PlanInput& in, std::size_t batch = kDefaultBatch);

  // next hands out the following actions, at most the batch size; empty once the plan is done.
  std::vector<Action> next();
  // rewind starts the plan over: next hands out the same actions again.
  void rewind();
  // pushesOf is the plan's PushFile actions of the paths wanted says yes to:
  // one pass over the whole plan, which then starts over.
  std::vector<Action> pushesOf(const std::function<bool(const std::string&)>& wanted);

  std::size_t size() const { return size_; }               // actions in the whole plan
  std::int64_t filesToPush() const { return pushFiles_; }  // PushFile actions
  std::int64_t bytesToPush() const { return pushBytes_; }  // their sizes in the store
  // listedInStep: the entries of the listing that hold the store's current
  // version (path -> version), the "listed" input of the next cycle.
  const std::map<std::string, std::int64_t>& listedInStep() const { return inStep_; }
  std::map<std::string, std::int64_t> takeListedInStep() { return std::move(inStep_); }
  // heldDeletions: the inferred deletions the mass-deletion guard holds back
  // (empty when it holds nothing back).
  const std::vector<Action>& heldDeletions() const { return held_; }
  // inferred: the inferred deletions the plan hands out (none when held back).
  InferredCount inferred() const { return inferred_; }
  // missingNext: the entries gone from this listing only, at and under each
  // such path (path -> version the client was seen holding): the "missing"
  // input of the next listing's plan.
  const std::map<std::string, std::int64_t>& missingNext() const { return missingNext_; }

 private:
  void planMoves();
  void survey();
  void keepMissing(const std::string& path);
  bool nextAction(Action& out);
  bool nextOfPlan(Action& out);
  bool nextOfPaths(Action& out);
  bool planPath(const std::string& path, const ListingEntry* c, const StoreEntry* s, Action& out);

  const PlanInput& in_;
  std::size_t batch_;
  std::map<std::string, std::int64_t> inStep_;  // from the listing as it came, before it is sorted
  SortedListing listing_;
  std::vector<Action> moves_;
  bool listingComplete_ = false;
  std::vector<Action> notes_;        // handed out after the paths
  std::vector<Action> held_;         // the inferred deletions held back by the guard
  InferredCount inferred_;           // the inferred deletions handed out
  std::map<std::string, std::int64_t> missingNext_;

  std::size_t size_ = 0;
  std::int64_t pushFiles_ = 0;
  std::int64_t pushBytes_ = 0;

  // Where next() stands.
  std::size_t moveAt_ = 0;
  std::size_t listAt_ = 0;
  std::map<std::string, StoreEntry>::const_iterator storeAt_;
  std::string deletedFolder_;  // subtree removed on the client or in the store by this plan
  std::string refusedFolder_;  // subtree under a name the client cannot hold
  std::size_t noteAt_ = 0;
};

}  // namespace kqs
