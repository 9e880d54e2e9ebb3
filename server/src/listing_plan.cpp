#include "listing_plan.h"

#include <algorithm>

#include "listing_rules.h"
#include "plan_rules.h"
#include "swap_rules.h"

namespace kqs {

using namespace plan;

namespace {

std::map<std::string, std::int64_t> inStepOf(const std::vector<ListingEntry>& entries, const PlanInput& in) {
  std::map<std::string, std::int64_t> out;
  for (auto& c : entries) {
    if (auto version = inStepVersion(c, in)) out[c.path] = *version;
  }
  return out;
}

bool isFolderDeletion(const Action& a) {
  return (a.kind == ActionKind::DeleteOnClient || a.kind == ActionKind::DeleteInStore) && a.isDir;
}

// Live store entries at or under path: (entries, files).
std::pair<std::int64_t, std::int64_t> liveAtOrUnder(const std::string& path, const PlanInput& in) {
  std::int64_t entries = 0, files = 0;
  for (auto it = in.store.lower_bound(path); it != in.store.end(); ++it) {
    if (it->first != path && !isUnder(it->first, path)) {
      if (it->first.compare(0, path.size(), path) != 0) break;
      continue;
    }
    if (it->second.deleted) continue;
    ++entries;
    files += it->second.isDir ? 0 : 1;
  }
  return {entries, files};
}

std::int64_t liveSyncedFiles(const PlanInput& in) {
  std::int64_t n = 0;
  for (auto& [p, s] : in.store) n += !s.deleted && !s.isDir && isSyncedName(p) ? 1 : 0;
  return n;
}

}  // namespace

ListingPlan::ListingPlan(std::vector<ListingEntry> entries, const PlanInput& in, std::size_t batch)
    : in_(in), batch_(std::max<std::size_t>(batch, 1)), inStep_(inStepOf(entries, in)), listing_(std::move(entries)) {
  planMoves();
  // A listing without synchronised entries says nothing about what the client
  // removed (a sync folder that went missing is listed empty or with only the
  // client's own folders); absence counts only otherwise.
  listingComplete_ = !listing_.empty();
  survey();
}

void ListingPlan::planMoves() {
  for (auto& m : in_.moves) {
    if (std::find(in_.failedMoves.begin(), in_.failedMoves.end(), m.from) != in_.failedMoves.end()) continue;
    auto* from = listing_.find(m.from);
    auto* src = find(in_, m.from);
    auto* dst = find(in_, m.to);
    if (from == nullptr || !from->isDir || listing_.find(m.to) != nullptr) continue;
    if (src == nullptr || !src->deleted || dst == nullptr || dst->deleted || !dst->isDir) continue;
    if (!isSyncedName(m.to) || !clientNameRefusal(m.to).empty()) continue;
    Action a = make(ActionKind::MoveOnClient, m.from, true);
    a.target = m.to;
    moves_.push_back(a);
    listing_.relocate(m.from, m.to);
  }
}

// survey goes through the plan once: its length, the pushes, the entries gone
// from this listing only (kept for the next listing), and whether the
// mass-deletion guard holds the inferred deletions back. The guard counts the
// deletions this listing infers, the entries it lacks for the first time and
// the deletions inferred within the window before it; above
// kMaxInferredDeletions entries or half of the store's files it holds them.
// Notes at the end say what waits and what is held.
void ListingPlan::survey() {
  rewind();
  InferredCount inferred, awaiting;
  std::size_t handedOut = 0;
  for (Action a; nextOfPlan(a);) {
    bool deletion = isInferredDeletion(a);
    bool waits = isAwaitingNextListing(a);
    if (!waits) ++handedOut;
    if (a.kind == ActionKind::PushFile) {
      ++pushFiles_;
      pushBytes_ += in_.store.at(a.path).size;
    }
    if (!deletion && !waits) continue;
    auto [e, f] = liveAtOrUnder(a.path, in_);
    (deletion ? inferred : awaiting) += InferredCount{e, f};
    if (deletion) held_.push_back(a);
    if (waits) keepMissing(a.path);
  }
  rewind();
  InferredCount total = in_.recentInferred;
  total += inferred;
  total += awaiting;
  std::int64_t liveFiles = liveSyncedFiles(in_) + in_.recentInferred.files;
  size_ = handedOut;
  if (total.entries <= kMaxInferredDeletions && total.files * 2 <= liveFiles) {
    held_.clear();
    inferred_ = inferred;
  } else {
    notes_.push_back(skip("/", std::to_string(total.entries) + " entries (" + std::to_string(total.files) + " of " +
                                   std::to_string(liveFiles) + " files) are gone from the client's listings within " +
                                   std::to_string(kInferredWindowSeconds / 60) + " minutes; more than " +
                                   std::to_string(kMaxInferredDeletions) +
                                   " entries or half of the files, so nothing is deleted in the store"));
    size_ -= held_.size();
  }
  if (awaiting.entries > 0) {
    notes_.push_back(skip("/", std::to_string(awaiting.entries) + " entries (" + std::to_string(awaiting.files) +
                                   " files) are gone from the client's last listing; deleted in the store only if "
                                   "the next listing lacks them too"));
  }
  size_ += notes_.size();
}

// keepMissing keeps the versions the client was seen holding at and under
// path for the next listing's plan.
void ListingPlan::keepMissing(const std::string& path) {
  for (auto* seen : {&in_.listed, &in_.missing}) {
    for (auto it = seen->lower_bound(path); it != seen->end(); ++it) {
      if (it->first != path && !isUnder(it->first, path)) {
        if (it->first.compare(0, path.size(), path) != 0) break;
        continue;
      }
      missingNext_.insert(*it);
    }
  }
}

void ListingPlan::rewind() {
  moveAt_ = listAt_ = 0;
  storeAt_ = in_.store.begin();
  deletedFolder_.clear();
  refusedFolder_.clear();
  noteAt_ = 0;
}

std::vector<Action> ListingPlan::pushesOf(const std::function<bool(const std::string&)>& wanted) {
  rewind();
  std::vector<Action> out;
  for (Action a; nextAction(a);) {
    if (a.kind == ActionKind::PushFile && wanted(a.path)) out.push_back(std::move(a));
  }
  rewind();
  return out;
}

std::vector<Action> ListingPlan::next() {
  std::vector<Action> out;
  for (Action a; out.size() < batch_ && nextAction(a);) out.push_back(std::move(a));
  return out;
}

bool ListingPlan::nextAction(Action& out) {
  while (nextOfPlan(out)) {
    if (isAwaitingNextListing(out)) continue;
    if (!held_.empty() && isInferredDeletion(out)) continue;
    return true;
  }
  if (noteAt_ >= notes_.size()) return false;
  out = notes_[noteAt_++];
  return true;
}

// nextOfPlan: the folder moves, then one action per path.
bool ListingPlan::nextOfPlan(Action& out) {
  if (moveAt_ < moves_.size()) {
    out = moves_[moveAt_++];
    return true;
  }
  return nextOfPaths(out);
}

// nextOfPaths merges the sorted listing with the store's synchronised entries.
bool ListingPlan::nextOfPaths(Action& out) {
  for (;;) {
    while (storeAt_ != in_.store.end() && !isSyncedName(storeAt_->first)) ++storeAt_;
    const ListingEntry* c = listAt_ < listing_.size() ? &listing_[listAt_] : nullptr;
    const StoreEntry* s = storeAt_ != in_.store.end() ? &storeAt_->second : nullptr;
    if (c == nullptr && s == nullptr) return false;
    int order = c == nullptr ? 1 : s == nullptr ? -1 : c->path.compare(storeAt_->first);
    const std::string& path = order <= 0 ? c->path : storeAt_->first;
    if (order <= 0) ++listAt_;
    else c = nullptr;
    if (order >= 0) ++storeAt_;
    else s = nullptr;
    if (planPath(path, c, s, out)) return true;
  }
}

// planPath decides one path (listed as c, in the store as s); false when there is nothing to say.
bool ListingPlan::planPath(const std::string& path, const ListingEntry* c, const StoreEntry* s, Action& out) {
  if (!deletedFolder_.empty() && isUnder(path, deletedFolder_)) return false;
  if (!refusedFolder_.empty() && isUnder(path, refusedFolder_)) return false;
  if (auto why = clientNameRefusal(path); !why.empty()) {
    if (c == nullptr && (s == nullptr || s->deleted)) return false;
    out = failed(path, "cannot be synchronised with this client: " + why);
    if ((c != nullptr && c->isDir) || (s != nullptr && !s->deleted && s->isDir)) refusedFolder_ = path;
    return true;
  }
  Action a = c == nullptr ? planStoreOnly(*s, in_, listingComplete_)
             : c->isDir   ? planClientFolder(*c, listing_, in_)
                          : planClientFile(*c, in_);
  if (isFolderDeletion(a) || replacesFolder(a) || (a.isDir && isAwaitingNextListing(a))) deletedFolder_ = path;
  if (a.kind == ActionKind::Skip && a.note.empty()) return false;
  out = std::move(a);
  return true;
}

std::vector<Action> planListing(const std::vector<ListingEntry>& entries, const PlanInput& in) {
  ListingPlan plan(entries, in);
  std::vector<Action> out;
  out.reserve(plan.size());
  for (auto batch = plan.next(); !batch.empty(); batch = plan.next()) {
    for (auto& a : batch) out.push_back(std::move(a));
  }
  return out;
}

std::map<std::string, std::int64_t> listedInStep(const std::vector<ListingEntry>& entries, const PlanInput& in) {
  return inStepOf(entries, in);
}

}  // namespace kqs
