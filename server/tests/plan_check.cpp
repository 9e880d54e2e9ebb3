#include "plan_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "listing_plan.h"
#include "listing_rules.h"
#include "plan_rules.h"
#include "swap_rules.h"

namespace kqs::test {

namespace {

using Listing = std::map<std::string, ListingEntry>;

void relocate(Listing& listing, const std::string& from, const std::string& to) {
  Listing moved;
  for (auto it = listing.begin(); it != listing.end();) {
    if (it->first == from || isUnder(it->first, from)) {
      ListingEntry e = it->second;
      e.path = to + it->first.substr(from.size());
      moved[e.path] = e;
      it = listing.erase(it);
    } else {
      ++it;
    }
  }
  listing.insert(moved.begin(), moved.end());
}

void planMoves(Listing& listing, const PlanInput& in, std::vector<Action>& out) {
  for (auto& m : in.moves) {
    if (std::find(in.failedMoves.begin(), in.failedMoves.end(), m.from) != in.failedMoves.end()) continue;
    auto from = listing.find(m.from);
    auto* src = plan::find(in, m.from);
    auto* dst = plan::find(in, m.to);
    if (from == listing.end() || !from->second.isDir || listing.count(m.to) != 0) continue;
    if (src == nullptr || !src->deleted || dst == nullptr || dst->deleted || !dst->isDir) continue;
    if (!isSyncedName(m.to) || !clientNameRefusal(m.to).empty()) continue;
    Action a = plan::make(ActionKind::MoveOnClient, m.from, true);
    a.target = m.to;
    out.push_back(a);
    relocate(listing, m.from, m.to);
  }
}

InferredCount liveAt(const std::string& path, const PlanInput& in) {
  InferredCount n;
  for (auto& [p, s] : in.store) {
    if ((p == path || isUnder(p, path)) && !s.deleted) n += {1, s.isDir ? 0 : 1};
  }
  return n;
}

// guardMassDeletion: entries gone from this listing only wait for the next
// one; inferred deletions are held back when, with those and the window's,
// they exceed the guard.
void guardMassDeletion(std::vector<Action>& plan, const PlanInput& in) {
  std::int64_t liveFiles = in.recentInferred.files;
  for (auto& [p, s] : in.store) {
    if (!s.deleted && !s.isDir && isSyncedName(p)) ++liveFiles;
  }
  InferredCount total = in.recentInferred, awaiting;
  for (auto& a : plan) {
    if (plan::isInferredDeletion(a)) total += liveAt(a.path, in);
    if (plan::isAwaitingNextListing(a)) awaiting += liveAt(a.path, in);
  }
  total += awaiting;
  std::erase_if(plan, plan::isAwaitingNextListing);
  if (total.entries > kMaxInferredDeletions || total.files * 2 > liveFiles) {
    std::erase_if(plan, plan::isInferredDeletion);
    plan.push_back(plan::skip("/", std::to_string(total.entries) + " entries (" + std::to_string(total.files) +
                                       " of " + std::to_string(liveFiles) +
                                       " files) are gone from the client's listings within 5 minutes; more than " +
                                       std::to_string(kMaxInferredDeletions) +
                                       " entries or half of the files, so nothing is deleted in the store"));
  }
  if (awaiting.entries > 0) {
    plan.push_back(plan::skip("/", std::to_string(awaiting.entries) + " entries (" + std::to_string(awaiting.files) +
                                       " files) are gone from the client's last listing; deleted in the store only "
                                       "if the next listing lacks them too"));
  }
}

std::string describe(const Action& a) {
  return std::to_string(static_cast<int>(a.kind)) + " " + a.path + " -> " + a.target + (a.isDir ? " dir" : "") +
         " mode " + std::to_string(static_cast<int>(a.mode)) + " " + std::to_string(a.size) + " " +
         std::to_string(a.mtime) + " " + a.hash + " [" + a.note + "]" + (a.failed ? " failed" : "") +
         (a.replaces ? " replaces" : "");
}

std::vector<std::string> describeAll(const std::vector<Action>& actions) {
  std::vector<std::string> out;
  for (auto& a : actions) out.push_back(describe(a));
  return out;
}

// collect hands out every batch, checking each against the batch size.
std::vector<Action> collect(ListingPlan& plan, std::size_t batch) {
  std::vector<Action> out;
  for (auto b = plan.next(); !b.empty(); b = plan.next()) {
    EXPECT_LE(b.size(), batch);
    for (auto& a : b) out.push_back(a);
  }
  EXPECT_TRUE(plan.next().empty()) << "a plan once done stays done";
  return out;
}

}  // namespace

std::vector<Action> referencePlan(const std::vector<ListingEntry>& entries, const PlanInput& in) {
  Listing listing;
  for (auto& e : entries) {
    if (isSyncedName(e.path)) listing[e.path] = e;
  }
  std::vector<Action> out;
  planMoves(listing, in, out);
  std::vector<ListingEntry> values;
  for (auto& [p, e] : listing) values.push_back(e);
  SortedListing sorted(values);
  std::set<std::string> paths;
  for (auto& [p, e] : listing) paths.insert(p);
  for (auto& [p, s] : in.store) {
    if (isSyncedName(p)) paths.insert(p);
  }
  std::string deletedFolder, refusedFolder;
  for (auto& path : paths) {
    if (!deletedFolder.empty() && isUnder(path, deletedFolder)) continue;
    if (!refusedFolder.empty() && isUnder(path, refusedFolder)) continue;
    auto c = listing.find(path);
    auto* s = plan::find(in, path);
    if (auto why = clientNameRefusal(path); !why.empty()) {
      if (c == listing.end() && (s == nullptr || s->deleted)) continue;
      out.push_back(plan::failed(path, "cannot be synchronised with this client: " + why));
      if ((c != listing.end() && c->second.isDir) || (s != nullptr && !s->deleted && s->isDir)) refusedFolder = path;
      continue;
    }
    Action a;
    if (c == listing.end()) a = plan::planStoreOnly(*s, in, !listing.empty());
    else if (c->second.isDir) a = plan::planClientFolder(c->second, sorted, in);
    else a = plan::planClientFile(c->second, in);
    bool folderGoes = (a.kind == ActionKind::DeleteOnClient || a.kind == ActionKind::DeleteInStore ||
                       plan::isAwaitingNextListing(a)) &&
                      a.isDir;
    if (folderGoes || plan::replacesFolder(a)) deletedFolder = path;
    if (a.kind == ActionKind::Skip && a.note.empty()) continue;
    out.push_back(a);
  }
  guardMassDeletion(out, in);
  return out;
}

void expectSamePlanInBatches(const std::vector<ListingEntry>& listing, const PlanInput& in, const std::string& name) {
  SCOPED_TRACE(name);
  auto whole = describeAll(planListing(listing, in));
  ASSERT_EQ(whole, describeAll(referencePlan(listing, in)));
  std::int64_t files = 0, bytes = 0;
  for (auto& a : planListing(listing, in)) {
    if (a.kind != ActionKind::PushFile) continue;
    ++files;
    bytes += in.store.at(a.path).size;
  }
  for (std::size_t batch = 1; batch <= std::max<std::size_t>(whole.size(), 1); ++batch) {
    ListingPlan plan(listing, in, batch);
    EXPECT_EQ(plan.size(), whole.size()) << "batch " << batch;
    EXPECT_EQ(plan.filesToPush(), files) << "batch " << batch;
    EXPECT_EQ(plan.bytesToPush(), bytes) << "batch " << batch;
    EXPECT_EQ(plan.listedInStep(), listedInStep(listing, in)) << "batch " << batch;
    ASSERT_EQ(describeAll(collect(plan, batch)), whole) << "batch " << batch;
    plan.rewind();
    ASSERT_EQ(describeAll(collect(plan, batch)), whole) << "batch " << batch << " after a rewind";
  }
}

}  // namespace kqs::test
