#include "listing_rules.h"

#include "plan_rules.h"
#include "swap_rules.h"

namespace kqs::plan {

namespace {

constexpr const char* kKeptByClient = "kept by the client after its deletion was ordered";
constexpr const char* kInferred = "gone from the client's listing";
constexpr const char* kGoneOnce = "gone from the client's last listing; deleted once the next one lacks it too";

// heldDeletedContent: the client's copy is the content the store deleted, as
// the server last saw it: a recorded copy of that content, or the version this
// connection left in step with the client, at its size. Its time says nothing
// then: it is the client's clock, not the server's.
bool heldDeletedContent(const ListingEntry& c, const StoreEntry& s, const PlanInput& in) {
  if (auto* k = knownCopy(in, c)) return k->hash == s.hash;
  auto* base = sessionVersion(in, c.path);
  return base != nullptr && *base == s.version && c.size == s.size;
}

// editedAfterDeletion: the client's copy of a file the store deleted is newer
// than the deletion and not the deleted content itself.
bool editedAfterDeletion(const ListingEntry& c, const StoreEntry& s, const PlanInput& in) {
  return s.deletedAt < c.mtime && !heldDeletedContent(c, s, in);
}

// needsFetch is true for a client file that the store lacks or deleted before
// the client last changed it.
bool needsFetch(const ListingEntry& c, const PlanInput& in) {
  if (c.isDir) return false;
  auto* s = find(in, c.path);
  return s == nullptr || (s->deleted && (s->isDir || editedAfterDeletion(c, *s, in)));
}

bool heldAt(const std::map<std::string, std::int64_t>& seen, const StoreEntry& s) {
  auto it = seen.find(s.path);
  return !s.deleted && it != seen.end() && it->second == s.version;
}

// Absence is what a listing tells of an entry it lacks.
enum class Absence {
  Unknown,    // the client never held this version: it lacks it
  GoneOnce,   // the last listing showed the client holding it
  GoneTwice,  // the last listing lacked it too
};

// absenceOf: how long the client's listings have lacked s (a folder: with
// everything live in it). An entry gone from one listing only may be a
// removal seen half done (an rm -r under way); it is deleted in the store
// once the next listing lacks it too.
Absence absenceOf(const StoreEntry& s, const PlanInput& in) {
  bool once = false;
  auto look = [&](const StoreEntry& e) {
    if (heldAt(in.missing, e)) return true;
    if (!heldAt(in.listed, e)) return false;
    once = true;
    return true;
  };
  if (!look(s)) return Absence::Unknown;
  if (s.isDir) {
    for (auto it = in.store.upper_bound(s.path); it != in.store.end(); ++it) {
      if (it->first.compare(0, s.path.size(), s.path) != 0) break;
      if (!isUnder(it->first, s.path) || it->second.deleted) continue;
      if (!look(it->second)) return Absence::Unknown;
    }
  }
  return once ? Absence::GoneOnce : Absence::GoneTwice;
}

}  // namespace

const KnownCopy* knownCopy(const PlanInput& in, const ListingEntry& c) {
  auto it = in.known.find(c.path);
  if (it == in.known.end()) return nullptr;
  for (auto& k : it->second) {
    if (k.size == c.size && k.mtime == c.mtime) return &k;
  }
  return nullptr;
}

bool subtreeNeedsFetch(const SortedListing& listing, const std::string& folder, const PlanInput& in) {
  for (auto i = listing.upperBound(folder); i < listing.size(); ++i) {
    const ListingEntry& e = listing[i];
    if (!isUnder(e.path, folder)) {
      if (e.path.compare(0, folder.size(), folder) != 0) break;
      continue;
    }
    if (needsFetch(e, in)) return true;
  }
  return false;
}

bool holdsFetchedCopy(const ListingEntry& c, const StoreEntry& s, const PlanInput& in) {
  auto it = in.fetched.find(c.path);
  if (it == in.fetched.end()) return false;
  const FetchedCopy& f = it->second;
  return f.version == s.version && c.size == f.size && c.mtime <= f.endedAt + kPushSlackSeconds;
}

bool holdsLastPush(const ListingEntry& c, const PlanInput& in) {
  auto it = in.pushes.find(c.path);
  if (it == in.pushes.end() || !it->second.complete) return false;
  const PushAttempt& p = it->second;
  return c.size == p.size && c.mtime >= p.startedAt - kPushSlackSeconds && c.mtime <= p.endedAt;
}

Action planClientFile(const ListingEntry& c, const PlanInput& in) {
  auto* s = find(in, c.path);
  Action fetch = make(ActionKind::Fetch, c.path);
  fetch.size = c.size;
  fetch.mtime = c.mtime;
  if (s == nullptr) return fetch;
  if (s->isDir && !s->deleted) return planFileOverFolder(c, *s, in);
  // A deleted folder says nothing of a file that took its name.
  if (s->deleted && s->isDir) return fetch;
  if (s->deleted) {
    if (editedAfterDeletion(c, *s, in)) return fetch;
    if (deletionOrderedFor(*s, in)) return skip(c.path, kKeptByClient);
    return make(ActionKind::DeleteOnClient, c.path);
  }
  Action known = make(ActionKind::RecordKnown, c.path);
  known.size = c.size;
  known.mtime = c.mtime;
  known.hash = s->hash;
  if (auto* k = knownCopy(in, c)) {
    if (k->hash == s->hash) return skip(c.path, "");
    return push(c.path, false, in);
  }
  auto* base = sessionVersion(in, c.path);
  // The same size and time only tell that the client holds the store's file
  // when this connection has not given it another version: a copy pushed in
  // the same second as a later store edit has that edit's time by chance.
  bool sameFile = base != nullptr ? *base == s->version : c.mtime == s->mtime;
  if (c.size == s->size && sameFile) return known;
  if (base == nullptr && holdsFetchedCopy(c, *s, in)) return known;
  if (base != nullptr && *base != s->version && holdsLastPush(c, in)) return push(c.path, false, in);
  if (explainedByPush(c.path, c.size, c.mtime, in)) return push(c.path, false, in);
  // The client's copy replaces the store's when the client is known to have
  // held the store's current content (this connection left it in step, or a
  // copy of it is on record from before a restart); otherwise both changed.
  fetch.mode = clientHeld(in, c.path, *s) ? FetchMode::ClientChanged : FetchMode::Merge;
  return fetch;
}

Action planClientFolder(const ListingEntry& c, const SortedListing& listing, const PlanInput& in) {
  auto* s = find(in, c.path);
  if (s == nullptr) return make(ActionKind::CreateStoreFolder, c.path, true);
  if (!s->deleted) return s->isDir ? skip(c.path, "") : planFolderOverFile(c, listing, *s, in);
  // A deleted file says nothing of a folder that took its name.
  if (!s->isDir) return make(ActionKind::CreateStoreFolder, c.path, true);
  if (subtreeNeedsFetch(listing, c.path, in)) return make(ActionKind::CreateStoreFolder, c.path, true);
  if (deletionOrderedFor(*s, in)) return skip(c.path, kKeptByClient);
  return make(ActionKind::DeleteOnClient, c.path, true);
}

Action planStoreOnly(const StoreEntry& s, const PlanInput& in, bool listingComplete) {
  if (s.deleted) return skip(s.path, "");
  Absence absence = listingComplete ? absenceOf(s, in) : Absence::Unknown;
  if (absence == Absence::Unknown) return push(s.path, s.isDir, in);
  Action a = make(absence == Absence::GoneTwice ? ActionKind::DeleteInStore : ActionKind::Skip, s.path, s.isDir);
  a.note = absence == Absence::GoneTwice ? kInferred : kGoneOnce;
  return a;
}

bool isInferredDeletion(const Action& a) { return a.kind == ActionKind::DeleteInStore && a.note == kInferred; }

bool isAwaitingNextListing(const Action& a) { return a.kind == ActionKind::Skip && a.note == kGoneOnce; }

std::optional<std::int64_t> inStepVersion(const ListingEntry& c, const PlanInput& in) {
  auto* s = isSyncedName(c.path) ? find(in, c.path) : nullptr;
  if (s == nullptr || s->deleted || s->isDir != c.isDir) return std::nullopt;
  Action a = c.isDir ? skip(c.path, "") : planClientFile(c, in);
  bool inStep = a.kind == ActionKind::RecordKnown || (a.kind == ActionKind::Skip && a.note.empty());
  if (!inStep) return std::nullopt;
  return s->version;
}

}  // namespace kqs::plan
